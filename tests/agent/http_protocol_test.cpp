#include "agent/server/http_protocol.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "agent/log.h"
#include "tests/agent/fixed_time.h"

using namespace corvane::http;

namespace {

// 2026-12-08 19:19:00 UTC, a Tuesday.
constexpr std::time_t kNow = 1796757540;
constexpr const char* kDate = "Tue, 08 Dec 2026 19:19:00 GMT";

// A log that keeps its lines in memory.
struct MemoryLog {
    std::vector<std::string> lines;
    std::string directory;
    CLog log{[this](std::string& dir) { dir = directory; return !dir.empty(); },
             [] { return kNow; }};
};

struct Handler {
    const KoreanTimeZone zone;  // the Date is UTC wherever the agent runs
    MemoryLog log;
    std::vector<std::pair<int, std::string>> calls;
    std::string commandResult = "RESULT";
    RequestHandler handler{log.log,
                           [this](int id, const CString& param, CString& result) {
                               calls.emplace_back(id, param.str());
                               bool known = (id >= 11 && id <= 29) || (id >= 31 && id <= 40) ||
                                            (id >= 50 && id <= 52) || (id >= 61 && id <= 71);
                               if (!known) return false;
                               result = CString(commandResult);
                               return true;
                           },
                           [] { return kNow; }};

    // Runs one request; returns {result of ParseRequest, answer}.
    std::pair<int, std::string> Run(const std::string& request, int* keepAlive = nullptr)
    {
        int local = 0;
        CString answer;
        int r = handler.ParseRequest(CString(request), answer, keepAlive ? *keepAlive : local);
        return {r, answer.str()};
    }
};

std::string Get(const std::string& uri, const std::string& headers = "Host: 127.0.0.1:90\r\n")
{
    return "GET " + uri + " HTTP/1.1\r\n" + headers + "\r\n";
}

std::string OkAnswer(const std::string& body)
{
    return "HTTP/1.1 200 OK\r\nDate: " + std::string(kDate) +
           "\r\nServer: CorvaneWebServer/2.0\r\nAccept-Ranges: bytes\r\nContent-Length: " +
           std::to_string(body.size()) +
           "\r\nConnection: Keep-Alive\r\nContent-Type: application/json\r\n\r\n" + body;
}

}  // namespace

TEST(RequestGathering, CompleteOnlyWithEmptyLineAndKeepsWhatFollows)
{
    EXPECT_EQ(CompleteRequestLength(""), 0u);
    EXPECT_EQ(CompleteRequestLength("\r\n\r"), 0u);
    EXPECT_EQ(CompleteRequestLength("\r\n\r\n"), 4u);
    EXPECT_EQ(CompleteRequestLength("GET / HTTP/1.1\r\nHost: x\r\n"), 0u);
    std::string two = Get("/a") + Get("/b");
    EXPECT_EQ(CompleteRequestLength(two), Get("/a").size());
    EXPECT_EQ(CompleteRequestLength("GET / HTTP/1.1\n\n"), 0u) << "bare LF does not end a request";
}

TEST(QuerySplitting, RunsOfSeparatorsCountAsOneAndNoTokenIsEmpty)
{
    using V = std::vector<std::string_view>;
    EXPECT_EQ(SplitTokens("?" "?/a?" "?b?c?" "?", '?'), (V{"/a", "b", "c"}));
    EXPECT_EQ(SplitTokens("", '?'), V{});
    EXPECT_EQ(SplitTokens("???", '?'), V{});
    EXPECT_EQ(SplitTokens("a==b=c", '='), (V{"a", "b", "c"}));
}

TEST(QuerySplitting, NumberIsReadLikeAtoi)
{
    EXPECT_EQ(ReadNumber("88"), 88);
    EXPECT_EQ(ReadNumber("  -12x"), -12);
    EXPECT_EQ(ReadNumber("+35abc"), 35);
    EXPECT_EQ(ReadNumber("abc"), 0);
    EXPECT_EQ(ReadNumber(""), 0);
    EXPECT_EQ(ReadNumber("99999999999999999999"), 2147483647);
    EXPECT_EQ(ReadNumber("-99999999999999999999"), -2147483647 - 1);
}

