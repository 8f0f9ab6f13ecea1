// The Windows builds' platform: the HID backend, the debugger output for
// traces, the thread's window messages for the waits and the system's
// cryptographic random source (RtlGenRandom, advapi32, from Windows XP on).
#include <windows.h>

#include <ntsecapi.h>

#include "obulink/exchange_trace.h"
#include "obulink/exchange_wait.h"
#include "obulink/hid_platform_win.h"
#include "obulink/session_key.h"

namespace {

class DebuggerTraceSink : public TraceSink {
public:
    void Line(const std::string& text) override { OutputDebugStringA(text.c_str()); }
};

class WindowMessagePump : public MessagePump {
public:
    void DispatchPending(uint32_t idleMs) override
    {
        MSG message;
        bool dispatched = false;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
            dispatched = true;
        }
        if (!dispatched) MsgWaitForMultipleObjects(0, nullptr, FALSE, idleMs, QS_ALLINPUT);
    }
};

}  // namespace

HidPlatform& SystemHidPlatform()
{
    static Win32HidPlatform platform;
    return platform;
}

TraceSink& SystemTraceSink()
{
    static DebuggerTraceSink sink;
    return sink;
}

MessagePump& SystemMessagePump()
{
    static WindowMessagePump pump;
    return pump;
}

bool SystemRandomBytes(uint8_t* out, size_t count)
{
    return RtlGenRandom(out, static_cast<ULONG>(count)) != FALSE;
}
