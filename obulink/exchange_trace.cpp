#include "obulink/exchange_trace.h"

#include <cstdio>

namespace {

TraceSink* g_activeSink = nullptr;

std::string Printf(const char* format, unsigned a, unsigned b = 0, unsigned c = 0)
{
    char text[64];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

}  // namespace

TraceSink& ActiveTraceSink()
{
    return g_activeSink ? *g_activeSink : SystemTraceSink();
}

ScopedTraceSink::ScopedTraceSink(TraceSink& sink) : m_previous(g_activeSink)
{
    g_activeSink = &sink;
}

ScopedTraceSink::~ScopedTraceSink()
{
    g_activeSink = m_previous;
}

std::string ExchangeTrace::FormatBytes(const uint8_t* data, size_t n, const char* byteFormat)
{
    std::string text;
    char group[16];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(group, sizeof group, byteFormat, data[i]);
        text += group;
    }
    return text;
}

void ExchangeTrace::Emit(std::string line) const
{
    line += m_lineEnd;
    ActiveTraceSink().Line(line);
}

void ExchangeTrace::Label(const char* label) const
{
    Emit(std::string("[APP] ") + label);
}

void ExchangeTrace::Data(const std::string& text) const
{
    Emit("        " + text);
}

void ExchangeTrace::Bytes(const uint8_t* data, size_t n) const
{
    Data(FormatBytes(data, n, m_byteFormat));
}

void ExchangeTrace::Labelled(const char* label, const uint8_t* data, size_t n) const
{
    Label(label);
    Bytes(data, n);
}

void ExchangeTrace::Withheld(const char* label, size_t n) const
{
    Label(label);
    std::string groups;
    for (size_t i = 0; i < n; ++i) groups += "[**]";
    Data(groups);
}

void ExchangeTrace::HeadLines(const uint8_t* m) const
{
    Data(Printf("Command   : [%02x]", m[0]));
    Data(Printf("Param1    : [%02x][%02x]", m[1], m[2]));
    Data(Printf("Param2    : [%02x][%02x]", m[3], m[4]));
    Data(Printf("Data Size : [%02x][%02x][%02x]", m[5], m[6], m[7]));
}

void ExchangeTrace::PacketHeaderLines(const uint8_t* r, int dataLengthBytes) const
{
    Data(Printf("Data Type : [%02x]", r[1]));
    Data(Printf("Packet Index : [%02x][%02x]", r[2], r[3]));
    if (dataLengthBytes == 2)
        Data(Printf("DataLength : [%02x][%02x]", r[4], r[5]));
    else
        Data(Printf("DataLength : [%02x][%02x][%02x]", r[4], r[5], r[6]));
    Data(Printf("Length : [%02x]", r[7]));
    Data(Printf("Reserved : [%02x]", r[8]));
}
