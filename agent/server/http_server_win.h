// CHTTPServer: the agent's local command server, the request protocol on top of
// the generic server.
#pragma once

#include "agent/server/generic_server_win.h"
#include "agent/server/http_protocol.h"

class CHTTPServer : public CGenericServer {
public:
    // Runs each request's command through `commands`.
    explicit CHTTPServer(corvane::http::CommandRunner commands);

    int ParseRequest(const CString& request, CString& answer, int& keepAlive) override;

protected:
    int OnClientConnected(const char* address, unsigned short port) override;
    int OnResponseSent(unsigned int bytes) override;
    size_t CompleteRequestLength(const std::string& buffer) override;
    CString RequestTooLargeAnswer() override;
    size_t MaxRequestBytes() const override { return corvane::http::kMaxRequestBytes; }

private:
    corvane::http::RequestHandler m_handler;
};
