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

// Once the thread has been asked to quit (WM_QUIT), a wait dispatches nothing
// more and leaves the quit in the queue, with its exit code, for the loop that
// runs the thread, as the system's own modal loops do; it still waits for its
// exchange. (The quit is taken off the queue to be seen, and posted again.)
class WindowMessagePump : public MessagePump {
public:
    void DispatchPending(uint32_t idleMs) override
    {
        MSG message;
        if (QuitPending()) {
            Sleep(idleMs);
            return;
        }
        bool dispatched = false;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                return;
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
            dispatched = true;
        }
        if (!dispatched) MsgWaitForMultipleObjects(0, nullptr, FALSE, idleMs, QS_ALLINPUT);
    }

private:
    static bool QuitPending()
    {
        MSG message;
        return PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
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
