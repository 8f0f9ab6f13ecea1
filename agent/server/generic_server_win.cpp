#include "agent/server/generic_server_win.h"

#include <process.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

namespace {

// The lines of a thread that meets an exception: the thread goes on (accept,
// helper) or ends its connection alone (client); the process never ends.
const char kOutOfMemoryMessage[] = "Out of memory, connection ended";
const char kConnectionExceptionMessage[] = "Unexpected exception, connection ended";
const char kThreadExceptionMessage[] = "Unexpected exception";

// Outcome of one attempt to send the rest of an answer.
enum class SendOutcome { Sent, WouldBlock, Failed };

class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CRITICAL_SECTION& section) : m_section(section)
    {
        EnterCriticalSection(&m_section);
    }
    ~CriticalSectionLock() { LeaveCriticalSection(&m_section); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CRITICAL_SECTION& m_section;
};

}  // namespace

CGenericServer::CGenericServer() = default;

CGenericServer::~CGenericServer()
{
    Stop();
    if (m_locksReady) {
        DeleteCriticalSection(&m_clientLock);
        DeleteCriticalSection(&m_finishedLock);
        DeleteCriticalSection(&m_listenerLock);
    }
}

int CGenericServer::Run(int port, int idleTimeoutMs)
{
    m_port = port;
    m_idleTimeoutMs = idleTimeoutMs;
    if (!m_locksReady) {
        InitializeCriticalSection(&m_clientLock);
        InitializeCriticalSection(&m_finishedLock);
        InitializeCriticalSection(&m_listenerLock);
        m_locksReady = true;
    }
    m_takingWork = true;

    m_startEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!m_startEvent) return 0;

    m_acceptThread = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, &AcceptThread, this, 0, &m_acceptThreadId));
    if (!m_acceptThread) {
        LogMessage("_beginthreadex(...) failure, for Launch Thread", "Run", errno);
        CloseHandle(m_startEvent);
        m_startEvent = nullptr;
        return 0;
    }

    // The accept thread signals once it listens; when it ends before that (port
    // taken, Winsock missing) its own log line says why and Run gives up at
    // once, with the same line as after the whole wait.
    HANDLE acceptWait[2] = {m_startEvent, m_acceptThread};
    DWORD waited = WaitForMultipleObjects(2, acceptWait, FALSE, kStartWaitMs);
    if (waited != WAIT_OBJECT_0) {
        LogMessage("Unable to get response from Accept Thread withing specified Timeout ->", "Run",
                   static_cast<int>(kStartWaitMs));
        CloseHandle(m_startEvent);
        m_startEvent = nullptr;
        return 0;
    }

    ResetEvent(m_startEvent);
    m_helperThread = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, &HelperThread, this, 0, &m_helperThreadId));
    if (!m_helperThread) {
        LogMessage("_beginthreadex(...) failure, for Helper Thread", "Run", errno);
        CloseHandle(m_startEvent);
        m_startEvent = nullptr;
        return 0;
    }
    if (WaitForSingleObject(m_startEvent, kStartWaitMs) != WAIT_OBJECT_0) {
        LogMessage("Unable to get response from Helper Thread within specified Timeout ->", "Run",
                   static_cast<int>(kStartWaitMs));
        CloseHandle(m_startEvent);
        m_startEvent = nullptr;
        return 0;
    }

    CloseHandle(m_startEvent);
    m_startEvent = nullptr;
    m_running = 1;
    return 1;
}

void CGenericServer::Stop()
{
    if (m_shutdownEvent != WSA_INVALID_EVENT) WSASetEvent(m_shutdownEvent);
    for (HANDLE* thread : {&m_acceptThread, &m_helperThread}) {
        if (*thread) {
            WaitForSingleObject(*thread, INFINITE);
            CloseHandle(*thread);
            *thread = nullptr;
        }
    }
    if (!m_locksReady) return;
    // Client threads see the shutdown event and end their connections.
    for (;;) {
        HANDLE next = nullptr;
        {
            CriticalSectionLock hold(m_clientLock);
            if (!m_liveClients.empty()) next = m_liveClients.front().thread;
        }
        if (!next) break;
        WaitForSingleObject(next, 50);
    }
    ReapFinished();
    if (m_shutdownEvent != WSA_INVALID_EVENT) {
        WSACloseEvent(m_shutdownEvent);
        m_shutdownEvent = WSA_INVALID_EVENT;
    }
    if (m_winsockInUse) {
        WSACleanup();
        m_winsockInUse = false;
    }
    m_running = 0;
}

