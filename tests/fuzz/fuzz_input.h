// The fuzz targets read their input front to back through FuzzInput, so that a
// seed file reads as the bytes it describes: the next byte, the next n bytes,
// and zeros once the input has run out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool Empty() const { return m_at >= m_size; }
    size_t Left() const { return Empty() ? 0 : m_size - m_at; }

    uint8_t Byte() { return Empty() ? 0 : m_data[m_at++]; }
    uint16_t Word()  // big-endian
    {
        const uint16_t high = Byte();
        return static_cast<uint16_t>(high << 8 | Byte());
    }
    // The next n bytes, zeros past the end.
    std::vector<uint8_t> Bytes(size_t n)
    {
        std::vector<uint8_t> out(n, 0);
        for (size_t i = 0; i < n && !Empty(); ++i) out[i] = m_data[m_at++];
        return out;
    }
    // A length byte and as many bytes as it says (fewer where the input ends).
    std::vector<uint8_t> Counted()
    {
        const size_t n = Byte();
        return Bytes(n < Left() ? n : Left());
    }
    // A text up to the next NUL byte or the end of the input.
    std::string Text()
    {
        std::string text;
        while (!Empty()) {
            const char c = static_cast<char>(m_data[m_at++]);
            if (c == '\0') break;
            text += c;
        }
        return text;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

// Bytes as upper-case hexadecimal digits, two a byte.
inline std::string UpperHex(const uint8_t* bytes, size_t n)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < n; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

// A broken expectation is a finding: stop here so that the input is kept.
inline void Require(bool condition)
{
    if (!condition) std::abort();
}
