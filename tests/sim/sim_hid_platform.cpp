#include "tests/sim/sim_hid_platform.h"

#include <algorithm>
#include <cstring>

#include "framework/clock.h"

struct SimHidPlatform::Slot {
    SimHidDevice device;
    HidHandle handle = kInvalidHidHandle;  // the open handle, if any
    std::deque<Pending> input;
    std::vector<SimReport> written;
    std::vector<SimIo> io;
};

class SimHidPlatform::Channel : public SimReplyChannel {
public:
    Channel(SimHidPlatform& platform, size_t index) : m_platform(platform), m_index(index) {}
    void Deliver(SimReport report, uint32_t delayMs) override
    {
        m_platform.QueueInput(m_index, std::move(report), delayMs);
    }

private:
    SimHidPlatform& m_platform;
    size_t m_index;
};

SimHidPlatform::SimHidPlatform(double timeScale) : m_timeScale(timeScale) {}
SimHidPlatform::~SimHidPlatform() = default;

uint64_t SimHidPlatform::RealMs() const
{
    return corvane::MonotonicMs();
}

SimHidDevice& SimHidPlatform::AddDevice(const std::string& product)
{
    std::lock_guard<std::mutex> hold(m_lock);
    auto slot = std::make_unique<Slot>();
    slot->device.path = "\\\\?\\hid#sim_" + std::to_string(m_slots.size()) + "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    slot->device.product = product;
    m_slots.push_back(std::move(slot));
    return m_slots.back()->device;
}

SimHidDevice& SimHidPlatform::AddDeviceWithUnreadableProduct()
{
    SimHidDevice& device = AddDevice("");
    device.productReadable = false;
    return device;
}

void SimHidPlatform::QueueInput(size_t index, SimReport report, uint32_t delayMs)
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        const uint64_t due = RealMs() + static_cast<uint64_t>(delayMs / m_timeScale);
        auto& queue = m_slots.at(index)->input;
        // Kept in order of delivery time.
        auto at = std::find_if(queue.begin(), queue.end(), [due](const Pending& p) { return p.dueRealMs > due; });
        queue.insert(at, Pending{due, std::move(report)});
    }
    m_inputArrived.notify_all();
}

int SimHidPlatform::OpenHandles() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return static_cast<int>(std::count_if(m_slots.begin(), m_slots.end(),
                                          [](const auto& s) { return s->handle != kInvalidHidHandle; }));
}

bool SimHidPlatform::IsOpen(size_t index) const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_slots.at(index)->handle != kInvalidHidHandle;
}

std::vector<SimReport> SimHidPlatform::Written(size_t index) const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_slots.at(index)->written;
}

size_t SimHidPlatform::ReadCalls() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_readCalls;
}

std::vector<SimIo> SimHidPlatform::IoLog(size_t index) const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_slots.at(index)->io;
}

SimHidPlatform::Slot* SimHidPlatform::SlotOf(HidHandle handle) const
{
    for (const auto& slot : m_slots)
        if (slot->handle == handle && handle != kInvalidHidHandle) return slot.get();
    return nullptr;
}

bool SimHidPlatform::InterfacePath(unsigned index, std::string& path)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_lookupFails || index >= m_slots.size()) return false;
    path = m_slots[index]->device.path;
    return true;
}

HidHandle SimHidPlatform::Open(const std::string& path)
{
    std::lock_guard<std::mutex> hold(m_lock);
    for (auto& slot : m_slots) {
        if (slot->device.path != path) continue;
        if (slot->device.openFails || slot->handle != kInvalidHidHandle) return kInvalidHidHandle;
        if (slot->device.opensBeforeFailing == 0) return kInvalidHidHandle;
        if (slot->device.opensBeforeFailing > 0) --slot->device.opensBeforeFailing;
        slot->handle = m_nextHandle++;
        return slot->handle;
    }
    return kInvalidHidHandle;
}

void SimHidPlatform::Close(HidHandle handle)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (Slot* slot = SlotOf(handle)) slot->handle = kInvalidHidHandle;
}

bool SimHidPlatform::ReadAttributes(HidHandle handle)
{
    std::lock_guard<std::mutex> hold(m_lock);
    Slot* slot = SlotOf(handle);
    return slot && !slot->device.attributesFail;
}

