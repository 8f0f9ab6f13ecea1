#include "agent/server/http_server_win.h"

#include "agent/time_text.h"

CHTTPServer::CHTTPServer(corvane::http::CommandRunner commands)
    : m_handler(*this, std::move(commands))
{
}

int CHTTPServer::ParseRequest(const CString& request, CString& answer, int& keepAlive)
{
    return m_handler.ParseRequest(request, answer, keepAlive);
}

int CHTTPServer::OnClientConnected(const char*, unsigned short)
{
    return 0;
}

int CHTTPServer::OnResponseSent(unsigned int)
{
    return 0;
}

size_t CHTTPServer::CompleteRequestLength(const std::string& buffer)
{
    return corvane::http::CompleteRequestLength(buffer);
}

CString CHTTPServer::RequestTooLargeAnswer()
{
    return CString(corvane::http::ComposeTooLargeAnswer(corvane::FormatHttpDate(std::time(nullptr))));
}
