#include "readerlink/reader_platform_win.h"

#include <windows.h>

#include <cstring>

#include "readerlink/serial_line_win.h"
#include "readerlink/tarnlink_app.h"

namespace tarnlink {

std::unique_ptr<ISerialLine> Win32ReaderPlatform::OpenSerial(int port, const SerialSettings& settings)
{
    return Win32SerialLine::Open(port, settings);
}

uint32_t Win32ReaderPlatform::TickMs()
{
    return GetTickCount();
}

void Win32ReaderPlatform::SleepMs(uint32_t milliseconds)
{
    Sleep(milliseconds);
}

namespace {

void SendTrace(const char* windowTitle, const char* text)
{
    HWND window = FindWindowA(nullptr, windowTitle);
    if (!window) return;
    COPYDATASTRUCT data{};
    data.dwData = Win32ReaderPlatform::kTraceDataKind;
    data.cbData = static_cast<DWORD>(std::strlen(text) + 1);
    data.lpData = const_cast<char*>(text);
    // A trace window that hangs must not hang the library.
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 2000, &answer);
}

}  // namespace

void Win32ReaderPlatform::TraceText(const char* text)
{
    SendTrace(kTraceWindowTitle, text);
}

void Win32ReaderPlatform::ListenerTraceText(const char* text)
{
    SendTrace(kListenerWindowTitle, text);
}

Win32ReaderPlatform& ThePlatform()
{
    static Win32ReaderPlatform platform;
    return platform;
}

CTarnlinkApp& TheApp()
{
    static CTarnlinkApp app(ThePlatform());
    return app;
}

}  // namespace tarnlink
