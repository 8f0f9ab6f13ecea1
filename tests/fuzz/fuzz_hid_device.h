// The one HID device of a fuzz target: present or not, its product string
// and report lengths; opening and asking it always succeed. Reads and writes
// are the target's (FuzzHidDevice leaves them to the class built on it).
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "obulink/hid_platform.h"

class FuzzHidDevice : public HidPlatform {
public:
    FuzzHidDevice(bool present, std::string product, HidReportCaps caps)
        : m_present(present), m_product(std::move(product)), m_caps(caps)
    {
    }

    uint16_t InputReportLength() const { return m_caps.inputReportLength; }

    bool InterfacePath(unsigned index, std::string& path) override
    {
        if (index > 0 || !m_present) return false;
        path = "\\\\?\\hid#fuzz";
        return true;
    }
    HidHandle Open(const std::string&) override { return 0x100; }
    void Close(HidHandle) override {}
    bool ReadAttributes(HidHandle) override { return true; }
    bool ReadProductString(HidHandle, std::string& product) override
    {
        product = m_product;
        return true;
    }
    bool ReadCaps(HidHandle, HidReportCaps& caps) override
    {
        caps = m_caps;
        return true;
    }
    bool ReadNumInputBuffers(HidHandle, uint32_t& count) override
    {
        count = 32;
        return true;
    }
    // Nothing is held for a read here unless the class built on it holds it.
    bool FlushInput(HidHandle) override { return true; }
    HidOsVersion OsVersion() override { return {}; }

private:
    bool m_present;
    std::string m_product;
    HidReportCaps m_caps;
};
