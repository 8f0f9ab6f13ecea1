#include "obulink/hid_platform_win.h"

#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}
#include <hidpi.h>

#include <vector>


bool Win32HidPlatform::InterfacePath(unsigned index, std::string& path)
{
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set = SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return false;

    bool found = false;
    SP_DEVICE_INTERFACE_DATA interfaceData = {};
    interfaceData.cbSize = sizeof interfaceData;
    if (SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &interfaceData)) {
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &required, nullptr);
        if (required >= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
            std::vector<uint8_t> storage(required);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            if (SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, required, nullptr, nullptr)) {
                path = detail->DevicePath;
                found = true;
            }
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

HidHandle Win32HidPlatform::Open(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    return file == INVALID_HANDLE_VALUE ? kInvalidHidHandle : FromWin32Handle(file);
}

void Win32HidPlatform::Close(HidHandle handle)
{
    if (IsValidHidHandle(handle)) CloseHandle(ToWin32Handle(handle));
}

bool Win32HidPlatform::ReadAttributes(HidHandle handle)
{
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof attributes;
    return HidD_GetAttributes(ToWin32Handle(handle), &attributes) != FALSE;
}

bool Win32HidPlatform::ReadProductString(HidHandle handle, std::string& product)
{
    WCHAR wide[128] = {};  // 256 bytes
    if (!HidD_GetProductString(ToWin32Handle(handle), wide, sizeof wide)) return false;
    wide[127] = 0;
    char ansi[256] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, sizeof ansi - 1, nullptr, nullptr);
    product = ansi;
    return true;
}

bool Win32HidPlatform::ReadCaps(HidHandle handle, HidReportCaps& caps)
{
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(ToWin32Handle(handle), &preparsed)) return false;
    HIDP_CAPS hidCaps = {};
    const bool ok = HidP_GetCaps(preparsed, &hidCaps) == HIDP_STATUS_SUCCESS;
    if (ok) {
        caps.inputReportLength = hidCaps.InputReportByteLength;
        caps.outputReportLength = hidCaps.OutputReportByteLength;
        caps.featureReportLength = hidCaps.FeatureReportByteLength;
    }
    HidD_FreePreparsedData(preparsed);
    return ok;
}

bool Win32HidPlatform::ReadNumInputBuffers(HidHandle handle, uint32_t& count)
{
    ULONG buffers = 0;
    if (!HidD_GetNumInputBuffers(ToWin32Handle(handle), &buffers)) return false;
    count = buffers;
    return true;
}

bool Win32HidPlatform::FlushInput(HidHandle handle)
{
    return HidD_FlushQueue(ToWin32Handle(handle)) != FALSE;
}

namespace {

// What a failed request says of the device: unplugged, or a handle that is
// no longer valid, fails every later request too; any other error may pass.
HidIoResult FailureOf(DWORD error)
{
    switch (error) {
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_INVALID_HANDLE:
        return HidIoResult::Gone;
    default:
        return HidIoResult::Failed;
    }
}

// Completes one overlapped request that ReadFile or WriteFile started.
HidIoResult FinishOverlapped(HANDLE file, BOOL started, OVERLAPPED& overlapped, DWORD timeoutMs,
                             DWORD& transferred)
{
    if (started) {
        GetOverlappedResult(file, &overlapped, &transferred, FALSE);
        return HidIoResult::Done;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) return FailureOf(error);
    const DWORD wait = WaitForSingleObject(overlapped.hEvent, timeoutMs);
    if (wait == WAIT_OBJECT_0) {
        return GetOverlappedResult(file, &overlapped, &transferred, FALSE) ? HidIoResult::Done
                                                                          : FailureOf(GetLastError());
    }
    // Cancel, then wait until the request has really ended, so that nothing
    // touches the caller's buffer or the event after we return.
    CancelIo(file);
    DWORD ignored = 0;
    GetOverlappedResult(file, &overlapped, &ignored, TRUE);
    return wait == WAIT_TIMEOUT ? HidIoResult::TimedOut : HidIoResult::Failed;
}

}  // namespace

namespace {

// Starts one overlapped read or write with an event of its own and completes it.
HidIoResult RunOverlapped(HANDLE file, bool write, uint8_t* buffer, DWORD length, DWORD timeoutMs,
                          DWORD& transferred)
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!overlapped.hEvent) return HidIoResult::Failed;
    const BOOL started = write ? WriteFile(file, buffer, length, nullptr, &overlapped)
                               : ReadFile(file, buffer, length, nullptr, &overlapped);
    const HidIoResult result = FinishOverlapped(file, started, overlapped, timeoutMs, transferred);
    CloseHandle(overlapped.hEvent);
    return result;
}

}  // namespace

HidIoResult OverlappedWrite(HANDLE file, const uint8_t* data, DWORD length, DWORD timeoutMs)
{
    DWORD written = 0;
    // WriteFile does not change the buffer.
    return RunOverlapped(file, true, const_cast<uint8_t*>(data), length, timeoutMs, written);
}

HidIoResult OverlappedRead(HANDLE file, uint8_t* buffer, DWORD length, DWORD timeoutMs, DWORD& bytesRead)
{
    DWORD read = 0;
    const HidIoResult result = RunOverlapped(file, false, buffer, length, timeoutMs, read);
    if (result == HidIoResult::Done) bytesRead = read;
    return result;
}

HidIoResult Win32HidPlatform::Write(HidHandle handle, const uint8_t* data, size_t length, uint32_t timeoutMs)
{
    return OverlappedWrite(ToWin32Handle(handle), data, static_cast<DWORD>(length), timeoutMs);
}

HidIoResult Win32HidPlatform::Read(HidHandle handle, uint8_t* buffer, size_t length, uint32_t timeoutMs,
                                   size_t& bytesRead)
{
    DWORD read = 0;
    const HidIoResult result = OverlappedRead(ToWin32Handle(handle), buffer, static_cast<DWORD>(length),
                                              timeoutMs, read);
    if (result == HidIoResult::Done) bytesRead = read;
    return result;
}

HidOsVersion Win32HidPlatform::OsVersion()
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const BOOL ok = GetVersionExA(&info);
#pragma GCC diagnostic pop
    HidOsVersion version;
    if (!ok) return version;
    version.isNt = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
    version.major = info.dwMajorVersion;
    version.minor = info.dwMinorVersion;
    return version;
}
