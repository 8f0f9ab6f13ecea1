// The local time the receipt tests print, and the time zone of the tests that
// tell local time from UTC.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

// 5 March 2024, 09:07:00.
inline std::tm FixedTime()
{
    std::tm t = {};
    t.tm_year = 2024 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 5;
    t.tm_hour = 9;
    t.tm_min = 7;
    t.tm_sec = 0;
    return t;
}

// For its lifetime the process keeps the time of the agent's PCs, nine hours
// east of UTC, whatever zone the machine that runs the tests is in.
class KoreanTimeZone {
public:
    KoreanTimeZone()
    {
        const char* before = std::getenv("TZ");
        m_hadZone = before != nullptr;
        if (before) m_before = before;
        Set("KST-9");
    }
    ~KoreanTimeZone() { Set(m_hadZone ? m_before.c_str() : nullptr); }
    KoreanTimeZone(const KoreanTimeZone&) = delete;
    KoreanTimeZone& operator=(const KoreanTimeZone&) = delete;

private:
    static void Set(const char* zone)
    {
#ifdef _WIN32
        _putenv(("TZ=" + std::string(zone ? zone : "")).c_str());
        _tzset();
#else
        if (zone)
            setenv("TZ", zone, 1);
        else
            unsetenv("TZ");
        tzset();
#endif
    }

    bool m_hadZone = false;
    std::string m_before;
};