void CGenericServer::StopTakingWork()
{
    m_takingWork = false;
    if (m_locksReady) {
        // The accept thread holds this lock only around calls that do not block.
        CriticalSectionLock hold(m_listenerLock);
        if (m_listener != INVALID_SOCKET) {
            closesocket(m_listener);
            m_listener = INVALID_SOCKET;
        }
    }
    // The accept and helper threads end, and so does every connection that waits
    // for its next request; a running command does not look at the event.
    if (m_shutdownEvent != WSA_INVALID_EVENT) WSASetEvent(m_shutdownEvent);
}

size_t CGenericServer::LiveClientCount()
{
    CriticalSectionLock hold(m_clientLock);
    return m_liveClients.size();
}

size_t CGenericServer::FinishedClientCount()
{
    CriticalSectionLock hold(m_finishedLock);
    return m_finishedClients.size();
}

void CGenericServer::CloseListener(WSAEVENT acceptEvent, WSAEVENT shutdownEvent)
{
    if (acceptEvent != WSA_INVALID_EVENT) WSACloseEvent(acceptEvent);
    // The shutdown event is closed by Stop once every thread has seen it.
    (void)shutdownEvent;
    CriticalSectionLock hold(m_listenerLock);
    if (m_listener != INVALID_SOCKET) closesocket(m_listener);
    m_listener = INVALID_SOCKET;
    // Winsock is not ended here: client threads may still hold their sockets
    // (ending it would close them under the threads). Stop ends it after them.
}

unsigned __stdcall CGenericServer::AcceptThread(void* context)
{
    auto* server = static_cast<CGenericServer*>(context);
    const char* const kFunction = "AcceptThread";

    WSADATA data;
    int started = WSAStartup(MAKEWORD(2, 2), &data);
    if (started != 0) {
        server->LogMessage("WSAStartup(...) failure", kFunction, started);
        return kThreadExitCode;
    }
    if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
        server->LogMessage("Requested Socket version not exist", kFunction, 0);
        WSACleanup();
        return kThreadExitCode;
    }

    SOCKET listener = WSASocketA(AF_INET, SOCK_STREAM, 0, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (listener == INVALID_SOCKET) {
        server->LogMessage("WSASocket(...) failure", kFunction, WSAGetLastError());
        WSACleanup();
        return kThreadExitCode;
    }

    // Only programs on this PC may drive the devices: listen on loopback alone.
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(server->m_port));
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
        server->LogMessage("bind(...) failure", kFunction, WSAGetLastError());
        closesocket(listener);
        WSACleanup();
        return kThreadExitCode;
    }
    if (listen(listener, SOMAXCONN) == SOCKET_ERROR) {
        server->LogMessage("listen(...) failure", kFunction, WSAGetLastError());
        closesocket(listener);
        WSACleanup();
        return kThreadExitCode;
    }
    sockaddr_in bound{};
    int boundLength = sizeof bound;
    if (getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &boundLength) == 0)
        server->m_boundPort = ntohs(bound.sin_port);

    WSAEVENT shutdownEvent = WSACreateEvent();
    if (shutdownEvent == WSA_INVALID_EVENT) {
        server->LogMessage("WSACreateEvent(...) failure for ShutdownEvent", kFunction, WSAGetLastError());
        closesocket(listener);
        WSACleanup();
        return kThreadExitCode;
    }
    server->m_shutdownEvent = shutdownEvent;
    WSAEVENT acceptEvent = WSACreateEvent();
    if (acceptEvent == WSA_INVALID_EVENT) {
        server->LogMessage("WSACreateEvent(...) failure for Event", kFunction, WSAGetLastError());
        closesocket(listener);
        WSACleanup();
        return kThreadExitCode;
    }
    if (WSAEventSelect(listener, acceptEvent, FD_ACCEPT) == SOCKET_ERROR) {
        server->LogMessage("WSAEventSelect(...) failure", kFunction, WSAGetLastError());
        WSACloseEvent(acceptEvent);
        closesocket(listener);
        WSACleanup();
        return kThreadExitCode;
    }
    {
        CriticalSectionLock hold(server->m_listenerLock);
        server->m_listener = listener;
    }
    server->m_winsockInUse = true;

    SetEvent(server->m_startEvent);

    HANDLE events[2] = {shutdownEvent, acceptEvent};
    for (;;) {
        DWORD waited = WaitForMultipleObjects(2, events, FALSE, INFINITE);
        if (waited == WAIT_FAILED) {
            server->LogMessage("WaitForMultipleObjects(...) failure", kFunction, GetLastError());
            break;
        }
        if (waited == WAIT_OBJECT_0) break;
        sockaddr_in peer{};
        SOCKET client = INVALID_SOCKET;
        WSANETWORKEVENTS happened{};
        int enumerated = 0, error = 0;
        {
            // Neither call waits (the socket is event-selected), and nothing else
            // is done under the lock.
            CriticalSectionLock hold(server->m_listenerLock);
            if (server->m_listener == INVALID_SOCKET) break;  // no more work taken
            enumerated = WSAEnumNetworkEvents(listener, acceptEvent, &happened);
            if (enumerated != SOCKET_ERROR && happened.lNetworkEvents == FD_ACCEPT) {
                int peerLength = sizeof peer;
                client = WSAAccept(listener, reinterpret_cast<sockaddr*>(&peer), &peerLength, nullptr, 0);
            }
            error = WSAGetLastError();
        }
        if (enumerated == SOCKET_ERROR) {
            server->LogMessage("WSAEnumNetworkEvents(...) failure", kFunction, error);
            break;
        }
        if (happened.lNetworkEvents != FD_ACCEPT) continue;
        if (client == INVALID_SOCKET) {
            server->LogMessage("WSAAccept(...) failure", kFunction, error);
            continue;
        }
        const unsigned char* b = reinterpret_cast<const unsigned char*>(&peer.sin_addr);
        char text[32];
        std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
        // AddClient throws nothing: a connection it cannot start it ends
        // itself, and the accept loop goes on.
        if (server->AddClient(client, text, peer.sin_port) == 0)
            server->LogMessage("AddClient(...) failure", kFunction, 0);
    }
    server->CloseListener(acceptEvent, shutdownEvent);
    return kThreadExitCode;
}

