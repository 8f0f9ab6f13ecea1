// CString: the agent's text type. A byte string in the process's ANSI code page
// (949), as the rest of the agent and the issuing page exchange them. It is a thin
// face over std::string with the operations the agent uses; any byte, NUL
// included, may be held.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

class CString {
public:
    CString() = default;
    CString(const char* text) : m_text(text ? text : "") {}
    CString(const char* data, size_t length) : m_text(data, length) {}
    CString(std::string text) : m_text(std::move(text)) {}
    CString(std::string_view text) : m_text(text) {}

    size_t GetLength() const { return m_text.size(); }
    bool IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }
    char GetAt(size_t index) const { return m_text.at(index); }

    // The first `count` bytes, the bytes from `first` on, or `count` bytes from
    // `first`; each is cut to the text, never read past it.
    CString Left(size_t count) const { return m_text.substr(0, count); }
    CString Mid(size_t first) const;
    CString Mid(size_t first, size_t count) const;
    CString Right(size_t count) const;

    // Index of the first occurrence from `start`, or -1.
    int Find(std::string_view what, size_t start = 0) const;
    int Find(char what, size_t start = 0) const;
    // Replaces every occurrence, left to right without overlap; returns the count.
    int Replace(std::string_view from, std::string_view to);

    CString& operator+=(const CString& other) { m_text += other.m_text; return *this; }
    CString& operator+=(const char* other) { m_text += other; return *this; }
    CString& operator+=(char c) { m_text += c; return *this; }
    friend CString operator+(CString a, const CString& b) { a += b; return a; }
    friend CString operator+(CString a, const char* b) { a += b; return a; }
    friend CString operator+(const char* a, const CString& b) { return CString(a) + b; }
    friend bool operator==(const CString& a, const CString& b) { return a.m_text == b.m_text; }
    friend bool operator==(const CString& a, const char* b) { return a.m_text == (b ? b : ""); }

    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void FormatV(const char* format, va_list args);

    // NUL-terminated view, as the framework's string converts to LPCSTR.
    operator const char*() const { return m_text.c_str(); }
    const char* c_str() const { return m_text.c_str(); }
    const std::string& str() const { return m_text; }
    std::string& str() { return m_text; }
    std::string_view view() const { return m_text; }

private:
    std::string m_text;
};
