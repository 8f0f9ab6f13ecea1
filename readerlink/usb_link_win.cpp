#include "readerlink/usb_link_win.h"

#include <setupapi.h>

#include <vector>

namespace tarnlink {

namespace {

const GUID kReaderInterfaceClass = {0xAF90DEC5, 0x138C, 0x3AD6, {0x56, 0x71, 0x01, 0x36, 0xEF, 0x7D, 0x5C, 0x13}};

}  // namespace

std::unique_ptr<IUsbLink> Win32UsbLink::Open(const char* path)
{
    HANDLE device = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                                nullptr);
    if (device == INVALID_HANDLE_VALUE) return nullptr;
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!event) {
        CloseHandle(device);
        return nullptr;
    }
    return std::unique_ptr<IUsbLink>(new Win32UsbLink(device, event));
}

Win32UsbLink::~Win32UsbLink()
{
    CloseHandle(m_device);
    CloseHandle(m_event);
}

int Win32UsbLink::Finish(DWORD limitMs)
{
    DWORD count = 0;
    if (GetLastError() != ERROR_IO_PENDING) return kFailed;
    if (WaitForSingleObject(m_event, limitMs) != WAIT_OBJECT_0) {
        CancelIo(m_device);
        GetOverlappedResult(m_device, &m_overlapped, &count, TRUE);  // the cancellation completes
        return kTimedOut;
    }
    if (!GetOverlappedResult(m_device, &m_overlapped, &count, FALSE)) return kFailed;
    return static_cast<int>(count);
}

int Win32UsbLink::Write(const uint8_t* bytes, int n)
{
    m_overlapped = OVERLAPPED{};
    m_overlapped.hEvent = m_event;
    DWORD count = 0;
    if (WriteFile(m_device, bytes, static_cast<DWORD>(n), &count, &m_overlapped)) return static_cast<int>(count);
    const int result = Finish(kWriteLimitMs);
    return result == kTimedOut ? kFailed : result;
}

int Win32UsbLink::Read(uint8_t* buffer, int capacity, uint32_t timeoutMs)
{
    m_overlapped = OVERLAPPED{};
    m_overlapped.hEvent = m_event;
    DWORD count = 0;
    if (ReadFile(m_device, buffer, static_cast<DWORD>(capacity), &count, &m_overlapped))
        return static_cast<int>(count);
    return Finish(timeoutMs);
}

void SetupApiReaderBus::BeginScan()
{
    EndScan();
    HDEVINFO set = SetupDiGetClassDevsA(&kReaderInterfaceClass, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set != INVALID_HANDLE_VALUE) m_set = set;
}

std::unique_ptr<IUsbLink> SetupApiReaderBus::OpenAt(int index)
{
    if (!m_set) return nullptr;
    HDEVINFO set = static_cast<HDEVINFO>(m_set);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &kReaderInterfaceClass, static_cast<DWORD>(index), &data))
        return nullptr;
    DWORD needed = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &needed, nullptr);
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return nullptr;
    std::vector<char> storage(needed);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, needed, nullptr, nullptr)) return nullptr;
    return Win32UsbLink::Open(detail->DevicePath);
}

void SetupApiReaderBus::EndScan()
{
    if (m_set) SetupDiDestroyDeviceInfoList(static_cast<HDEVINFO>(m_set));
    m_set = nullptr;
}

}  // namespace tarnlink