TEST(AnswerComposer, VersionAnswerIsByteExact)
{
    Handler h;
    auto [r, answer] = h.Run(Get("/Corvane.html?callback=cb&id=88"));
    EXPECT_EQ(r, 1);
    EXPECT_EQ(answer, OkAnswer("cb({\"result\":\"1.7.1.1\"})"));
    EXPECT_NE(answer.find("Content-Length: 24\r\n"), std::string::npos);
    EXPECT_TRUE(h.calls.empty()) << "88 is answered by the handler alone";
}

TEST(AnswerComposer, NotFoundAnswerIsByteExactAndCloses)
{
    Handler h;
    for (std::string uri : {"/", "/corvane.html?id=88", "/Corvane.htm?id=88", "/Corvane.html/x"}) {
        int keepAlive = 1;
        auto [r, answer] = h.Run(Get(uri, "Connection: Keep-Alive\r\n"), &keepAlive);
        EXPECT_EQ(r, 1) << uri;
        EXPECT_EQ(answer, "HTTP/1.0 404 Resource not found\r\nContent-Length: 0\r\nContent-Type: text/html\r\n"
                          "Date: " + std::string(kDate) + "\r\nServer: CorvaneWebServer/2.0\r\n\r\n")
            << uri;
        EXPECT_EQ(keepAlive, 0) << uri;
    }
}

TEST(AnswerComposer, QueryKeysAndNumbers)
{
    Handler h;
    EXPECT_EQ(h.Run(Get("/Corvane.html?id=88")).second, OkAnswer("({\"result\":\"1.7.1.1\"})"));
    for (std::string q : {"callback=f&id=99", "callback=f&id=abc", "callback=f", "callback=f&id=0",
                          "callback=f&id=-35", "callback=f&id=30", "callback=f&id=89"})
        EXPECT_EQ(h.Run(Get("/Corvane.html?" + q)).second, OkAnswer("f({\"result\":\"NOFUNC\"})")) << q;
    EXPECT_EQ(h.Run(Get("/Corvane.html?callback=f&id=11&id=88")).second,
              OkAnswer("f({\"result\":\"1.7.1.1\"})"))
        << "the last id counts";
}

TEST(AnswerComposer, ParamReachesTheCommandAsItStands)
{
    Handler h;
    h.Run(Get("/Corvane.html?param=1%2C2%3A3+4&id=35&callback=f&other=x"));
    ASSERT_EQ(h.calls.size(), 1u);
    EXPECT_EQ(h.calls[0], (std::pair<int, std::string>{35, "1%2C2%3A3+4"}));
    h.Run(Get("/Corvane.html?callback=f&id=35&param=ab==cd=ef"));
    EXPECT_EQ(h.calls.back().second, "ab") << "only the text before a second '='";
    h.Run(Get("/Corvane.html?callback=f&id=35&param=&&=&param"));
    EXPECT_EQ(h.calls.back().second, "") << "keys without values leave the item empty";
}

TEST(AnswerComposer, KeepAliveOnlyOnTheExactHeaderBytes)
{
    Handler h;
    int keepAlive = 0;
    h.Run(Get("/Corvane.html?callback=f&id=88", "Connection: keep-alive\r\n"), &keepAlive);
    EXPECT_EQ(keepAlive, 0);
    h.Run(Get("/Corvane.html?callback=f&id=88", "Connection: Keep-Alive\r\n"), &keepAlive);
    EXPECT_EQ(keepAlive, 1);
    h.Run(Get("/Corvane.html?callback=f&id=88"), &keepAlive);
    EXPECT_EQ(keepAlive, 1) << "a 200 answer never clears the flag";
}

