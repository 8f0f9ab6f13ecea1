#include "agent/server/http_protocol.h"

#include <climits>

#include "agent/log.h"
#include "agent/time_text.h"

namespace corvane::http {

size_t CompleteRequestLength(std::string_view buffer)
{
    size_t end = buffer.find("\r\n\r\n");
    return end == std::string_view::npos ? 0 : end + 4;
}

std::vector<std::string_view> SplitTokens(std::string_view text, char separator)
{
    std::vector<std::string_view> tokens;
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && text[at] == separator) ++at;
        if (at >= text.size()) break;
        size_t end = text.find(separator, at);
        if (end == std::string_view::npos) end = text.size();
        tokens.push_back(text.substr(at, end - at));
        at = end;
    }
    return tokens;
}

int ReadNumber(std::string_view text)
{
    size_t at = 0;
    auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (at < text.size() && isSpace(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    long long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    if (value < INT_MIN) value = INT_MIN;
    return static_cast<int>(value);
}

bool IsSafeCallbackName(std::string_view name)
{
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '$' || c == '.';
        if (!ok) return false;
    }
    return true;
}

std::string JsonStringEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        unsigned char b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20 || b == 0x7F) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[b >> 4];
            out += kHex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::string ComposeJsonpBody(std::string_view callback, std::string_view result)
{
    std::string body(callback);
    body += "({\"result\":\"";
    body += JsonStringEscape(result);
    body += "\"})";
    return body;
}

std::string ComposeOkAnswer(std::string_view date, std::string_view body)
{
    std::string answer = "HTTP/1.1 200 OK\r\nDate: ";
    answer += date;
    answer += "\r\nServer: ";
    answer += kServerName;
    answer += "\r\nAccept-Ranges: bytes\r\nContent-Length: ";
    answer += std::to_string(body.size());
    answer += "\r\nConnection: Keep-Alive\r\nContent-Type: application/json\r\n\r\n";
    answer += body;
    return answer;
}

std::string ComposeNotFoundAnswer(std::string_view date)
{
    std::string answer = "HTTP/1.0 404 Resource not found\r\nContent-Length: 0\r\n"
                         "Content-Type: text/html\r\nDate: ";
    answer += date;
    answer += "\r\nServer: ";
    answer += kServerName;
    answer += "\r\n\r\n";
    return answer;
}

std::string ComposeErrorAnswer(std::string_view status, std::string_view date,
                               std::string_view reason)
{
    std::string body(reason);
    body += "\r\n";
    std::string answer = "HTTP/1.0 ";
    answer += status;
    answer += "\r\nContent-Length: ";
    answer += std::to_string(body.size());
    answer += "\r\nContent-Type: text/plain\r\nConnection: close\r\nDate: ";
    answer += date;
    answer += "\r\nServer: ";
    answer += kServerName;
    answer += "\r\n\r\n";
    answer += body;
    return answer;
}

std::string ComposeTooLargeAnswer(std::string_view date)
{
    return ComposeErrorAnswer("413 Request Entity Too Large", date,
                              "The request is larger than the agent accepts.");
}

RequestHandler::RequestHandler(CLog& log, CommandRunner commands, std::function<std::time_t()> now)
    : m_log(log), m_commands(std::move(commands)), m_now(std::move(now))
{
}

int RequestHandler::ParseRequest(const CString& requestText, CString& answer, int& keepAlive)
{
    std::string_view request = requestText.view();
    size_t blank = request.find(' ');
    if (blank == std::string_view::npos) {
        m_log.LogMessage("No 'space' found in Request String #2", "ParseRequest", 0);
        return 0;
    }
    std::string_view method = request.substr(0, blank);
    std::string_view uri = request.substr(blank + 1);
    uri = uri.substr(0, uri.find(' '));

    if (request.find("\nConnection: Keep-Alive") != std::string_view::npos) keepAlive = 1;

    std::string date = FormatHttpDate(m_now());
    std::vector<std::string_view> uriParts = SplitTokens(uri, '?');

    m_log.LogMessage("callback in", "ParseRequest", 0);

    auto refuse = [&](std::string_view status, std::string_view reason) {
        answer = CString(ComposeErrorAnswer(status, date, reason));
        keepAlive = 0;
        return 1;
    };

    if (uriParts.empty()) return refuse("400 Bad Request", "The request names no path.");
    if (uriParts[0] != kCommandPath) {
        answer = CString(ComposeNotFoundAnswer(date));
        keepAlive = 0;
        return 1;
    }
    if (method != "GET") return refuse("405 Method Not Allowed", "Only GET is answered.");
    if (uriParts.size() < 2) return refuse("400 Bad Request", "The request carries no query.");

    CString callback, id, param;
    for (std::string_view token : SplitTokens(uriParts[1], '&')) {
        std::vector<std::string_view> pair = SplitTokens(token, '=');
        if (pair.empty()) continue;
        // A key written without a value leaves its item empty.
        std::string_view value = pair.size() > 1 ? pair[1] : std::string_view();
        if (pair[0] == "callback") callback = CString(value);
        else if (pair[0] == "id") id = CString(value);
        else if (pair[0] == "param") param = CString(value);
    }

    if (!IsSafeCallbackName(callback.view()))
        return refuse("400 Bad Request", "The callback name may hold only letters, digits, _, $ and '.'.");

    int number = ReadNumber(id.view());
    CString result;
    if (number == kVersionId) {
        result = kVersionResult;
    } else if (!m_commands || !m_commands(number, param, result)) {
        result = kNoFunctionResult;
    }

    answer = CString(ComposeOkAnswer(date, ComposeJsonpBody(callback.view(), result.view())));
    return 1;
}

}  // namespace corvane::http
