// The local time the receipt tests print: 5 March 2024, 09:07:00.
#pragma once

#include <ctime>

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