int CGenericServer::AddClient(SOCKET socket, const char* address, unsigned short port)
{
    try {
        OnClientConnected(address, port);
        CriticalSectionLock hold(m_clientLock);
        // Everything the connection needs is allocated before its thread
        // starts: a thread that runs always finds its entry.
        std::list<ClientEntry> entry(1);
        auto start = std::make_unique<ClientStart>(ClientStart{this, socket});
        unsigned int threadId = 0;
        HANDLE thread =
            reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &ClientThread, start.get(), 0, &threadId));
        if (!thread) {
            LogMessage("_beginthreadex(...) failure", "AddClient", errno);
            closesocket(socket);
            return 0;
        }
        start.release();  // the thread's now; RemoveClient frees it
        entry.front() = {thread, threadId};
        m_liveClients.splice(m_liveClients.end(), entry);
        return 1;
    } catch (const std::bad_alloc&) {
        LogMessage(kOutOfMemoryMessage, "AddClient", 0);
    } catch (...) {
        LogMessage(kConnectionExceptionMessage, "AddClient", 0);
    }
    closesocket(socket);
    return 0;
}

void CGenericServer::RemoveClient(WSAEVENT event, SOCKET socket, ClientStart* start, unsigned int threadId)
{
    if (event != WSA_INVALID_EVENT) WSACloseEvent(event);
    closesocket(socket);

    std::list<ClientEntry> entry;
    {
        CriticalSectionLock hold(m_clientLock);
        delete start;
        for (auto it = m_liveClients.begin(); it != m_liveClients.end(); ++it) {
            if (it->threadId == threadId) {
                entry.splice(entry.end(), m_liveClients, it);
                break;
            }
        }
    }
    if (entry.empty()) {
        LogMessage("Thread not found in the list", "ClientThread", 0);
        return;
    }
    CriticalSectionLock hold(m_finishedLock);
    m_finishedClients.splice(m_finishedClients.end(), entry);
}

