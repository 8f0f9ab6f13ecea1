#include "obulink/hid_device.h"

#include <cstring>

namespace {

constexpr unsigned kMaxInterfaces = 64;
constexpr size_t kPathBufferSize = 256;

HidPlatform* g_activePlatform = nullptr;

}  // namespace

HidPlatform& ActiveHidPlatform()
{
    return g_activePlatform ? *g_activePlatform : SystemHidPlatform();
}

ScopedHidPlatform::ScopedHidPlatform(HidPlatform& platform) : m_previous(g_activePlatform)
{
    g_activePlatform = &platform;
}

ScopedHidPlatform::~ScopedHidPlatform()
{
    g_activePlatform = m_previous;
}

CHidDeviceRecord::CHidDeviceRecord(const HidDeviceKind& kind) : m_pKind(&kind)
{
    ResetState();
}

CHidDeviceRecord::~CHidDeviceRecord() = default;

void CHidDeviceRecord::ResetState()
{
    m_hDevice = kInvalidHidHandle;
    m_bOpened = 0;
    m_wInputReportLength = 0;
    m_wOutputReportLength = 30;
    m_wFeatureReportLength = 0;
    const HidOsVersion version = ActiveHidPlatform().OsVersion();
    if (version.isNt && version.major == 5 && version.minor >= 1)
        m_wNumInputBuffers = 512;  // Windows XP, Server 2003
    else if (version.isNt && version.major == 5 && version.minor == 0)
        m_wNumInputBuffers = 200;  // Windows 2000
    else
        m_wNumInputBuffers = 0;
}

int CHidDeviceRecord::GetDevicePath(unsigned index, char path[256])
{
    if (index >= kMaxInterfaces) return 0;
    std::string found;
    if (!ActiveHidPlatform().InterfacePath(index, found)) return 0;
    const size_t length = found.size() < kPathBufferSize - 1 ? found.size() : kPathBufferSize - 1;
    std::memcpy(path, found.data(), length);
    path[length] = '\0';
    return 1;
}

HidHandle CHidDeviceRecord::OpenIfOurs(const HidDeviceKind& kind, const char* path)
{
    HidPlatform& platform = ActiveHidPlatform();
    const HidHandle handle = platform.Open(path);
    if (!IsValidHidHandle(handle)) return kInvalidHidHandle;
    if (!platform.ReadAttributes(handle)) {
        platform.Close(handle);
        return kInvalidHidHandle;
    }
    // Only a product string that was read and starts with the prefix makes
    // the device ours: one that cannot be read may be any device at all, and
    // taking it would send it the bytes meant for ours.
    std::string product;
    if (platform.ReadProductString(handle, product) && product.size() >= kind.productPrefixLength &&
        std::memcmp(product.data(), kind.productPrefix, kind.productPrefixLength) == 0)
        return handle;
    platform.Close(handle);
    return kInvalidHidHandle;
}

unsigned CHidDeviceRecord::CountDevices(const HidDeviceKind& kind)
{
    unsigned count = 0;
    char path[kPathBufferSize];
    for (unsigned index = 0; GetDevicePath(index, path); ++index) {
        const HidHandle handle = OpenIfOurs(kind, path);
        if (handle == kInvalidHidHandle) continue;
        ++count;
        ActiveHidPlatform().Close(handle);
    }
    return count;
}

uint8_t CHidDeviceRecord::OpenDevice(unsigned n)
{
    if (m_bOpened) return kHidAlreadyOpen;
    char path[kPathBufferSize];
    if (!GetDevicePath(0, path)) return kHidNotFound;

    unsigned matching = 0;
    bool opened = false;
    for (unsigned index = 0; GetDevicePath(index, path); ++index) {
        const HidHandle handle = OpenIfOurs(*m_pKind, path);
        if (handle == kInvalidHidHandle) continue;
        if (matching++ == n) {
            m_hDevice = handle;
            m_bOpened = 1;
            opened = true;
            ReadCapabilities();
        } else {
            ActiveHidPlatform().Close(handle);
        }
    }
    return opened ? kHidDone : kHidNotFound;
}

void CHidDeviceRecord::ReadCapabilities()
{
    HidPlatform& platform = ActiveHidPlatform();
    HidReportCaps caps;
    if (!platform.ReadCaps(m_hDevice, caps)) return;
    if (caps.inputReportLength) m_wInputReportLength = caps.inputReportLength;
    if (caps.outputReportLength) m_wOutputReportLength = caps.outputReportLength;
    if (caps.featureReportLength) m_wFeatureReportLength = caps.featureReportLength;
    uint32_t buffers = 0;
    if (platform.ReadNumInputBuffers(m_hDevice, buffers)) m_wNumInputBuffers = static_cast<uint16_t>(buffers);
}

uint8_t CHidDeviceRecord::WriteReport(const uint8_t* buffer, size_t length)
{
    if (m_pKind->fixedWriteLength) length = m_pKind->fixedWriteLength;
    if (length > m_wOutputReportLength) return kHidLength;
    if (!m_bOpened) return kHidNotOpen;
    if (!IsValidHidHandle(m_hDevice)) {
        ResetState();
        return kHidNotOpen;
    }
    switch (ActiveHidPlatform().Write(m_hDevice, buffer, length, m_dwWriteTimeout)) {
    case HidIoResult::Done: return kHidDone;
    case HidIoResult::TimedOut: return kHidTimeout;
    case HidIoResult::Failed:
    case HidIoResult::Gone: break;
    }
    return kHidIoError;
}

uint8_t CHidDeviceRecord::ReadReport(uint8_t* buffer, size_t size, size_t& bytesRead)
{
    if (size < m_wInputReportLength) return kHidLength;
    if (m_wNumInputBuffers == 0) return kHidNoInputBuffers;
    std::memset(buffer, 0, size);
    if (!m_bOpened) return kHidNotOpen;
    if (!IsValidHidHandle(m_hDevice)) {
        ResetState();
        return kHidNotOpen;
    }
    size_t read = 0;
    switch (ActiveHidPlatform().Read(m_hDevice, buffer, m_wInputReportLength, m_dwReadTimeout, read)) {
    case HidIoResult::Done:
        bytesRead = read;
        return kHidDone;
    case HidIoResult::TimedOut: return kHidTimeout;
    case HidIoResult::Gone: return kHidDeviceGone;
    case HidIoResult::Failed: break;
    }
    return kHidIoError;
}

uint8_t CHidDeviceRecord::FlushInput()
{
    if (!m_bOpened || !IsValidHidHandle(m_hDevice)) return kHidNotOpen;
    return ActiveHidPlatform().FlushInput(m_hDevice) ? kHidDone : kHidIoError;
}

bool CHidDeviceRecord::CloseHandleAndReset()
{
    const bool hadHandle = m_bOpened && IsValidHidHandle(m_hDevice);
    if (hadHandle) ActiveHidPlatform().Close(m_hDevice);
    ResetState();
    return hadHandle;
}
