#include "tests/sim/sim_framing.h"

#include <algorithm>

std::vector<SimReport> SimFrameMessage(const SimReportShape& shape, const std::vector<uint8_t>& message,
                                       std::vector<size_t> chunks)
{
    if (chunks.empty())
        for (size_t left = message.size(); left; left -= std::min(left, shape.DataBytes()))
            chunks.push_back(std::min(left, shape.DataBytes()));
    std::vector<SimReport> reports;
    size_t at = 0;
    for (size_t i = 0; i < chunks.size(); ++i) {
        SimReport r(shape.reportLength, 0);
        r[0] = shape.reportId;
        r[1] = i == 0 ? 1 : 2;
        r[2] = static_cast<uint8_t>(i >> 8);
        r[3] = static_cast<uint8_t>(i);
        r[4] = static_cast<uint8_t>(message.size() >> 16);
        r[5] = static_cast<uint8_t>(message.size() >> 8);
        r[6] = static_cast<uint8_t>(message.size());
        r[7] = static_cast<uint8_t>(chunks[i]);
        for (size_t k = 0; k < chunks[i] && at < message.size() && 9 + k < r.size(); ++k) r[9 + k] = message[at++];
        reports.push_back(r);
    }
    return reports;
}

bool SimMessageGatherer::Add(const SimReport& report, std::vector<uint8_t>& message)
{
    if (report.size() < 9 || report[0] != m_shape.reportId) return false;
    const size_t index = (report[2] << 8) | report[3];
    const size_t total = (size_t(report[4]) << 16) | (size_t(report[5]) << 8) | report[6];
    const size_t length = std::min<size_t>(report[7], report.size() - 9);
    if (index == 0) {
        m_gathering.clear();
        m_expected = total;
    }
    m_gathering.insert(m_gathering.end(), report.begin() + 9, report.begin() + 9 + length);
    if (m_gathering.size() < m_expected) return false;
    message.assign(m_gathering.begin(), m_gathering.begin() + m_expected);
    m_gathering.clear();
    return true;
}
