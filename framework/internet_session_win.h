// The HTTP client classes: an internet session (WinINet) that opens URLs as
// files read line by line. Failures to reach the server (no server, refused,
// time-out, bad URL) raise CInternetException, as the framework's own do.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <memory>
#include <string>

#include "framework/cstring.h"

class CInternetException {
public:
    explicit CInternetException(DWORD error) : m_dwError(error) {}
    DWORD m_dwError;  // the WinINet or system error code
};

// An opened URL, read as text lines through a read buffer.
class CInternetFile {
public:
    explicit CInternetFile(HINTERNET handle) : m_handle(handle) {}
    ~CInternetFile() { Close(); }
    CInternetFile(const CInternetFile&) = delete;
    CInternetFile& operator=(const CInternetFile&) = delete;

    // The size of the buffer that reads go through (default 4096 bytes).
    void SetReadBufferSize(UINT size) { m_bufferSize = size ? size : 1; }
    // The next line without its line end ("\n" or "\r\n"); false at the end of
    // the answer. Raises CInternetException when reading fails.
    bool ReadString(CString& line);
    void Close();

private:
    bool Fill();

    HINTERNET m_handle;
    UINT m_bufferSize = 4096;
    std::string m_buffer;
    size_t m_at = 0;
    bool m_ended = false;
};

class CInternetSession {
public:
    // Without `agent` the application's name is the user agent; `access` is
    // one of the INTERNET_OPEN_TYPE_ values (preconfigured by default).
    explicit CInternetSession(const char* agent = nullptr, DWORD access = INTERNET_OPEN_TYPE_PRECONFIG);
    ~CInternetSession() { Close(); }
    CInternetSession(const CInternetSession&) = delete;
    CInternetSession& operator=(const CInternetSession&) = delete;

    // Opens `url` with the INTERNET_FLAG_ values in `flags`. Raises
    // CInternetException when the server cannot be reached.
    std::unique_ptr<CInternetFile> OpenURL(const char* url, DWORD flags);
    void Close();

private:
    HINTERNET m_session = nullptr;
};