unsigned __stdcall CGenericServer::ClientThread(void* context)
{
    auto* start = static_cast<ClientStart*>(context);
    CGenericServer* server = start->server;
    SOCKET socket = start->socket;

    WSAEVENT event = WSACreateEvent();
    if (event == WSA_INVALID_EVENT) {
        server->LogMessage("WSACreateEvent(...) failure", "ClientThread", WSAGetLastError());
    } else if (WSAEventSelect(socket, event, FD_READ | FD_WRITE | FD_CLOSE) == SOCKET_ERROR) {
        server->LogMessage("WSAEventSelect(...) failure", "ClientThread", WSAGetLastError());
    } else {
        // A connection that cannot get its memory (or whose command throws)
        // ends alone; the buffers it held are freed before the line is written.
        try {
            server->ServeConnection(socket, event);
        } catch (const std::bad_alloc&) {
            server->LogMessage(kOutOfMemoryMessage, "ClientThread", 0);
        } catch (...) {
            server->LogMessage(kConnectionExceptionMessage, "ClientThread", 0);
        }
    }
    server->RemoveClient(event, socket, start, GetCurrentThreadId());
    return kThreadExitCode;
}

void CGenericServer::ServeConnection(SOCKET socket, WSAEVENT event)
{
    const char* const kFunction = "ClientThread";
    const size_t limit = MaxRequestBytes();
    std::vector<char> received(kReceiveBufferBytes);
    // Bytes gathered and not yet answered, possibly more than one request;
    // never more than `limit`, so that a client that sends without reading
    // its answers cannot make the connection grow.
    std::string request;
    CString answer;
    int keepAlive = 0;
    bool sendPending = false;
    bool closeAfterSend = false;  // a refused request: answer, then end
    // The socket holds bytes that found no room while an answer waited for
    // FD_WRITE. They are left to the socket (the client's sends then wait on
    // its own side) and read once the kept requests have been answered.
    bool readDeferred = false;
    size_t sent = 0;

    auto sendRest = [&]() {
        while (sent < answer.GetLength()) {
            size_t chunk = answer.GetLength() - sent;
            if (chunk > static_cast<size_t>(kMaxSendBytes)) chunk = kMaxSendBytes;
            WSABUF buffer{static_cast<u_long>(chunk), const_cast<char*>(answer.c_str() + sent)};
            DWORD count = 0;
            if (WSASend(socket, &buffer, 1, &count, 0, nullptr, nullptr) == SOCKET_ERROR) {
                int error = WSAGetLastError();
                if (error == WSAEWOULDBLOCK) return SendOutcome::WouldBlock;
                LogMessage("WSASend(...) failure", "ClientThread, Primary Send", error);
                keepAlive = 0;
                return SendOutcome::Failed;
            }
            sent += count;
        }
        return SendOutcome::Sent;
    };

    // Answers the complete requests gathered so far, one after the other.
    // Returns false when the connection is to end.
    auto answerRequests = [&]() {
        while (!sendPending) {
            if (closeAfterSend) return false;
            // Once the server takes no more work, a request waiting here is not
            // run: the connection ends.
            if (!m_takingWork) return false;
            size_t length = CompleteRequestLength(request);
            if (length == 0) {
                if (request.size() < limit) return true;
                // The buffer is full and holds no whole request: it cannot
                // become one within the bound.
                answer = RequestTooLargeAnswer();
                request.clear();
                keepAlive = 0;
                closeAfterSend = true;
            } else {
                CString one(request.substr(0, length));
                request.erase(0, length);
                if (ParseRequest(one, answer, keepAlive) == 0) return false;
            }
            sent = 0;
            SendOutcome outcome = sendRest();
            if (outcome == SendOutcome::Failed) return false;
            if (outcome == SendOutcome::WouldBlock) {
                sendPending = true;
                return true;
            }
            OnResponseSent(static_cast<unsigned int>(sent));
            if (!keepAlive) return false;
        }
        return true;
    };

    // One receive, into the room the request buffer has left.
    enum class Received { Go, Wait, End };
    auto receive = [&]() {
        size_t room = closeAfterSend ? received.size() : limit - request.size();
        if (room == 0) {
            // Full while an answer waits (a full buffer is answered or refused
            // as soon as nothing waits): leave the bytes in the socket.
            readDeferred = true;
            return Received::Go;
        }
        if (room > received.size()) room = received.size();
        WSABUF buffer{static_cast<u_long>(room), received.data()};
        DWORD count = 0, flags = 0;
        if (WSARecv(socket, &buffer, 1, &count, &flags, nullptr, nullptr) == SOCKET_ERROR) {
            LogMessage("WSARecv(...) failure", kFunction, WSAGetLastError());
            return Received::Go;
        }
        // Once a refusal is on its way nothing more is read into the request.
        if (closeAfterSend) return Received::Go;
        request.append(received.data(), count);
        NotePeakRequestBytes(request.size());
        if (sendPending) return Received::Go;
        if (CompleteRequestLength(request) == 0 && request.size() < limit)
            return Received::Wait;  // not complete: wait for more
        return answerRequests() ? Received::Go : Received::End;
    };

    HANDLE waitFor[2] = {event, m_shutdownEvent};
    DWORD timeout = m_idleTimeoutMs > 0 ? static_cast<DWORD>(m_idleTimeoutMs) : WSA_INFINITE;
    for (;;) {
        DWORD waited = WSAWaitForMultipleEvents(2, waitFor, FALSE, timeout, FALSE);
        if (waited == WSA_WAIT_FAILED) {
            LogMessage("WSAWaitForMultipleEvents(...) failure", kFunction, WSAGetLastError());
            return;
        }
        if (waited != WSA_WAIT_EVENT_0) return;  // shut down, or idle for too long

        WSANETWORKEVENTS happened{};
        if (WSAEnumNetworkEvents(socket, event, &happened) == SOCKET_ERROR) {
            LogMessage("WSAEnumNetworkEvents(...) failure", kFunction, WSAGetLastError());
            continue;
        }
        if (happened.lNetworkEvents == 0) continue;

        if (happened.lNetworkEvents & FD_READ) {
            Received outcome = receive();
            if (outcome == Received::End) return;
            if (outcome == Received::Wait) continue;  // the other events of this wake-up wait too
        }
        if ((happened.lNetworkEvents & FD_WRITE) && sendPending) {
            SendOutcome outcome = sendRest();
            if (outcome == SendOutcome::Failed) return;
            if (outcome == SendOutcome::Sent) {
                OnResponseSent(static_cast<unsigned int>(sent));
                if (!keepAlive) return;
                sendPending = false;
                if (!answerRequests()) return;
                // Room again: the bytes left in the socket are read now, since
                // the socket reports no new FD_READ until they are.
                if (readDeferred && !sendPending) {
                    readDeferred = false;
                    if (receive() == Received::End) return;
                }
            }
        }
        if (happened.lNetworkEvents & FD_CLOSE) return;
    }
}

