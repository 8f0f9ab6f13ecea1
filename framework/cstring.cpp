#include "framework/cstring.h"

#include <cstdio>
#include <vector>

CString CString::Mid(size_t first) const
{
    if (first >= m_text.size()) return CString();
    return m_text.substr(first);
}

CString CString::Mid(size_t first, size_t count) const
{
    if (first >= m_text.size()) return CString();
    return m_text.substr(first, count);
}

CString CString::Right(size_t count) const
{
    if (count >= m_text.size()) return *this;
    return m_text.substr(m_text.size() - count);
}

int CString::Find(std::string_view what, size_t start) const
{
    size_t at = m_text.find(what, start);
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::Find(char what, size_t start) const
{
    size_t at = m_text.find(what, start);
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::Replace(std::string_view from, std::string_view to)
{
    if (from.empty()) return 0;
    std::string out;
    int count = 0;
    size_t at = 0;
    for (;;) {
        size_t hit = m_text.find(from, at);
        if (hit == std::string::npos) break;
        out.append(m_text, at, hit - at);
        out.append(to);
        at = hit + from.size();
        ++count;
    }
    if (count == 0) return 0;
    out.append(m_text, at, std::string::npos);
    m_text.swap(out);
    return count;
}

void CString::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CString::FormatV(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed < 0) { m_text.clear(); return; }
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    m_text.assign(buffer.data(), static_cast<size_t>(needed));
}