bool SimHidPlatform::ReadProductString(HidHandle handle, std::string& product)
{
    std::lock_guard<std::mutex> hold(m_lock);
    Slot* slot = SlotOf(handle);
    if (!slot || !slot->device.productReadable) return false;
    product = slot->device.product;
    return true;
}

bool SimHidPlatform::ReadCaps(HidHandle handle, HidReportCaps& caps)
{
    std::lock_guard<std::mutex> hold(m_lock);
    Slot* slot = SlotOf(handle);
    if (!slot || slot->device.capsFail) return false;
    caps = slot->device.caps;
    return true;
}

bool SimHidPlatform::ReadNumInputBuffers(HidHandle handle, uint32_t& count)
{
    std::lock_guard<std::mutex> hold(m_lock);
    Slot* slot = SlotOf(handle);
    if (!slot || slot->device.numBuffersFail) return false;
    count = slot->device.numInputBuffers;
    return true;
}

HidIoResult SimHidPlatform::Write(HidHandle handle, const uint8_t* data, size_t length, uint32_t timeoutMs)
{
    SimDevicePeer* peer = nullptr;
    SimReport report(data, data + length);
    size_t index = 0;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        Slot* slot = SlotOf(handle);
        if (!slot) return HidIoResult::Gone;
        if (slot->device.writeResult != HidIoResult::Done && slot->written.size() >= slot->device.writesBeforeResult) {
            slot->io.push_back({true, timeoutMs, slot->device.writeResult});
            return slot->device.writeResult;
        }
        slot->io.push_back({true, timeoutMs, HidIoResult::Done});
        slot->written.push_back(report);
        peer = slot->device.peer;
        index = static_cast<size_t>(std::find_if(m_slots.begin(), m_slots.end(),
                                                 [slot](const auto& s) { return s.get() == slot; }) -
                                    m_slots.begin());
    }
    if (peer) {
        Channel channel(*this, index);
        peer->OnOutputReport(report, channel);
    }
    return HidIoResult::Done;
}

HidIoResult SimHidPlatform::Read(HidHandle handle, uint8_t* buffer, size_t length, uint32_t timeoutMs,
                                 size_t& bytesRead)
{
    std::unique_lock<std::mutex> hold(m_lock);
    ++m_readCalls;
    const uint64_t deadline = RealMs() + std::max<uint64_t>(1, static_cast<uint64_t>(timeoutMs / m_timeScale));
    for (;;) {
        Slot* slot = SlotOf(handle);
        if (!slot) return HidIoResult::Gone;
        if (slot->device.readFails) {
            slot->io.push_back({false, timeoutMs, HidIoResult::Gone});
            return HidIoResult::Gone;
        }
        if (slot->device.failingReads > 0) {
            --slot->device.failingReads;
            slot->io.push_back({false, timeoutMs, HidIoResult::Failed});
            return HidIoResult::Failed;
        }
        const uint64_t now = RealMs();
        if (!slot->input.empty() && slot->input.front().dueRealMs <= now) {
            SimReport report = std::move(slot->input.front().report);
            slot->input.pop_front();
            const size_t n = std::min(length, report.size());
            std::memcpy(buffer, report.data(), n);
            bytesRead = n;
            slot->io.push_back({false, timeoutMs, HidIoResult::Done});
            return HidIoResult::Done;
        }
        if (now >= deadline) {
            slot->io.push_back({false, timeoutMs, HidIoResult::TimedOut});
            return HidIoResult::TimedOut;
        }
        uint64_t wakeAt = deadline;
        if (!slot->input.empty()) wakeAt = std::min(wakeAt, slot->input.front().dueRealMs);
        m_inputArrived.wait_for(hold, std::chrono::milliseconds(wakeAt - now));
    }
}

bool SimHidPlatform::FlushInput(HidHandle handle)
{
    std::lock_guard<std::mutex> hold(m_lock);
    Slot* slot = SlotOf(handle);
    if (!slot) return false;
    const uint64_t now = RealMs();
    auto& queue = slot->input;
    queue.erase(std::remove_if(queue.begin(), queue.end(), [now](const Pending& p) { return p.dueRealMs <= now; }),
                queue.end());
    return true;
}
