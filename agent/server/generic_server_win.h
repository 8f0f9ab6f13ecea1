// CGenericServer: the TCP server core under the local command protocol. One
// listening socket on the loopback address, an accept thread, one client thread
// per connection, and a helper thread that reaps client threads after their
// connection ended. It gathers request bytes and hands complete requests to the
// derived class, which knows the protocol.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <list>
#include <string>

#include "agent/log.h"
#include "framework/cstring.h"

class CGenericServer : public CLog {
public:
    CGenericServer();
    ~CGenericServer() override;

    // Starts listening on 127.0.0.1:`port` (0 picks a free port, see BoundPort)
    // and closes a connection that has no network event for `idleTimeoutMs`
    // (0: never). Returns 1 once the accept and helper threads run, 0 when
    // either could not start; a failure of the accept thread (port taken, for
    // example) is known at once.
    int Run(int port, int idleTimeoutMs);

    // Ends the server: no more connections, every thread joined. The agent never
    // stops its server; tests do.
    void Stop();
    // Takes no more work, at once, and waits for no thread: the listening socket
    // is closed (the port is free for another program), no connection is taken
    // any more, and a connection whose next request has not started is ended
    // without it. A command that runs goes on to its end (or to the process's).
    // Stop may follow and joins what is left.
    void StopTakingWork();

    int BoundPort() const { return m_boundPort.load(); }
    size_t LiveClientCount();
    size_t FinishedClientCount();
    size_t ReapedClientCount() const { return m_reapedCount.load(); }
    // The most unanswered request bytes any connection has held.
    size_t PeakRequestBytes() const { return m_peakRequestBytes.load(); }

    static constexpr DWORD kThreadExitCode = 0x1234;
    static constexpr int kReceiveBufferBytes = 100000;
    static constexpr int kMaxSendBytes = 200000;
    static constexpr DWORD kStartWaitMs = 30000;
    static constexpr DWORD kHelperPeriodMs = 100;
    static constexpr DWORD kReapWaitMs = 1000;

protected:
    // The protocol's part, on the connection's own thread.
    virtual int OnClientConnected(const char* address, unsigned short port) = 0;
    virtual int OnResponseSent(unsigned int bytes) = 0;
    // Length of the first complete request at the start of `buffer`, 0 when the
    // request is not complete yet.
    virtual size_t CompleteRequestLength(const std::string& buffer) = 0;
    // Non-zero: send `answer`; 0: end the connection with nothing sent.
    virtual int ParseRequest(const CString& request, CString& answer, int& keepAlive) = 0;
    // A request that does not fit MaxRequestBytes: the answer sent before closing.
    virtual CString RequestTooLargeAnswer() = 0;
    // The most request bytes a connection keeps unanswered: one request, or
    // the pipelined requests that wait while an answer cannot be sent.
    virtual size_t MaxRequestBytes() const = 0;

private:
    struct ClientEntry {
        HANDLE thread;
        unsigned int threadId;
    };
    struct ClientStart {
        CGenericServer* server;
        SOCKET socket;
    };

    static unsigned __stdcall AcceptThread(void* server);
    static unsigned __stdcall HelperThread(void* server);
    static unsigned __stdcall ClientThread(void* start);

    int AddClient(SOCKET socket, const char* address, unsigned short port);
    void RemoveClient(WSAEVENT event, SOCKET socket, ClientStart* start, unsigned int threadId);
    void CloseListener(WSAEVENT acceptEvent, WSAEVENT shutdownEvent);
    void ServeConnection(SOCKET socket, WSAEVENT event);
    void ReapFinished();
    void NotePeakRequestBytes(size_t bytes);

    HANDLE m_acceptThread = nullptr;
    unsigned int m_acceptThreadId = 0;
    HANDLE m_helperThread = nullptr;
    unsigned int m_helperThreadId = 0;
    WSAEVENT m_shutdownEvent = WSA_INVALID_EVENT;
    HANDLE m_startEvent = nullptr;
    // The accept thread's listening socket; StopTakingWork closes it from
    // another thread, both under the listener lock.
    SOCKET m_listener = INVALID_SOCKET;
    CRITICAL_SECTION m_listenerLock;
    std::atomic<bool> m_takingWork{true};
    // Winsock stays started while client threads may hold sockets: Stop ends
    // it once they have been joined.
    bool m_winsockInUse = false;
    std::list<ClientEntry> m_liveClients;
    // An entry moves from the live list to the finished list as it is, list
    // node and all: ending a connection allocates nothing.
    std::list<ClientEntry> m_finishedClients;
    CRITICAL_SECTION m_clientLock;
    CRITICAL_SECTION m_finishedLock;
    bool m_locksReady = false;
    int m_port = 0;
    int m_idleTimeoutMs = 0;
    int m_running = 0;
    std::atomic<int> m_boundPort{0};
    std::atomic<size_t> m_reapedCount{0};
    std::atomic<size_t> m_peakRequestBytes{0};
};
