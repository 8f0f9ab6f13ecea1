// The command server on real Winsock sockets, with test clients in this process.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <limits>
#include <new>
#include <stdexcept>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "agent/log.h"
#include "agent/server/http_server_win.h"

namespace {

// Milliseconds since `start`.
ULONGLONG Since(ULONGLONG start)
{
    return GetTickCount64() - start;
}

struct Winsock {
    Winsock() { WSADATA d; WSAStartup(MAKEWORD(2, 2), &d); }
    ~Winsock() { WSACleanup(); }
};
Winsock g_winsock;

// A blocking test client.
class Client {
public:
    explicit Client(int port, int receiveBufferBytes = 0)
    {
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (receiveBufferBytes > 0)
            setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBufferBytes),
                       sizeof receiveBufferBytes);
        DWORD timeout = 5000;
        setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
        DWORD sendTimeout = 15000;  // a server that neither reads nor closes fails the test, not hangs it
        setsockopt(m_socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendTimeout),
                   sizeof sendTimeout);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<u_short>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = connect(m_socket, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    }
    ~Client() { Close(); }
    void Close()
    {
        if (m_socket != INVALID_SOCKET) closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
    bool connected() const { return m_connected; }
    SOCKET Handle() const { return m_socket; }

    // Sends every byte; `progress`, when given, follows the bytes sent (for a
    // test that watches a sender from another thread).
    bool Send(const std::string& bytes, std::atomic<size_t>* progress = nullptr)
    {
        size_t at = 0;
        while (at < bytes.size()) {
            int piece = static_cast<int>(std::min<size_t>(bytes.size() - at, 16384));
            int n = send(m_socket, bytes.data() + at, piece, 0);
            if (n <= 0) return false;
            at += static_cast<size_t>(n);
            if (progress) *progress = at;
        }
        return true;
    }

    // One whole answer (head and Content-Length body); empty when the
    // connection closed or stayed silent first.
    std::string ReadAnswer()
    {
        for (;;) {
            size_t head = m_pending.find("\r\n\r\n");
            if (head != std::string::npos) {
                size_t length = 0;
                size_t at = m_pending.find("Content-Length: ");
                if (at != std::string::npos && at < head) length = std::stoul(m_pending.substr(at + 16));
                if (m_pending.size() >= head + 4 + length) {
                    std::string answer = m_pending.substr(0, head + 4 + length);
                    m_pending.erase(0, answer.size());
                    return answer;
                }
            }
            if (!ReceiveSome()) return std::string();
        }
    }

    // True when the server closes the connection (orderly or reset) with no
    // further byte.
    bool SeesClose()
    {
        char byte;
        int n = recv(m_socket, &byte, 1, 0);
        return n == 0 || (n < 0 && WSAGetLastError() != WSAETIMEDOUT);
    }

private:
    bool ReceiveSome()
    {
        char buffer[65536];
        int n = recv(m_socket, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        m_pending.append(buffer, static_cast<size_t>(n));
        return true;
    }

    SOCKET m_socket = INVALID_SOCKET;
    bool m_connected = false;
    std::string m_pending;
};

std::string Get(const std::string& query, const std::string& headers = "")
{
    return "GET /Corvane.html?" + query + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n";
}

std::string BodyOf(const std::string& answer)
{
    size_t head = answer.find("\r\n\r\n");
    return head == std::string::npos ? std::string() : answer.substr(head + 4);
}

// A server on a free loopback port, answering id 20 with `bigResult` and
// echoing the param for id 35; id 21 asks for more memory than there is, id 22
// throws something else, id 23 holds its thread until `release` (10 s at most).
struct TestServer {
    std::string bigResult = "RESULT";
    std::atomic<int> commandsRun{0};
    HANDLE holding = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CHTTPServer server{[this](int id, const CString& param, CString& result) {
        ++commandsRun;
        if (id == 23) {
            SetEvent(holding);
            WaitForSingleObject(release, 10000);
            result = CString("held");
            return true;
        }
        if (id == 20) {
            result = CString(bigResult);
            return true;
        }
        if (id == 21) {
            std::string huge;
            huge.reserve(huge.max_size() - 1);
            result = CString(std::to_string(huge.capacity()));
            return true;
        }
        if (id == 22) throw std::runtime_error("command failed");
        if (id == 35) {
            result = param;
            return true;
        }
        return false;
    }};
    explicit TestServer(int idleMs = 200) { EXPECT_EQ(server.Run(0, idleMs), 1); }
    ~TestServer()
    {
        SetEvent(release);
        server.Stop();
        CloseHandle(holding);
        CloseHandle(release);
    }
    int port() const { return server.BoundPort(); }

    // Waits until every client thread has ended and been reaped.
    bool AllReaped(size_t expected, int withinMs = 10000)
    {
        ULONGLONG start = GetTickCount64();
        while (Since(start) < static_cast<ULONGLONG>(withinMs)) {
            if (server.LiveClientCount() == 0 && server.FinishedClientCount() == 0 &&
                server.ReapedClientCount() >= expected)
                return true;
            Sleep(20);
        }
        return false;
    }
};

// The first `length` bytes of a request for id 88 with a callback name that
// starts with `name` and is filled up with letters to make it `length` long.
std::string RequestOfLength(const std::string& name, size_t length, const std::string& headers = "")
{
    std::string request = Get("callback=" + name + "&id=88", headers);
    request.insert(request.find("&id="), length - request.size(), 'x');
    return request;
}

// The body that answers RequestOfLength: the callback called with the version.
std::string VersionBodyOf(const std::string& request)
{
    size_t from = request.find("callback=") + 9;
    return request.substr(from, request.find("&id=") - from) + "({\"result\":\"1.7.1.1\"})";
}

std::string ReadLogFile()
{
    std::string dir;
    SystemWindowsDirectory(dir);
    std::ifstream in(dir + "\\VURovivu.log", std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

}  // namespace

TEST(CommandServer, AnswersARequestArrivingInPieces)
{
    TestServer s;
    Client c(s.port());
    ASSERT_TRUE(c.connected());
    std::string request = Get("callback=cb&id=88");
    for (size_t at = 0; at < request.size(); at += 3) {
        ASSERT_TRUE(c.Send(request.substr(at, 3)));
        Sleep(10);
    }
    EXPECT_EQ(BodyOf(c.ReadAnswer()), "cb({\"result\":\"1.7.1.1\"})");
    EXPECT_TRUE(c.SeesClose()) << "no keep-alive asked: closed after the answer";
}

TEST(CommandServer, IdleConnectionsAreClosedAfter200ms)
{
    TestServer s;
    {
        Client c(s.port());
        ULONGLONG start = GetTickCount64();
        EXPECT_TRUE(c.SeesClose());
        ULONGLONG waited = Since(start);
        EXPECT_GE(waited, 150u);
        EXPECT_LT(waited, 2000u);
    }
    {
        Client c(s.port());
        ASSERT_TRUE(c.Send(Get("callback=a&id=88", "Connection: Keep-Alive\r\n")));
        EXPECT_FALSE(c.ReadAnswer().empty());
        Sleep(100);
        ASSERT_TRUE(c.Send(Get("callback=b&id=88", "Connection: Keep-Alive\r\n")));
        EXPECT_EQ(BodyOf(c.ReadAnswer()), "b({\"result\":\"1.7.1.1\"})") << "kept alive within 200 ms";
        ULONGLONG start = GetTickCount64();
        EXPECT_TRUE(c.SeesClose()) << "and closed when silent between two requests";
        EXPECT_GE(Since(start), 150u);
    }
}

TEST(CommandServer, KeepAliveOnlyOnTheExactHeaderBytes)
{
    TestServer s(5000);  // only the end of the answer can close within the test's wait
    Client lower(s.port());
    // Two requests in one write: the first, not kept alive, ends the connection.
    ASSERT_TRUE(lower.Send(Get("callback=a&id=88", "Connection: keep-alive\r\n") + Get("callback=b&id=88")));
    std::string answer = lower.ReadAnswer();
    EXPECT_NE(answer.find("\r\nConnection: Keep-Alive\r\n"), std::string::npos);
    EXPECT_EQ(BodyOf(answer), "a({\"result\":\"1.7.1.1\"})");
    ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(lower.SeesClose()) << "closed after the one answer";
    EXPECT_LT(Since(start), 1000u);
}

TEST(CommandServer, PipelinedRequestsAreAllAnswered)
{
    TestServer s;
    Client c(s.port());
    std::string k = "Connection: Keep-Alive\r\n";
    ASSERT_TRUE(c.Send(Get("callback=a&id=88", k) + Get("callback=b&id=35&param=x", k) + Get("callback=c&id=1", k)));
    EXPECT_EQ(BodyOf(c.ReadAnswer()), "a({\"result\":\"1.7.1.1\"})");
    EXPECT_EQ(BodyOf(c.ReadAnswer()), "b({\"result\":\"x\"})");
    EXPECT_EQ(BodyOf(c.ReadAnswer()), "c({\"result\":\"NOFUNC\"})");
}

TEST(CommandServer, StopTakingWorkRunsNothingMoreAndWaitsForNoCommand)
{
    TestServer s(5000);
    const int port = s.port();
    Client c(port);
    std::string k = "Connection: Keep-Alive\r\n";
    ASSERT_TRUE(c.Send(Get("callback=a&id=23", k) + Get("callback=b&id=35&param=x", k)));
    ASSERT_EQ(WaitForSingleObject(s.holding, 5000), WAIT_OBJECT_0);

    ULONGLONG start = GetTickCount64();
    s.server.StopTakingWork();
    EXPECT_LT(Since(start), 2000u) << "waited for the command that runs";
    EXPECT_FALSE(Client(port).connected()) << "a new connection was taken";

    SetEvent(s.release);
    std::string bytes;
    char buffer[4096];
    int n;
    while ((n = recv(c.Handle(), buffer, sizeof buffer, 0)) > 0) bytes.append(buffer, static_cast<size_t>(n));
    EXPECT_TRUE(n == 0 || WSAGetLastError() != WSAETIMEDOUT) << "the connection stayed open";
    EXPECT_EQ(bytes.find("b({"), std::string::npos) << bytes;
    EXPECT_EQ(s.commandsRun.load(), 1) << "the request behind the running one was run";
}

TEST(CommandServer, AnswerLargerThanTheSocketBufferArrivesWhole)
{
    TestServer s;
    s.bigResult.assign(3 * 1024 * 1024, 'x');
    for (size_t i = 0; i < s.bigResult.size(); i += 4096) s.bigResult[i] = static_cast<char>('a' + (i / 4096) % 26);
    Client c(s.port(), 8192);
    ASSERT_TRUE(c.Send(Get("callback=big&id=20")));
    EXPECT_EQ(BodyOf(c.ReadAnswer()), "big({\"result\":\"" + s.bigResult + "\"})");
}

TEST(CommandServer, TwoHundredParallelConnectionsAreAnsweredAndReaped)
{
    TestServer s(5000);
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 200; ++i) {
        clients.push_back(std::make_unique<Client>(s.port()));
        ASSERT_TRUE(clients.back()->connected()) << i;
    }
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(clients[i]->Send(Get("callback=c" + std::to_string(i) + "&id=35&param=" + std::to_string(i))));
    for (int i = 0; i < 200; ++i) {
        std::string n = std::to_string(i);
        EXPECT_EQ(BodyOf(clients[i]->ReadAnswer()), "c" + n + "({\"result\":\"" + n + "\"})");
    }
    clients.clear();
    EXPECT_TRUE(s.AllReaped(200)) << "live " << s.server.LiveClientCount() << ", finished "
                                  << s.server.FinishedClientCount() << ", reaped " << s.server.ReapedClientCount();
}

TEST(CommandServer, BadInputNeverHangsOrKillsTheServer)
{
    TestServer s;
    {   // a megabyte without an empty line: refused once past the bound
        Client c(s.port());
        std::string junk(1024 * 1024, 'A');
        c.Send(junk);  // the server may close before all of it is taken
        std::string answer = c.ReadAnswer();
        EXPECT_EQ(answer.rfind("HTTP/1.0 413 ", 0), 0u) << answer.substr(0, 60);
    }
    {   // binary garbage with no blank: closed with nothing sent
        Client c(s.port());
        c.Send(std::string("\x00\x01\xff\xfe\r\n\r\n", 8));
        EXPECT_TRUE(c.SeesClose());
    }
    {   // non-GET, empty URI
        Client c(s.port());
        c.Send("DELETE /Corvane.html?id=88 HTTP/1.1\r\n\r\n");
        EXPECT_EQ(c.ReadAnswer().rfind("HTTP/1.0 405 ", 0), 0u);
        Client d(s.port());
        d.Send("GET  HTTP/1.1\r\n\r\n");
        EXPECT_EQ(d.ReadAnswer().rfind("HTTP/1.0 400 ", 0), 0u);
    }
    {   // a client that vanishes before its large answer is read
        s.bigResult.assign(2 * 1024 * 1024, 'z');
        for (int i = 0; i < 5; ++i) {
            Client c(s.port(), 4096);
            c.Send(Get("callback=v&id=20"));
            Sleep(20);
        }
    }
    Client after(s.port());
    after.Send(Get("callback=ok&id=88"));
    EXPECT_EQ(BodyOf(after.ReadAnswer()), "ok({\"result\":\"1.7.1.1\"})") << "still serving";
    after.Close();
    EXPECT_TRUE(s.AllReaped(9));
}

TEST(CommandServer, RunFailsAtOnceWhenThePortIsTaken)
{
    TestServer first;
    CHTTPServer second([](int, const CString&, CString&) { return false; });
    const size_t logged = ReadLogFile().size();
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(second.Run(first.port(), 200), 0);
    EXPECT_LT(Since(start), 5000u);
    // The accept thread's line, then Run's own.
    const std::string lines = ReadLogFile().substr(logged);
    const size_t bind = lines.find("bind(...) failure.\t[AcceptThread]\t[10048]");
    const size_t gaveUp =
        lines.find(" - Unable to get response from Accept Thread withing specified Timeout ->.\t[Run]\t[30000]\r\n");
    EXPECT_NE(bind, std::string::npos) << lines;
    EXPECT_NE(gaveUp, std::string::npos) << lines;
    EXPECT_LT(bind, gaveUp);
}

// Pipelined requests with 60 KB callbacks, kept alive, each answered with a
// 60 KB answer: a client that sends them all before it reads.
std::string PipelinedStream(int count, std::vector<std::string>& bodies)
{
    std::string stream;
    for (int n = 0; n < count; ++n) {
        std::string request = RequestOfLength("c" + std::to_string(n) + "_", 60000, "Connection: Keep-Alive\r\n");
        bodies.push_back(VersionBodyOf(request));
        stream += request;
    }
    return stream;
}

// Waits until `progress` has not moved for `stillMs` (or `done` is set).
void WaitForStall(const std::atomic<size_t>& progress, const std::atomic<bool>& done, ULONGLONG stillMs)
{
    size_t last = progress.load();
    ULONGLONG since = GetTickCount64();
    while (!done.load() && Since(since) < stillMs) {
        Sleep(10);
        if (progress.load() != last) {
            last = progress.load();
            since = GetTickCount64();
        }
    }
}

TEST(RequestBound, ClientThatDoesNotReadIsHeldAtTheBoundAndAnsweredInOrderLater)
{
    TestServer s(10000);  // the stall below is not ended by the idle time-out
    Client c(s.port(), 16384);
    ASSERT_TRUE(c.connected());
    std::vector<std::string> bodies;
    const std::string stream = PipelinedStream(200, bodies);
    std::atomic<size_t> progress{0};
    std::atomic<bool> done{false};
    std::thread sender([&] {
        c.Send(stream, &progress);
        done = true;
    });

    WaitForStall(progress, done, 300);
    EXPECT_FALSE(done.load()) << "the server read on while its answers waited";
    EXPECT_GT(s.server.PeakRequestBytes(), 0u);
    EXPECT_LE(s.server.PeakRequestBytes(), corvane::http::kMaxRequestBytes) << "kept past the bound";

    for (int n = 0; n < 200; ++n)
        ASSERT_EQ(BodyOf(c.ReadAnswer()), bodies[n]) << "answer " << n;
    sender.join();
    EXPECT_TRUE(done.load());
    EXPECT_EQ(progress.load(), stream.size());
    ASSERT_TRUE(c.Send(Get("callback=last&id=88", "Connection: Keep-Alive\r\n")));
    EXPECT_EQ(BodyOf(c.ReadAnswer()), "last({\"result\":\"1.7.1.1\"})") << "still kept alive";
    EXPECT_LE(s.server.PeakRequestBytes(), corvane::http::kMaxRequestBytes);
}

TEST(RequestBound, RequestUpToTheBoundIsAnsweredOneByteMoreIsRefused)
{
    TestServer s;
    const size_t bound = corvane::http::kMaxRequestBytes;
    {
        Client c(s.port());
        std::string request = RequestOfLength("whole", bound);
        ASSERT_TRUE(c.Send(request));
        EXPECT_EQ(BodyOf(c.ReadAnswer()), VersionBodyOf(request));
    }
    {
        Client c(s.port());
        ASSERT_TRUE(c.Send(RequestOfLength("over", bound + 1)));
        EXPECT_EQ(c.ReadAnswer().rfind("HTTP/1.0 413 ", 0), 0u);
        EXPECT_TRUE(c.SeesClose());
    }
    {   // two pipelined requests that fill the buffer exactly: both answered
        Client c(s.port());
        std::string first = RequestOfLength("first", bound / 2, "Connection: Keep-Alive\r\n");
        std::string second = RequestOfLength("second", bound - first.size());
        ASSERT_TRUE(c.Send(first + second));
        EXPECT_EQ(BodyOf(c.ReadAnswer()), VersionBodyOf(first));
        EXPECT_EQ(BodyOf(c.ReadAnswer()), VersionBodyOf(second));
    }
    EXPECT_LE(s.server.PeakRequestBytes(), bound);
}

TEST(ServerThreads, AConnectionWithoutMemoryEndsAloneWithItsLogLine)
{
    TestServer s;
    size_t logBefore = ReadLogFile().size();
    Client other(s.port());
    ASSERT_TRUE(other.Send(Get("callback=a&id=88", "Connection: Keep-Alive\r\n")));
    EXPECT_EQ(BodyOf(other.ReadAnswer()), "a({\"result\":\"1.7.1.1\"})");

    Client starved(s.port());
    ASSERT_TRUE(starved.Send(Get("callback=s&id=21", "Connection: Keep-Alive\r\n")));
    EXPECT_TRUE(starved.SeesClose()) << "ended with nothing sent";
    Client throwing(s.port());
    ASSERT_TRUE(throwing.Send(Get("callback=t&id=22")));
    EXPECT_TRUE(throwing.SeesClose());

    ASSERT_TRUE(other.Send(Get("callback=b&id=88", "Connection: Keep-Alive\r\n")));
    EXPECT_EQ(BodyOf(other.ReadAnswer()), "b({\"result\":\"1.7.1.1\"})") << "the other connection goes on";
    Client next(s.port());
    ASSERT_TRUE(next.Send(Get("callback=n&id=88")));
    EXPECT_EQ(BodyOf(next.ReadAnswer()), "n({\"result\":\"1.7.1.1\"})") << "and new ones are served";

    std::string log = ReadLogFile().substr(logBefore);
    EXPECT_NE(log.find(" - Out of memory, connection ended.\t[ClientThread]\t[0]"), std::string::npos) << log;
    EXPECT_NE(log.find(" - Unexpected exception, connection ended.\t[ClientThread]\t[0]"), std::string::npos);
}

// A server whose first connection cannot get the memory to start.
class StarvedAcceptServer : public CHTTPServer {
public:
    StarvedAcceptServer() : CHTTPServer([](int, const CString&, CString&) { return false; }) {}

protected:
    int OnClientConnected(const char*, unsigned short) override
    {
        if (m_starve.exchange(false)) throw std::bad_alloc();
        return 0;
    }

private:
    std::atomic<bool> m_starve{true};
};

TEST(ServerThreads, AConnectionThatCannotStartIsClosedAndTheAcceptThreadGoesOn)
{
    StarvedAcceptServer server;
    ASSERT_EQ(server.Run(0, 200), 1);
    size_t logBefore = ReadLogFile().size();
    Client first(server.BoundPort());
    ASSERT_TRUE(first.connected());
    EXPECT_TRUE(first.SeesClose());
    Client second(server.BoundPort());
    ASSERT_TRUE(second.Send(Get("callback=ok&id=88")));
    EXPECT_EQ(BodyOf(second.ReadAnswer()), "ok({\"result\":\"1.7.1.1\"})");
    server.Stop();

    std::string log = ReadLogFile().substr(logBefore);
    size_t memory = log.find(" - Out of memory, connection ended.\t[AddClient]\t[0]");
    EXPECT_NE(memory, std::string::npos) << log;
    EXPECT_NE(log.find(" - AddClient(...) failure.\t[AcceptThread]\t[0]", memory), std::string::npos);
}
