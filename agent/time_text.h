// Time texts of the log file and of the HTTP answers, with English day and month
// names whatever the process locale is.
#pragma once

#include <ctime>
#include <string>

namespace corvane {

// Broken-down local / UTC time of `t` (thread-safe on both builds).
std::tm LocalTime(std::time_t t);
std::tm UtcTime(std::time_t t);

// "%a, %d %b %Y %H:%M:%S", e.g. "Tue, 08 Dec 2026 19:19:00".
std::string FormatTimeText(const std::tm& tm);

// The HTTP date: the UTC time as "%a, %d %b %Y %H:%M:%S GMT".
std::string FormatHttpDate(std::time_t t);

}  // namespace corvane
