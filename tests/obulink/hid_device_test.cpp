#include "obulink/hid_device.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/sim/sim_hid_platform.h"

namespace {

class HidDeviceTest : public ::testing::Test {
protected:
    SimHidPlatform platform;
    ScopedHidPlatform active{platform};
};

TEST_F(HidDeviceTest, ResetStateFollowsTheWindowsVersion)
{
    struct Case { HidOsVersion version; uint16_t buffers; } cases[] = {
        {{true, 5, 1}, 512}, {{true, 5, 2}, 512}, {{true, 5, 0}, 200}, {{true, 6, 1}, 0}, {{false, 4, 10}, 0},
    };
    for (const auto& c : cases) {
        platform.SetOsVersion(c.version);
        CHIDDevice device;
        EXPECT_EQ(device.m_wNumInputBuffers, c.buffers) << c.version.major << "." << c.version.minor;
        EXPECT_EQ(device.m_wOutputReportLength, 30);
        EXPECT_EQ(device.m_wInputReportLength, 0);
        EXPECT_EQ(device.m_dwReadTimeout, kHidInfinite);
        EXPECT_EQ(device.m_hDevice, kInvalidHidHandle);
        // Output 30: a 64-byte OBU report cannot go before an open.
        const uint8_t report[64] = {};
        EXPECT_EQ(device.WriteReport(report, 64), kHidLength);
    }
}

TEST_F(HidDeviceTest, FindsDevicesByProductPrefix)
{
    platform.AddDevice("Foreign keyboard");
    platform.AddDevice("Wendra-OBU Model 7");   // anything may follow the prefix
    platform.AddDevice("wendra-OBU");           // case differs: not ours
    platform.AddDevice("Wendra-OB");            // shorter than the prefix
    platform.AddDevice("[wendra] BIU");
    platform.AddDeviceWithUnreadableProduct();  // taken by neither kind
    platform.AddDevice("Wendra-OBU").attributesFail = true;
    platform.AddDevice("Wendra-OBU").openFails = true;
    EXPECT_EQ(CHIDDevice::CountDevices(), 1u);
    EXPECT_EQ(CBIUHIDDevice::CountDevices(), 1u);
    EXPECT_EQ(platform.OpenHandles(), 0);  // the count closes what it opened
}

TEST_F(HidDeviceTest, OpenByIndexKeepsTheNthMatchAndClosesTheOthers)
{
    platform.AddDevice("Mouse");
    platform.AddDevice("Wendra-OBU A");
    platform.AddDevice("Wendra-OBU B").caps = {64, 64, 2};
    EXPECT_EQ(CHIDDevice::CountDevices(), 2u);
    CHIDDevice device;
    EXPECT_EQ(device.OpenDevice(1), kHidDone);
    EXPECT_EQ(device.m_bOpened, 1);
    EXPECT_TRUE(platform.IsOpen(2));
    EXPECT_EQ(platform.OpenHandles(), 1);
    EXPECT_EQ(device.m_wInputReportLength, 64);
    EXPECT_EQ(device.m_wOutputReportLength, 64);
    EXPECT_EQ(device.m_wFeatureReportLength, 2);
    EXPECT_EQ(device.m_wNumInputBuffers, 32);

    // Opening an open record changes nothing.
    const HidHandle handle = device.m_hDevice;
    EXPECT_EQ(device.OpenDevice(0), kHidAlreadyOpen);
    EXPECT_EQ(device.m_hDevice, handle);

    EXPECT_TRUE(device.CloseHandleAndReset());
    EXPECT_EQ(platform.OpenHandles(), 0);
    EXPECT_EQ(device.OpenDevice(2), kHidNotFound);
    EXPECT_EQ(device.m_bOpened, 0);
    EXPECT_EQ(platform.OpenHandles(), 0);
}

TEST_F(HidDeviceTest, OpenWithNoDevicesOrAFailedLookup)
{
    CHIDDevice device;
    EXPECT_EQ(device.OpenDevice(0), kHidNotFound);
    platform.AddDevice("Wendra-OBU");
    platform.SetInterfaceLookupFails(true);
    EXPECT_EQ(device.OpenDevice(0), kHidNotFound);
    char path[256];
    EXPECT_EQ(CHidDeviceRecord::GetDevicePath(0, path), 0);
}

TEST_F(HidDeviceTest, CapabilitiesOfZeroOrUnreadableKeepTheMembers)
{
    platform.AddDevice("Wendra-OBU").caps = {64, 0, 0};
    CHIDDevice device;
    ASSERT_EQ(device.OpenDevice(0), kHidDone);
    EXPECT_EQ(device.m_wInputReportLength, 64);
    EXPECT_EQ(device.m_wOutputReportLength, 30);  // the reset value stays
    const uint8_t report[64] = {};
    EXPECT_EQ(device.WriteReport(report, 64), kHidLength);
    device.CloseHandleAndReset();

    SimHidPlatform other;
    ScopedHidPlatform otherActive(other);
    SimHidDevice& sim = other.AddDevice("Wendra-OBU");
    sim.capsFail = true;
    sim.numBuffersFail = true;
    CHIDDevice unread;
    ASSERT_EQ(unread.OpenDevice(0), kHidDone);  // stays open with the reset lengths
    EXPECT_EQ(unread.m_wOutputReportLength, 30);
    EXPECT_EQ(unread.WriteReport(report, 64), kHidLength);
    unread.CloseHandleAndReset();
}

TEST_F(HidDeviceTest, DeviceWhoseProductStringCannotBeReadIsNeverOurs)
{
    // Enumerated after the device it would otherwise displace as "the last match".
    platform.AddDevice("Wendra-OBU");
    platform.AddDevice("[wendra] unit");
    platform.AddDeviceWithUnreadableProduct();
    EXPECT_EQ(CHIDDevice::CountDevices(), 1u);
    EXPECT_EQ(CBIUHIDDevice::CountDevices(), 1u);
    char path[256];
    ASSERT_EQ(CHidDeviceRecord::GetDevicePath(2, path), 1);
    EXPECT_EQ(CHIDDevice::OpenIfOurs(path), kInvalidHidHandle);
    EXPECT_EQ(CBIUHIDDevice::OpenIfOurs(path), kInvalidHidHandle);
    EXPECT_EQ(platform.OpenHandles(), 0) << "what is not ours is closed again";

    CHIDDevice obu;
    EXPECT_EQ(obu.OpenDevice(0), kHidDone);
    EXPECT_TRUE(platform.IsOpen(0));
    EXPECT_EQ(obu.OpenDevice(0), kHidAlreadyOpen);
    CBIUHIDDevice unit;
    EXPECT_EQ(unit.OpenDevice(0), kHidDone);
    EXPECT_TRUE(platform.IsOpen(1));
    EXPECT_FALSE(platform.IsOpen(2));
    EXPECT_EQ(platform.OpenHandles(), 2);
    obu.CloseHandleAndReset();
    unit.CloseHandleAndReset();

    CHIDDevice second;
    EXPECT_EQ(second.OpenDevice(1), kHidNotFound) << "there is no second OBU";
    EXPECT_EQ(platform.OpenHandles(), 0);
}

TEST_F(HidDeviceTest, WriteChecksLengthStateAndHandle)
{
    SimHidDevice& sim = platform.AddDevice("Wendra-OBU");
    CHIDDevice device;
    ASSERT_EQ(device.OpenDevice(0), kHidDone);
    uint8_t report[65] = {0x01, 0x02};
    EXPECT_EQ(device.WriteReport(report, 65), kHidLength);  // output report length 64
    EXPECT_TRUE(platform.Written(0).empty());
    EXPECT_EQ(device.WriteReport(report, 64), kHidDone);
    ASSERT_EQ(platform.Written(0).size(), 1u);
    EXPECT_EQ(platform.Written(0)[0].size(), 64u);

    sim.writeResult = HidIoResult::TimedOut;
    EXPECT_EQ(device.WriteReport(report, 64), kHidTimeout);
    sim.writeResult = HidIoResult::Failed;
    EXPECT_EQ(device.WriteReport(report, 64), kHidIoError);

    // A copy whose flag says open but whose handle is invalid resets itself.
    CHIDDevice copy = device;
    copy.m_hDevice = kInvalidHidHandle;
    copy.m_wOutputReportLength = 64;
    EXPECT_EQ(copy.WriteReport(report, 64), kHidNotOpen);
    EXPECT_EQ(copy.m_bOpened, 0);
    EXPECT_EQ(copy.m_wOutputReportLength, 30);
    device.CloseHandleAndReset();
}

TEST_F(HidDeviceTest, BiometricRecordAlwaysWritesSixtyFiveBytes)
{
    platform.AddDevice("[wendra] unit").caps = {65, 65, 0};
    platform.AddDevice("[wendra] small").caps = {65, 64, 0};
    CBIUHIDDevice unit;
    ASSERT_EQ(unit.OpenDevice(0), kHidDone);
    uint8_t report[65] = {0x00, 0x01};
    EXPECT_EQ(unit.WriteReport(report), kHidDone);
    EXPECT_EQ(platform.Written(0).at(0).size(), 65u);
    unit.CloseHandleAndReset();
    CBIUHIDDevice small;
    ASSERT_EQ(small.OpenDevice(1), kHidDone);
    EXPECT_EQ(small.WriteReport(report), kHidLength);
    small.CloseHandleAndReset();
}

TEST_F(HidDeviceTest, ReadReportRules)
{
    platform.AddDevice("Wendra-OBU");
    CHIDDevice device;
    ASSERT_EQ(device.OpenDevice(0), kHidDone);
    device.m_dwReadTimeout = 20;

    uint8_t small[32];
    std::memset(small, 0xAA, sizeof small);
    size_t read = 99;
    EXPECT_EQ(device.ReadReport(small, sizeof small, read), kHidLength);
    EXPECT_EQ(small[0], 0xAA);  // untouched

    uint8_t buffer[64];
    std::memset(buffer, 0xAA, sizeof buffer);
    EXPECT_EQ(device.ReadReport(buffer, sizeof buffer, read), kHidTimeout);
    EXPECT_EQ(buffer[0], 0);  // cleared
    EXPECT_EQ(read, 99u);     // only set when a report was read

    SimReport report(64, 0);
    report[0] = 0x01;
    report[9] = 0x77;
    platform.QueueInput(0, report);
    EXPECT_EQ(device.ReadReport(buffer, sizeof buffer, read), kHidDone);
    EXPECT_EQ(read, 64u);
    EXPECT_EQ(buffer[9], 0x77);

    // A device that went away fails the read as gone; a read that failed
    // otherwise is an I/O error, and the next read may pass.
    {
        SimHidPlatform gone;
        ScopedHidPlatform scope(gone);
        SimHidDevice& sim = gone.AddDevice("Wendra-OBU");
        sim.readFails = true;
        CHIDDevice lost;
        ASSERT_EQ(lost.OpenDevice(0), kHidDone);
        lost.m_dwReadTimeout = 20;
        EXPECT_EQ(lost.ReadReport(buffer, sizeof buffer, read), kHidDeviceGone);
        sim.readFails = false;
        sim.failingReads = 1;
        EXPECT_EQ(lost.ReadReport(buffer, sizeof buffer, read), kHidIoError);
        EXPECT_EQ(lost.ReadReport(buffer, sizeof buffer, read), kHidTimeout);
        lost.CloseHandleAndReset();
    }

    // A driver queue size of 0 refuses the read.
    CHIDDevice copy = device;
    copy.m_wNumInputBuffers = 0;
    std::memset(buffer, 0xAA, sizeof buffer);
    EXPECT_EQ(copy.ReadReport(buffer, sizeof buffer, read), kHidNoInputBuffers);
    EXPECT_EQ(buffer[0], 0xAA);

    CHIDDevice closed;
    closed.m_wNumInputBuffers = 8;
    EXPECT_EQ(closed.ReadReport(buffer, sizeof buffer, read), kHidNotOpen);
    device.CloseHandleAndReset();
}

TEST_F(HidDeviceTest, LongPathsAreCutToTheBuffer)
{
    class LongPaths : public SimHidPlatform {
    public:
        bool InterfacePath(unsigned index, std::string& path) override
        {
            if (index) return false;
            path.assign(400, 'p');
            return true;
        }
    } longPaths;
    ScopedHidPlatform scope(longPaths);
    char path[256];
    std::memset(path, 'x', sizeof path);
    ASSERT_EQ(CHidDeviceRecord::GetDevicePath(0, path), 1);
    EXPECT_EQ(std::strlen(path), 255u);
    EXPECT_EQ(CHidDeviceRecord::GetDevicePath(64, path), 0);
}

}  // namespace
