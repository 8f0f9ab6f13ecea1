// The library's platform on Win32: real serial ports, SetupAPI for the USB
// readers (replaceable, so that a program can put simulated readers in their
// place), the system tick, and the "GET_MESSAGE" trace window.
#pragma once

#include "readerlink/link_io.h"
#include "readerlink/usb_link_win.h"

namespace tarnlink {

class Win32ReaderPlatform : public IReaderPlatform {
public:
    static constexpr const char* kTraceWindowTitle = "GET_MESSAGE";
    static constexpr const char* kListenerWindowTitle = "Tarn100ITest";
    static constexpr unsigned long kTraceDataKind = 1004;  // dwData of the WM_COPYDATA

    std::unique_ptr<ISerialLine> OpenSerial(int port, const SerialSettings& settings) override;
    IUsbReaderBus& UsbBus() override { return m_usbBus ? *m_usbBus : m_setupApiBus; }
    uint32_t TickMs() override;
    void SleepMs(uint32_t milliseconds) override;
    void TraceText(const char* text) override;
    void ListenerTraceText(const char* text) override;

    // Puts another bus in place of SetupAPI; null restores SetupAPI.
    void UseUsbBus(IUsbReaderBus* bus) { m_usbBus = bus; }

private:
    SetupApiReaderBus m_setupApiBus;
    IUsbReaderBus* m_usbBus = nullptr;
};

// The platform of the library's application object.
Win32ReaderPlatform& ThePlatform();

}  // namespace tarnlink