TEST(AnswerComposer, ResultIsEscapedAsAJsonString)
{
    Handler h;
    h.commandResult = "a\"b\\c\x01\n\xB0\xA1";  // quote, backslash, controls, CP949 bytes
    EXPECT_EQ(h.Run(Get("/Corvane.html?callback=f&id=20")).second,
              OkAnswer("f({\"result\":\"a\\\"b\\\\c\\u0001\\u000a\xB0\xA1\"})"));
    h.commandResult = "0:0,1:12345";
    EXPECT_EQ(h.Run(Get("/Corvane.html?callback=f&id=20")).second,
              OkAnswer("f({\"result\":\"0:0,1:12345\"})"))
        << "the system's own texts are unchanged";
}

TEST(AnswerComposer, LargeResultsAreComposedWhole)
{
    Handler h;
    h.commandResult = std::string(5000, '7');
    std::string callback(3000, 'c');
    auto [r, answer] = h.Run(Get("/Corvane.html?callback=" + callback + "&id=20"));
    EXPECT_EQ(r, 1);
    EXPECT_EQ(answer, OkAnswer(callback + "({\"result\":\"" + h.commandResult + "\"})"));
}

TEST(BadRequests, RefusedWithAClearAnswerAndClosed)
{
    Handler h;
    struct Case {
        std::string request;
        std::string status;
    } cases[] = {
        {Get("/Corvane.html?callback=alert(1)//&id=88"), "HTTP/1.0 400 Bad Request\r\n"},
        {Get("/Corvane.html?callback=a%22b&id=88"), "HTTP/1.0 400 Bad Request\r\n"},
        {Get("/Corvane.html"), "HTTP/1.0 400 Bad Request\r\n"},
        {Get("/Corvane.html???"), "HTTP/1.0 400 Bad Request\r\n"},
        {"GET  HTTP/1.1\r\n\r\n", "HTTP/1.0 400 Bad Request\r\n"},
        {"GET ??? HTTP/1.1\r\n\r\n", "HTTP/1.0 400 Bad Request\r\n"},
        {"POST /Corvane.html?callback=f&id=88 HTTP/1.1\r\n\r\n", "HTTP/1.0 405 Method Not Allowed\r\n"},
        {"get /Corvane.html?callback=f&id=88 HTTP/1.1\r\n\r\n", "HTTP/1.0 405 Method Not Allowed\r\n"},
    };
    for (const Case& c : cases) {
        int keepAlive = 1;
        auto [r, answer] = h.Run(c.request, &keepAlive);
        EXPECT_EQ(r, 1) << c.request;
        EXPECT_EQ(answer.substr(0, c.status.size()), c.status) << c.request;
        EXPECT_EQ(keepAlive, 0) << c.request;
        // The length header tells the body's true length.
        size_t head = answer.find("\r\n\r\n");
        ASSERT_NE(head, std::string::npos);
        EXPECT_NE(answer.find("Content-Length: " + std::to_string(answer.size() - head - 4) + "\r\n"),
                  std::string::npos);
    }
    EXPECT_TRUE(h.calls.empty()) << "no refused request runs a command";
}

TEST(BadRequests, NoBlankEndsTheConnectionWithALogLine)
{
#ifdef _WIN32
    std::string directory = ".";
#else
    char dir[] = "/tmp/corvane-log-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string directory = dir;
#endif
    Handler h;
    h.log.directory = directory;
    std::string path = directory + "/VURovivu.log";
    std::remove(path.c_str());
    auto [r, answer] = h.Run("GARBAGE\x01\x02\xff\r\n\r\n");
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(answer.empty());
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char line[256] = {};
    size_t n = std::fread(line, 1, sizeof line - 1, f);
    std::fclose(f);
    std::string text(line, n);
    EXPECT_NE(text.find(" - No 'space' found in Request String #2.\t[ParseRequest]\t[0]"), std::string::npos)
        << text;
    std::remove(path.c_str());
}

TEST(BadRequests, TooLargeAnswer)
{
    std::string answer = ComposeTooLargeAnswer(kDate);
    EXPECT_EQ(answer.rfind("HTTP/1.0 413 Request Entity Too Large\r\n", 0), 0u);
}
