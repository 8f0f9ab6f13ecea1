// The report framing as the device simulators speak it: a message cut into
// reports (report id, type 1 then 2, 2-byte index, 3-byte total, length,
// reserved, data from byte 9) and the reports a device gets gathered back
// into messages. The OBU's reports are 64 bytes with report id 1, the
// biometric unit's 65 with report id 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/sim/sim_hid_platform.h"

struct SimReportShape {
    uint8_t reportId;
    size_t reportLength;
    size_t DataBytes() const { return reportLength - 9; }
};

// `message` cut in `chunks` data bytes (default: as many as a report holds).
std::vector<SimReport> SimFrameMessage(const SimReportShape& shape, const std::vector<uint8_t>& message,
                                       std::vector<size_t> chunks = {});

// Gathers the reports a device is written into whole messages.
class SimMessageGatherer {
public:
    explicit SimMessageGatherer(const SimReportShape& shape) : m_shape(shape) {}
    // True when `report` completed a message, which is then in `message`.
    bool Add(const SimReport& report, std::vector<uint8_t>& message);

private:
    SimReportShape m_shape;
    std::vector<uint8_t> m_gathering;
    size_t m_expected = 0;
};
