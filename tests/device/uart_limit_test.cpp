// SPDX-License-Identifier: MIT
// A port that cannot make the bootloader's 128000 baud. A 16550 UART stops
// at 115200 and the kernel keeps the old rate without an error; this test
// program stands in for such a UART by taking the termios2 rate calls of the
// whole process (the port under test is a pseudo-terminal, which takes any
// rate) and keeping the old rate for anything above the limit.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>

#include "device/device_channel.h"
#include "device/linux/serial_baud_rate.h"
#include "protocol/serial_upgrade.h"
#include "protocol/upgrade_fixture.h"
#include "session/device_table.h"
#include "support/recording_host.h"

namespace {

// The fastest rate the stand-in UART makes; 0: every rate, as the
// pseudo-terminal itself.
std::atomic<std::uint32_t> uartLimit{0};

using IoctlFunction = int (*)(int, unsigned long, ...);

IoctlFunction RealIoctl() {
    static const auto real = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "ioctl"));
    return real;
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    const std::uint32_t limit = uartLimit.load();
    if (request == TCSETS2 && limit != 0) {
        auto* asked = static_cast<struct termios2*>(argument);
        struct termios2 current {};
        if (asked->c_ospeed > limit && RealIoctl()(fd, TCGETS2, &current) == 0) {
            struct termios2 kept = *asked;
            kept.c_cflag = (asked->c_cflag & ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT))) |
                           (current.c_cflag & (CBAUD | (CBAUD << IBSHIFT)));
            kept.c_ispeed = current.c_ispeed;
            kept.c_ospeed = current.c_ospeed;
            return RealIoctl()(fd, request, &kept);
        }
    }
    return RealIoctl()(fd, request, argument);
}

namespace velmorin {
namespace {

class UartLimitTest : public testing::UpgradeFixture {
protected:
    ~UartLimitTest() override { uartLimit = 0; }
};

TEST(BaudRates, WithinThreePercentIsTaken) {
    struct Row {
        std::uint32_t asked;
        std::uint32_t reported;
        bool taken;
    };
    const Row rows[] = {
        {128000, 128000, true},  {128000, 127659, true},  // an FTDI adapter's nearest rate
        {128000, 124160, true},  {128000, 124159, false}, {128000, 131840, true},
        {128000, 131841, false}, {128000, 115200, false}, {128000, 9600, false},
        {128000, 0, false},      {9600, 9600, true},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(BaudRateTaken(row.asked, row.reported), row.taken)
            << row.asked << " reported as " << row.reported;
    }
}

TEST_F(UartLimitTest, TheRateIsReadBackAfterItIsSet) {
    const testing::PtyPeer peer(Dir(), 207);
    // What the pseudo-terminal itself reports: every rate as it was set.
    for (const std::uint32_t rate : {128000u, 115200u}) {
        DeviceChannel channel;
        ASSERT_TRUE(channel.Open("COM207", rate)) << channel.OpenError();
        const int other = ::open(peer.Node().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_EQ(linux_serial::GetBaudRate(other), rate);
        ::close(other);
    }

    uartLimit = 115200;
    DeviceChannel channel;
    EXPECT_TRUE(channel.Open("COM207", 9600)) << channel.OpenError();
    channel.Close();
    EXPECT_TRUE(channel.Open("COM207", 115200)) << channel.OpenError();
    channel.Close();
    EXPECT_FALSE(channel.Open("COM207", 128000));
    EXPECT_EQ(channel.OpenRateRefused(), 128000u);
    EXPECT_NE(channel.OpenError().find("stays at 115200"), std::string::npos)
        << channel.OpenError();
}

TEST_F(UartLimitTest, APlainPortThatCannotWakeTheBootloaderFailsToOpen) {
    StartCharger("serial", "COM201.json",
                 {"--port", "COM201", "--product", "FT232R USB UART", "--description", "Adapter"});
    const auto file = Seal(testing::Payload(104), SealedForm::WholeFile);
    testing::RecordingHost host(file.string(), "COM201");
    uartLimit = 115200;
    const UpgradeReport report = UpgradeOverSerial(host);
    uartLimit = 0;
    EXPECT_EQ(host.messageBoxes, std::vector<std::string>{"Error opening COM port|Error|error"});
    EXPECT_EQ(report.outcome, UpgradeOutcome::OpenFailed);
    EXPECT_EQ(report.openRateRefused, 128000u);
}

}  // namespace
}  // namespace velmorin
