// The local command protocol: how the issuing page's JSONP requests are gathered,
// read and answered. Pure functions over bytes, no sockets: CHTTPServer runs them
// on each connection's thread.
#pragma once

#include <cstddef>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/cstring.h"

class CLog;

namespace corvane::http {

inline constexpr const char* kCommandPath = "/Corvane.html";
inline constexpr const char* kServerName = "CorvaneWebServer/2.0";
inline constexpr const char* kVersionResult = "1.7.1.1";
inline constexpr const char* kNoFunctionResult = "NOFUNC";
inline constexpr int kVersionId = 88;

// A connection keeps at most this many bytes of requests not yet answered: a
// longer request is refused with a 413 answer, and while an answer waits for
// the client to read, pipelined requests beyond it stay unread in the socket.
inline constexpr size_t kMaxRequestBytes = 64 * 1024;

// Length of the first complete request in `buffer`: the bytes up to and including
// the first CR LF CR LF, or 0 when no request is complete yet. Bytes after it
// belong to the next request of the connection.
size_t CompleteRequestLength(std::string_view buffer);

// Splits `text` at `separator`: runs of separators count as one, separators at
// either end are skipped, no token is empty.
std::vector<std::string_view> SplitTokens(std::string_view text, char separator);

// The number at the start of `text` as atoi reads it (white space, sign, digits);
// 0 when there is none. Values beyond 32 bits saturate.
int ReadNumber(std::string_view text);

// A JSONP callback name the agent will call: letters, digits, '_', '$' and '.'.
// The empty name is allowed (the body then starts with the parenthesis).
bool IsSafeCallbackName(std::string_view name);

// `text` as the inside of a JSON string: '"', '\' and control bytes escaped;
// every other byte (the code page 949 ones included) unchanged.
std::string JsonStringEscape(std::string_view text);

// callback({"result":"<escaped result>"})
std::string ComposeJsonpBody(std::string_view callback, std::string_view result);

// The 200 answer around `body`, with its Date header `date`.
std::string ComposeOkAnswer(std::string_view date, std::string_view body);
// The 404 answer for any path other than the command page.
std::string ComposeNotFoundAnswer(std::string_view date);
// A refusal such as "400 Bad Request": HTTP/1.0, a short text/plain reason body.
std::string ComposeErrorAnswer(std::string_view status, std::string_view date,
                               std::string_view reason);

// Answer for a request that grew past kMaxRequestBytes without completing.
std::string ComposeTooLargeAnswer(std::string_view date);

// Runs command `id` with `param`; returns false when no command has that id.
using CommandRunner = std::function<bool(int id, const CString& param, CString& result)>;

// The request handler: reads one complete request and composes its answer.
class RequestHandler {
public:
    RequestHandler(CLog& log, CommandRunner commands,
                   std::function<std::time_t()> now = [] { return std::time(nullptr); });

    // Returns 1 when `answer` holds an answer to send, 0 when the connection is
    // to end with nothing sent. Sets `keepAlive` to 1 when the request asks for
    // it with the exact header bytes, and to 0 after any refusal.
    int ParseRequest(const CString& request, CString& answer, int& keepAlive);

private:
    CLog& m_log;
    CommandRunner m_commands;
    std::function<std::time_t()> m_now;
};

}  // namespace corvane::http
