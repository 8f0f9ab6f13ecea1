// The host build's platform: no HID devices, no debugger, no window messages;
// random bytes from /dev/urandom.
#include <cstdio>

#include "obulink/exchange_trace.h"
#include "obulink/exchange_wait.h"
#include "obulink/hid_platform.h"
#include "obulink/session_key.h"

#include "framework/clock.h"

namespace {

class NoHidDevices : public HidPlatform {
public:
    bool InterfacePath(unsigned, std::string&) override { return false; }
    HidHandle Open(const std::string&) override { return kInvalidHidHandle; }
    void Close(HidHandle) override {}
    bool ReadAttributes(HidHandle) override { return false; }
    bool ReadProductString(HidHandle, std::string&) override { return false; }
    bool ReadCaps(HidHandle, HidReportCaps&) override { return false; }
    bool ReadNumInputBuffers(HidHandle, uint32_t&) override { return false; }
    HidIoResult Write(HidHandle, const uint8_t*, size_t, uint32_t) override { return HidIoResult::Gone; }
    HidIoResult Read(HidHandle, uint8_t*, size_t, uint32_t, size_t&) override { return HidIoResult::Gone; }
    bool FlushInput(HidHandle) override { return false; }
    HidOsVersion OsVersion() override { return {}; }
};

class NoTraceOutput : public TraceSink {
public:
    void Line(const std::string&) override {}
};

class IdleOnlyPump : public MessagePump {
public:
    void DispatchPending(uint32_t idleMs) override { corvane::SleepMs(idleMs); }
};

}  // namespace

HidPlatform& SystemHidPlatform()
{
    static NoHidDevices platform;
    return platform;
}

TraceSink& SystemTraceSink()
{
    static NoTraceOutput sink;
    return sink;
}

MessagePump& SystemMessagePump()
{
    static IdleOnlyPump pump;
    return pump;
}

bool SystemRandomBytes(uint8_t* out, size_t count)
{
    std::FILE* source = std::fopen("/dev/urandom", "rb");
    if (!source) return false;
    const size_t read = std::fread(out, 1, count, source);
    std::fclose(source);
    return read == count;
}
