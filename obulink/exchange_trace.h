// Debugger-output traces of the device exchanges.
//
// A label line is "[APP] %s"; a data line is eight blanks and a text, usually
// one "[%02x]" group per byte. Some biometric transactions end each line with
// a line feed and write bytes as "[%02X]" or "[%02x] ": ExchangeTrace takes the
// line end and the byte group format as parameters, so every exchange formats
// its lines through this one class.
//
// Lines go to the active TraceSink: OutputDebugStringA in the Windows builds,
// nowhere in the host build; tests record them with ScopedTraceSink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class TraceSink {
public:
    virtual ~TraceSink() = default;
    virtual void Line(const std::string& text) = 0;
};

TraceSink& ActiveTraceSink();
TraceSink& SystemTraceSink();  // defined per platform

class ScopedTraceSink {
public:
    explicit ScopedTraceSink(TraceSink& sink);
    ~ScopedTraceSink();
    ScopedTraceSink(const ScopedTraceSink&) = delete;
    ScopedTraceSink& operator=(const ScopedTraceSink&) = delete;

private:
    TraceSink* m_previous;
};

class ExchangeTrace {
public:
    explicit ExchangeTrace(const char* lineEnd = "", const char* byteFormat = "[%02x]")
        : m_lineEnd(lineEnd), m_byteFormat(byteFormat) {}

    // "[APP] <label>"
    void Label(const char* label) const;
    // "        <text>"
    void Data(const std::string& text) const;
    // A data line of one byte group per byte.
    void Bytes(const uint8_t* data, size_t n) const;
    // A label line followed by a data line of the bytes.
    void Labelled(const char* label, const uint8_t* data, size_t n) const;
    // Key material (product key, session keys) never reaches a trace: the
    // label line, then a data line with one "[**]" group per byte withheld.
    void Withheld(const char* label, size_t n) const;
    // The four head lines of a message: Command, Param1, Param2, Data Size.
    void HeadLines(const uint8_t* message) const;
    // The five header lines of a report (bytes 1-8); `dataLengthBytes` is 3,
    // or 2 where a transaction shows only the two high bytes.
    void PacketHeaderLines(const uint8_t* report, int dataLengthBytes = 3) const;

    static std::string FormatBytes(const uint8_t* data, size_t n, const char* byteFormat = "[%02x]");

private:
    void Emit(std::string line) const;

    const char* m_lineEnd;
    const char* m_byteFormat;
};
