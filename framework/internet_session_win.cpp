#include "framework/internet_session_win.h"

#include "framework/app_win.h"

CInternetSession::CInternetSession(const char* agent, DWORD access)
{
    const char* name = agent ? agent : AfxGetAppName();
    m_session = InternetOpenA(*name ? name : "Corvane", access, nullptr, nullptr, 0);
    if (!m_session) throw CInternetException(GetLastError());
}

void CInternetSession::Close()
{
    if (m_session) InternetCloseHandle(m_session);
    m_session = nullptr;
}

std::unique_ptr<CInternetFile> CInternetSession::OpenURL(const char* url, DWORD flags)
{
    if (!m_session) throw CInternetException(ERROR_INVALID_HANDLE);
    HINTERNET file = InternetOpenUrlA(m_session, url, nullptr, 0, flags, 0);
    if (!file) throw CInternetException(GetLastError());
    return std::make_unique<CInternetFile>(file);
}

void CInternetFile::Close()
{
    if (m_handle) InternetCloseHandle(m_handle);
    m_handle = nullptr;
}

bool CInternetFile::Fill()
{
    if (m_ended || !m_handle) return false;
    std::string chunk(m_bufferSize, '\0');
    DWORD read = 0;
    if (!InternetReadFile(m_handle, chunk.data(), m_bufferSize, &read))
        throw CInternetException(GetLastError());
    if (read == 0) {
        m_ended = true;
        return false;
    }
    m_buffer.erase(0, m_at);
    m_at = 0;
    m_buffer.append(chunk.data(), read);
    return true;
}

bool CInternetFile::ReadString(CString& line)
{
    for (;;) {
        const size_t end = m_buffer.find('\n', m_at);
        if (end != std::string::npos) {
            size_t length = end - m_at;
            if (length > 0 && m_buffer[end - 1] == '\r') --length;
            line = CString(m_buffer.data() + m_at, length);
            m_at = end + 1;
            return true;
        }
        if (!Fill()) {
            if (m_at >= m_buffer.size()) return false;
            line = CString(m_buffer.substr(m_at));  // the last line, without a line end
            m_at = m_buffer.size();
            return true;
        }
    }
}
