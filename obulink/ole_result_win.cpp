#include "obulink/ole_result_win.h"

#include <new>
#include <string>
#include <vector>

BSTR AllocOleResult(const CString& text)
{
    const int length = static_cast<int>(text.GetLength());
    std::vector<wchar_t> wide(static_cast<size_t>(length) + 1, L'\0');
    const int converted = length ? MultiByteToWideChar(CP_THREAD_ACP, 0, text.c_str(), length, wide.data(), length) : 0;
    BSTR result = SysAllocStringLen(wide.data(), static_cast<UINT>(converted));
    if (!result) throw std::bad_alloc();
    return result;
}

CString OleResultText(BSTR text)
{
    if (!text) return CString();
    const int length = static_cast<int>(wcslen(text));  // up to the first NUL
    if (length == 0) return CString();
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) WideCharToMultiByte(CP_ACP, 0, text, length, out.data(), bytes, nullptr, nullptr);
    return CString(std::move(out));
}
