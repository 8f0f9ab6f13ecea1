#include "tests/sim/biu_simulator.h"

#include <algorithm>
#include <cstring>

#include "tests/sim/obu_simulator.h"
#include "tests/sim/reference_aes.h"
#include "tests/sim/sim_framing.h"

namespace {

constexpr SimReportShape kShape = {0x00, BiuSimulator::kReportLength};

std::vector<uint8_t> Sealed(const std::vector<uint8_t>& key, std::vector<uint8_t> plain)
{
    plain.resize((plain.size() + 15) / 16 * 16, 0);
    return ReferenceAes(key.data(), 32).EncryptCbc(plain);
}

}  // namespace

bool BiuSimulator::IsUnitRequest(const std::vector<uint8_t>& plain)
{
    if (plain[5] != 0 || plain[6] != 0) return false;
    switch (plain[0]) {
    case 0x11: case 0x12: case 0x20: case 0x21: case 0x23: case 0x24: case 0x25: case 0x26: case 0x30:
        return true;
    default:
        return false;
    }
}

BiuSimulator::BiuSimulator(const uint8_t productKey[16]) : m_gatherer(kShape)
{
    std::memcpy(m_product, productKey, 16);
}

SimHidDevice& BiuSimulator::PlugInto(SimHidPlatform& platform, const std::string& product)
{
    SimHidDevice& device = platform.AddDevice(product);
    device.caps = {static_cast<uint16_t>(kReportLength), static_cast<uint16_t>(kReportLength), 0};
    device.peer = this;
    return device;
}

BiuSimulator::Scan BiuSimulator::EightBitScan(uint16_t width, uint16_t height)
{
    Scan scan;
    scan.width = width;
    scan.height = height;
    scan.format = 1;
    for (size_t y = 0; y < height; ++y)
        for (size_t x = 0; x < width; ++x) scan.pixels.push_back(static_cast<uint8_t>(x * 7 + y * 3));
    return scan;
}

BiuSimulator::Scan BiuSimulator::OneBitScan(uint16_t width, uint16_t height)
{
    Scan scan;
    scan.width = width;
    scan.height = height;
    scan.format = 0;
    for (size_t y = 0; y < height; ++y)
        for (size_t b = 0; b < width / 8u; ++b) scan.pixels.push_back(static_cast<uint8_t>(y % 2 ? 0x55 : 0xAA));
    return scan;
}

BiuSimulator::Scan BiuSimulator::FailedScan(uint8_t status)
{
    Scan scan;
    scan.status = status;
    return scan;
}

BiuSimulator::Seen BiuSimulator::Observed() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_seen;
}

BiuSimulator::UnitRecord BiuSimulator::Unit() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return unit;
}

std::vector<SimReport> BiuSimulator::Frame(const std::vector<uint8_t>& message, std::vector<size_t> chunks)
{
    return SimFrameMessage(kShape, message, std::move(chunks));
}

void BiuSimulator::OnOutputReport(const SimReport& report, SimReplyChannel& reply)
{
    std::vector<uint8_t> complete;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_seen.reports.push_back(report);
        if (report.size() != kReportLength || !m_gatherer.Add(report, complete)) return;
    }
    OnMessage(complete, reply);
}

bool BiuSimulator::Decrypts(const std::vector<uint8_t>& key, const std::vector<uint8_t>& sealed,
                            std::vector<uint8_t>& plain) const
{
    if (key.size() != 32) return false;
    plain = ReferenceAes(key.data(), 32).DecryptCbc(sealed);
    return true;
}

