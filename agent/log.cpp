#include "agent/log.h"

#include <cstdio>

#include "agent/time_text.h"

namespace {
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif
}  // namespace

CLog::CLog() : CLog(&SystemWindowsDirectory, [] { return std::time(nullptr); }) {}

CLog::CLog(DirectorySource directory, TimeSource now)
    : m_directory(std::move(directory)), m_now(std::move(now))
{
}

CLog::~CLog() = default;

std::string CLog::ComposeLine(const std::string& timeText, const char* message,
                              const char* function, int code)
{
    std::string line = timeText + " - " + message + ".\t";
    if (function) {
        line += '[';
        line += function;
        line += "]\t";
    }
    line += '[' + std::to_string(code) + "]\n";
    return line;
}

int CLog::LogMessage(const char* message, const char* function, int code)
{
    // Called from the server threads' exception handlers too: a line that
    // cannot be made (no memory for it) is not written, and nothing is thrown.
    try {
        std::lock_guard<std::mutex> hold(m_lock);
        std::time_t now = m_now();
        if (!message || !*message) return 0;

        std::string path;
        if (!m_directory || !m_directory(path) || path.empty()) return 0;
        if (path.back() != '\\' && path.back() != '/') path += kPathSeparator;
        path += kFileName;

        std::string line = ComposeLine(corvane::FormatTimeText(corvane::LocalTime(now)), message,
                                       function, code);
        std::FILE* file = std::fopen(path.c_str(), "a");
        if (!file) return 0;
        size_t written = std::fwrite(line.data(), 1, line.size(), file);
        int closed = std::fclose(file);
        return (written == line.size() && closed == 0) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
