// CLog: the web server's trace file "VURovivu.log" in the Windows directory.
// One line per event, appended and the file closed again for every line, under
// one lock so that lines of several threads never interleave.
#pragma once

#include <ctime>
#include <functional>
#include <mutex>
#include <string>

class CLog {
public:
    // Where the log file lives; returns false when the directory cannot be read.
    using DirectorySource = std::function<bool(std::string& directory)>;
    // Current time, seconds since 1970-01-01 UTC.
    using TimeSource = std::function<std::time_t()>;

    CLog();
    CLog(DirectorySource directory, TimeSource now);
    virtual ~CLog();

    // Appends "time - message.\t[function]\t[code]\n" (without the function
    // column when `function` is null). Returns 1 when the whole line was
    // written, 0 otherwise (empty message, no directory, file not writable).
    int LogMessage(const char* message, const char* function, int code);

    // The line as it goes into the file, for `timeText` as FormatTimeText gives it.
    static std::string ComposeLine(const std::string& timeText, const char* message,
                                   const char* function, int code);

    static constexpr const char* kFileName = "VURovivu.log";

private:
    DirectorySource m_directory;
    TimeSource m_now;
    std::mutex m_lock;
};

// The system's Windows directory (GetWindowsDirectoryA); the host build has none.
bool SystemWindowsDirectory(std::string& directory);
