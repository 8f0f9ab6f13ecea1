// Web parameter texts through the query splitter, the number reader and the
// "%2C"/"%3A" repair.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "agent/commands/obu_issue_ctrl.h"
#include "agent/server/http_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    CString repaired = COBUIssueCtrl::RepairCommaColon(CString(text));
    if (repaired.GetLength() > text.size()) std::abort();
    CString commaOnly = COBUIssueCtrl::RepairComma(CString(text));
    if (commaOnly.GetLength() < repaired.GetLength()) std::abort();
    for (std::string_view token : corvane::http::SplitTokens(text, '&')) {
        if (token.empty()) std::abort();
        corvane::http::SplitTokens(token, '=');
        corvane::http::ReadNumber(token);
    }
    corvane::http::JsonStringEscape(text);
    return 0;
}