void BiuSimulator::OnMessage(const std::vector<uint8_t>& sealed, SimReplyChannel& reply)
{
    if (sealed.empty() || sealed.size() % 16) return;
    std::unique_lock<std::mutex> hold(m_lock);
    const uint8_t* answerProduct = answerProductKey.size() == 16 ? answerProductKey.data() : m_product;

    // A random-key request opens a new session whenever it comes.
    std::vector<uint8_t> plain;
    Decrypts(ObuSimulator::DeviceKey(m_product, nullptr, nullptr), sealed, plain);
    if (sealed.size() == 16 && plain[0] == 0x10 && std::all_of(plain.begin() + 1, plain.begin() + 8, [](uint8_t b) { return b == 0; })) {
        m_seen.messages.push_back(plain);
        ++m_seen.handshakes;
        std::memcpy(m_seen.lastAppRandom, &plain[8], 8);
        m_session = false;
        m_chainedKey.clear();
        if (!answerHandshake) return;
        m_session = true;
        std::vector<uint8_t> answer(16, 0);
        answer[0] = handshakeCommand;
        answer[1] = handshakeByte1;
        std::memcpy(&answer[8], deviceRandom, 8);
        auto reports = Frame(Sealed(ObuSimulator::DeviceKey(answerProduct, &plain[8], nullptr), answer));
        reports.insert(lateReportsBeforeHandshakeAnswer ? reports.begin() : reports.end(), lateReports.begin(),
                       lateReports.end());
        lateReports.clear();
        const uint32_t delay = handshakeDelayMs;
        hold.unlock();
        for (const auto& r : reports) reply.Deliver(r, delay);
        return;
    }
    if (!m_session) {
        ++m_seen.undecodable;
        return;
    }

    KeyUsed used = KeyUsed::ChainedKey;
    if (!(Decrypts(m_chainedKey, sealed, plain) && IsUnitRequest(plain))) {
        used = KeyUsed::CommandSendKey;
        Decrypts(ObuSimulator::DeviceKey(m_product, nullptr, deviceRandom), sealed, plain);
        if (!IsUnitRequest(plain)) {
            ++m_seen.undecodable;
            return;
        }
    }
    m_seen.messages.push_back(plain);
    m_seen.commandKeys.push_back(used);
    ++m_seen.commands;
    std::memcpy(m_seen.lastAppRandom, &plain[8], 8);
    m_chainedKey = ObuSimulator::DeviceKey(m_product, &plain[8], deviceRandom);

    std::vector<uint8_t> answer = AnswerTo(plain);
    if (!answerCommand) return;
    std::memcpy(&answer[8], deviceRandom, 8);
    const auto sealedAnswer = Sealed(ObuSimulator::DeviceKey(answerProduct, &plain[8], deviceRandom), answer);
    const auto reports = rawAnswer ? rawAnswer(plain[0], sealedAnswer) : Frame(sealedAnswer, answerChunks);
    if (withholdAnswers) {
        m_withheld.insert(m_withheld.end(), reports.begin(), reports.end());
        return;
    }
    const uint32_t delay = answerDelayMs;
    hold.unlock();
    for (const auto& r : reports) reply.Deliver(r, delay);
}

std::vector<SimReport> BiuSimulator::TakeWithheld()
{
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<SimReport> reports;
    reports.swap(m_withheld);
    return reports;
}

std::vector<uint8_t> BiuSimulator::AnswerTo(const std::vector<uint8_t>& command)
{
    // Called under the lock; carries out the command on the unit's state.
    std::vector<uint8_t> answer(16, 0);
    answer[0] = command[0];
    answer[1] = status;
    const uint8_t user = command[2];
    switch (command[0]) {
    case 0x11: {
        std::vector<uint8_t> d(109, 0);
        d[0] = unit.refusal[0];
        d[1] = unit.refusal[1];
        d[2] = unit.issueStatus;
        d[3] = unit.value3;
        std::memcpy(&d[4], unit.numbers, 16);
        std::memcpy(&d[20], unit.serial, 16);
        for (int g = 0; g < 4; ++g) std::memcpy(&d[37 + 18 * g], unit.users[g], 18);
        answer.insert(answer.end(), d.begin(), d.end());
        break;
    }
    case 0x12:
        answer.insert(answer.end(), userInfo.begin(), userInfo.end());
        break;
    case 0x20:
        unit.issueStatus = 3;
        std::memset(unit.numbers, 0, sizeof unit.numbers);
        std::memset(unit.users, 0, sizeof unit.users);
        break;
    case 0x21: {
        Scan scan = EightBitScan(32, 40);
        if (!scans.empty()) {
            scan = scans.front();
            scans.pop_front();
        }
        answer[1] = scan.status;
        answer[2] = user;
        if (scan.status == 0) {
            answer.resize(24, 0);
            answer[18] = static_cast<uint8_t>(scan.width >> 8);
            answer[19] = static_cast<uint8_t>(scan.width);
            answer[20] = static_cast<uint8_t>(scan.height >> 8);
            answer[21] = static_cast<uint8_t>(scan.height);
            answer[22] = scan.format;
            answer.insert(answer.end(), scan.pixels.begin(), scan.pixels.end());
        }
        break;
    }
    case 0x23:
    case 0x24: {
        Verdict verdict;
        verdict.user = command[0] == 0x23 ? user : 1;
        if (!verdicts.empty()) {
            verdict = verdicts.front();
            verdicts.pop_front();
        }
        answer[1] = verdict.status;
        answer[2] = verdict.user;
        break;
    }
    case 0x25:
    case 0x26:
        m_seen.deletions.emplace_back(command[0], user);
        if (command[0] == 0x26 && user >= 1 && user <= 4) std::memset(unit.users[user - 1], 0, 18);
        break;
    case 0x30:
        m_seen.holderRequests.push_back(command);
        if (command.size() >= 96) {
            unit.issueStatus = 1;
            std::memset(unit.numbers, 0, sizeof unit.numbers);
            std::memcpy(unit.numbers, &command[16], 8);
            for (int g = 0; g < 4; ++g) std::memcpy(unit.users[g], &command[24 + 18 * g], 18);
        }
        break;
    }
    return answer;
}