void CGenericServer::NotePeakRequestBytes(size_t bytes)
{
    size_t peak = m_peakRequestBytes.load();
    while (bytes > peak && !m_peakRequestBytes.compare_exchange_weak(peak, bytes)) {
    }
}

void CGenericServer::ReapFinished()
{
    std::list<ClientEntry> pass;
    {
        CriticalSectionLock hold(m_finishedLock);
        pass.swap(m_finishedClients);
    }
    std::list<ClientEntry> stillRunning;
    while (!pass.empty()) {
        // A listed thread has passed its last lock and is returning; it is never
        // killed (a thread killed inside a lock would hang the server), only
        // waited for again on the next pass.
        if (WaitForSingleObject(pass.front().thread, kReapWaitMs) == WAIT_OBJECT_0) {
            CloseHandle(pass.front().thread);
            pass.pop_front();
            ++m_reapedCount;
        } else {
            LogMessage("WaitForSingleObject(...) timed out", "HelperThread", 0);
            stillRunning.splice(stillRunning.end(), pass, pass.begin());
        }
    }
    if (!stillRunning.empty()) {
        CriticalSectionLock hold(m_finishedLock);
        m_finishedClients.splice(m_finishedClients.begin(), stillRunning);
    }
}

unsigned __stdcall CGenericServer::HelperThread(void* context)
{
    auto* server = static_cast<CGenericServer*>(context);
    SetEvent(server->m_startEvent);
    while (WaitForSingleObject(server->m_shutdownEvent, kHelperPeriodMs) == WAIT_TIMEOUT) {
        // Reaping allocates nothing; should anything throw all the same, the
        // next pass tries again.
        try {
            server->ReapFinished();
        } catch (...) {
            server->LogMessage(kThreadExceptionMessage, "HelperThread", 0);
        }
    }
    return kThreadExitCode;
}
