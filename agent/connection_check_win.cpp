#include "agent/connection_check_win.h"

#include <new>
#include <thread>

#include "framework/message_box_win.h"

namespace corvane::panel {

void FetchServerTestPage(CInternetSession& session, const std::string& url)
{
    // A fresh answer every round: a cached page would hide a server that has gone.
    const DWORD flags = INTERNET_FLAG_TRANSFER_BINARY | INTERNET_FLAG_KEEP_CONNECTION |
                        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    std::unique_ptr<CInternetFile> file = session.OpenURL(url.c_str(), flags);
    file->SetReadBufferSize(kServerTestReadBufferSize);
    std::string page;
    CString line;
    while (file->ReadString(line)) {
        page += line.str();
        page += '\n';
    }
    file->Close();  // the page itself is not looked at
}

void ServerConnectionTest(const ServerTestSettings& settings)
{
    std::unique_ptr<CInternetSession> session;
    try {
        session = std::make_unique<CInternetSession>();
    } catch (const CInternetException&) {
        // Without WinINet no round can succeed; every round then reports.
    } catch (const std::bad_alloc&) {
    }
    while (!(settings.stop && settings.stop->load())) {
        // Nothing may leave this thread (it would end the agent): a round that
        // finds no memory is dropped and the next one tries again.
        try {
            try {
                if (!session) throw CInternetException(ERROR_INTERNET_INTERNAL_ERROR);
                FetchServerTestPage(*session, settings.url);
            } catch (const CInternetException&) {
                AfxMessageBox(kServerUnreachableText, MB_OK);
            }
        } catch (const std::bad_alloc&) {
        }
        Sleep(settings.periodMs);
    }
}

void StartServerTestThread(const ServerTestSettings& settings)
{
    std::thread([settings] { ServerConnectionTest(settings); }).detach();
}

}  // namespace corvane::panel
