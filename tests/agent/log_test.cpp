#include "agent/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "agent/time_text.h"
#include "tests/agent/fixed_time.h"

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

// A directory of the test's own for the log file.
std::string TestDirectory()
{
#ifdef _WIN32
    return ".";
#else
    static std::string dir = [] {
        char name[] = "/tmp/corvane-log-XXXXXX";
        return std::string(mkdtemp(name));
    }();
    return dir;
#endif
}

#ifdef _WIN32
constexpr const char* kEol = "\r\n";  // text mode
#else
constexpr const char* kEol = "\n";
#endif

}  // namespace

TEST(LogLine, TimeTextHasEnglishNames)
{
    std::tm tm{};
    tm.tm_year = 126;
    tm.tm_mon = 11;
    tm.tm_mday = 8;
    tm.tm_wday = 2;
    tm.tm_hour = 9;
    tm.tm_min = 5;
    tm.tm_sec = 7;
    EXPECT_EQ(corvane::FormatTimeText(tm), "Tue, 08 Dec 2026 09:05:07");
    EXPECT_EQ(corvane::FormatHttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
}

TEST(LogLine, ColumnsWithAndWithoutFunction)
{
    EXPECT_EQ(CLog::ComposeLine("T", "callback in", "ParseRequest", 0), "T - callback in.\t[ParseRequest]\t[0]\n");
    EXPECT_EQ(CLog::ComposeLine("T", "bind(...) failure", "AcceptThread", 10048),
              "T - bind(...) failure.\t[AcceptThread]\t[10048]\n");
    EXPECT_EQ(CLog::ComposeLine("T", "m", nullptr, -5), "T - m.\t[-5]\n");
}

TEST(LogFile, CreatedThenAppendedInTheDirectory)
{
    const KoreanTimeZone zone;
    const std::time_t now = 1796757540;  // 2026-12-08 19:19:00 UTC
    CLog log([](std::string& dir) { dir = TestDirectory(); return true; }, [now] { return now; });
    std::string path = TestDirectory() + "/" + CLog::kFileName;
    std::remove(path.c_str());

    EXPECT_EQ(log.LogMessage("callback in", "ParseRequest", 0), 1);
    EXPECT_EQ(log.LogMessage("second", nullptr, 7), 1);
    EXPECT_EQ(log.LogMessage("", "ParseRequest", 0), 0) << "an empty message writes nothing";
    const std::string time = "Wed, 09 Dec 2026 04:19:00";  // local time, nine hours on
    EXPECT_EQ(ReadFile(path), time + " - callback in.\t[ParseRequest]\t[0]" + kEol + time + " - second.\t[7]" + kEol);

    std::remove(path.c_str());
    EXPECT_EQ(log.LogMessage("again", "f", 1), 1) << "a deleted file is made anew";
    EXPECT_EQ(ReadFile(path), time + " - again.\t[f]\t[1]" + kEol);
    std::remove(path.c_str());
}

TEST(LogFile, UnwritableOrMissingDirectoryReturnsZero)
{
    CLog noDir([](std::string&) { return false; }, [] { return std::time_t(0); });
    EXPECT_EQ(noDir.LogMessage("m", "f", 0), 0);
    CLog badDir([](std::string& dir) { dir = TestDirectory() + "/no/such/dir"; return true; },
                [] { return std::time_t(0); });
    EXPECT_EQ(badDir.LogMessage("m", "f", 0), 0);
    EXPECT_EQ(badDir.LogMessage("m", "f", 0), 0) << "each call tries again and fails the same way";
}

TEST(LogFile, ALineWithoutMemoryIsDroppedAndNothingThrown)
{
    // The server threads write their last line from their exception handlers.
    CLog log([](std::string&) -> bool { throw std::bad_alloc(); }, [] { return std::time_t(0); });
    EXPECT_EQ(log.LogMessage("Out of memory, connection ended", "ClientThread", 0), 0);
    EXPECT_EQ(log.LogMessage("m", "f", 0), 0) << "the lock was let go";
}

TEST(LogFile, LinesOfManyThreadsStayWhole)
{
    CLog log([](std::string& dir) { dir = TestDirectory(); return true; }, [] { return std::time(nullptr); });
    std::string path = TestDirectory() + "/" + CLog::kFileName;
    std::remove(path.c_str());
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&log, t] {
            std::string message(200, static_cast<char>('a' + t));
            for (int i = 0; i < 50; ++i) log.LogMessage(message.c_str(), "Thread", t);
        });
    for (auto& t : threads) t.join();
    std::istringstream lines(ReadFile(path));
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        size_t dash = line.find(" - ");
        ASSERT_NE(dash, std::string::npos) << line;
        char c = line[dash + 3];
        EXPECT_EQ(line.substr(dash + 3, 200), std::string(200, c)) << "interleaved line: " << line;
    }
    EXPECT_EQ(count, 400);
    std::remove(path.c_str());
}
