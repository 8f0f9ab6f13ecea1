#include "obulink/hid_packet.h"

#include <algorithm>
#include <cstring>

void HidPacketHeader::WriteTo(uint8_t* report) const
{
    report[1] = dataType;
    report[2] = static_cast<uint8_t>(packetIndex >> 8);
    report[3] = static_cast<uint8_t>(packetIndex);
    report[4] = static_cast<uint8_t>(dataLength >> 16);
    report[5] = static_cast<uint8_t>(dataLength >> 8);
    report[6] = static_cast<uint8_t>(dataLength);
    report[7] = length;
    report[8] = reserved;
}

HidPacketHeader HidPacketHeader::ReadFrom(const uint8_t* report)
{
    HidPacketHeader header;
    header.dataType = report[1];
    header.packetIndex = static_cast<uint16_t>((report[2] << 8) | report[3]);
    header.dataLength = (uint32_t(report[4]) << 16) | (uint32_t(report[5]) << 8) | report[6];
    header.length = report[7];
    header.reserved = report[8];
    return header;
}

void MessageHead::WriteTo(uint8_t* message) const
{
    message[0] = command;
    std::memcpy(message + 1, param1, 2);
    std::memcpy(message + 3, param2, 2);
    std::memcpy(message + 5, dataSize, 3);
    std::memcpy(message + kRandomOffset, random, kRandomSize);
}

MessageHead MessageHead::ReadFrom(const uint8_t* message)
{
    MessageHead head;
    head.command = message[0];
    std::memcpy(head.param1, message + 1, 2);
    std::memcpy(head.param2, message + 3, 2);
    std::memcpy(head.dataSize, message + 5, 3);
    std::memcpy(head.random, message + kRandomOffset, kRandomSize);
    return head;
}

std::vector<HidReport> FrameMessage(const HidReportLayout& layout, const uint8_t* message, size_t n)
{
    std::vector<HidReport> reports;
    const size_t capacity = layout.DataCapacity();
    for (size_t offset = 0, index = 0; offset < n; offset += capacity, ++index) {
        const size_t length = n - offset < capacity ? n - offset : capacity;
        HidReport report(layout.reportLength, 0);
        report[0] = layout.reportId;
        HidPacketHeader header;
        header.dataType = index == 0 ? HidPacketHeader::kFirstReport : HidPacketHeader::kFollowingReport;
        header.packetIndex = static_cast<uint16_t>(index);
        header.dataLength = static_cast<uint32_t>(n);
        header.length = static_cast<uint8_t>(length);
        header.WriteTo(report.data());
        std::memcpy(report.data() + HidReportLayout::kDataOffset, message + offset, length);
        reports.push_back(std::move(report));
    }
    return reports;
}

AnswerAccumulator::Step AnswerAccumulator::Add(const HidPacketHeader& header, const uint8_t* data,
                                               size_t available)
{
    if (header.length > available || header.dataLength > Capacity()) return Step::Malformed;
    if (header.packetIndex == 0) Clear();
    if (m_nRecvLen + header.length > Capacity()) return Step::Malformed;
    std::memcpy(m_RecvBuf.data() + m_nRecvLen, data, header.length);
    m_nRecvLen += header.length;
    return m_nRecvLen < header.dataLength ? Step::NeedMore : Step::Complete;
}

void AnswerAccumulator::Clear()
{
    std::fill(m_RecvBuf.begin(), m_RecvBuf.end(), 0);
    m_nRecvLen = 0;
}
