// Bytes of one connection, as any local program may send them: gathered in
// pieces, cut into requests, parsed and answered.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "agent/log.h"
#include "agent/server/http_protocol.h"

using namespace corvane::http;

namespace {

CLog g_log([](std::string&) { return false; }, [] { return std::time_t(1796757540); });

void Require(bool condition)
{
    if (!condition) std::abort();
}

// A well-formed answer: its Content-Length is the length of what follows the head.
void CheckAnswer(const std::string& answer)
{
    size_t head = answer.find("\r\n\r\n");
    Require(head != std::string::npos);
    size_t at = answer.find("Content-Length: ");
    Require(at != std::string::npos && at < head);
    Require(std::strtoul(answer.c_str() + at + 16, nullptr, 10) == answer.size() - head - 4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    RequestHandler handler(
        g_log,
        [](int id, const CString& param, CString& result) {
            if (id < 11 || id > 71) return false;
            result = param;  // a command that echoes its text back
            return true;
        },
        [] { return std::time_t(1796757540); });

    // The first byte chooses the piece size, the rest is the stream.
    if (size == 0) return 0;
    size_t piece = 1 + data[0] % 64;
    std::string buffer;
    int keepAlive = 0;
    for (size_t at = 1; at < size; at += piece) {
        buffer.append(reinterpret_cast<const char*>(data) + at, std::min(piece, size - at));
        for (;;) {
            size_t length = CompleteRequestLength(buffer);
            if (length == 0) break;
            Require(length <= buffer.size());
            CString answer;
            int result = handler.ParseRequest(CString(buffer.substr(0, length)), answer, keepAlive);
            buffer.erase(0, length);
            if (result == 0) return 0;
            CheckAnswer(answer.str());
            if (!keepAlive) return 0;
        }
        if (buffer.size() > kMaxRequestBytes) {
            CheckAnswer(ComposeTooLargeAnswer("date"));
            return 0;
        }
    }
    return 0;
}
