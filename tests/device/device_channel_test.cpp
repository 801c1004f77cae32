// SPDX-License-Identifier: MIT
// The device channel against a charger's side that records and answers:
// serial over a pseudo-terminal, HID over a virtual HID socket.
#include "device/device_channel.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include "device/channel_framing.h"
#include "device/device_name.h"
#include "device/hid_interface.h"
#include "device/serial_node.h"
#include "device/virtual/virtual_devices.h"
#include "support/test_support.h"

namespace velmorin {
namespace {

using testing::HidSocketPeer;
using testing::PtyPeer;
using Bytes = std::vector<std::uint8_t>;

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

class ChannelTest : public ::testing::Test {
protected:
    testing::TempDirectory m_directory;
    testing::ScopedEnvironment m_environment{kVirtualDevicesVariable, m_directory.Path().string()};
};

TEST(DeviceNames, PrefixesNumbersAndNodes) {
    struct Row {
        const char* name;
        std::optional<DeviceKind> kind;  // nullopt: not a device name
        std::uint32_t number;
        std::optional<std::string> node;
    };
    const Row rows[] = {
        {"com7", DeviceKind::Serial, 7, "/dev/ttyS6"},
        {"Com1", DeviceKind::Serial, 1, "/dev/ttyS0"},
        {"COM10", DeviceKind::Serial, 10, "/dev/ttyS9"},
        {"COM33", DeviceKind::Serial, 33, "/dev/ttyUSB0"},
        {"COM65", DeviceKind::Serial, 65, "/dev/ttyACM0"},
        {"COM97", DeviceKind::Serial, 97, "/dev/ttyAMA0"},
        {"COM160", DeviceKind::Serial, 160, "/dev/rfcomm31"},
        {"COM201", DeviceKind::Serial, 201, std::nullopt},  // virtual devices only
        {"COM256", DeviceKind::Serial, 256, std::nullopt},
        {"COM 12abc", DeviceKind::Serial, 12, "/dev/ttyS11"},
        {"COMx", DeviceKind::Serial, 0, std::nullopt},
        {"COM257", std::nullopt, 0, std::nullopt},
        {"COM-1", std::nullopt, 0, std::nullopt},
        {"COM99999999999", std::nullopt, 0, std::nullopt},
        {"HID", DeviceKind::Hid, 0, std::nullopt},
        {"hid3", DeviceKind::Hid, 3, std::nullopt},
        {"LPT1", std::nullopt, 0, std::nullopt},
        {"", std::nullopt, 0, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto name = ParseDeviceName(row.name);
        ASSERT_EQ(name.has_value(), row.kind.has_value());
        if (!name) {
            DeviceChannel channel;
            EXPECT_FALSE(channel.Open(row.name, 9600));
            continue;
        }
        EXPECT_EQ(name->kind, *row.kind);
        EXPECT_EQ(name->number, row.number);
        if (name->kind == DeviceKind::Serial) {
            EXPECT_EQ(SystemNodeForComNumber(name->number), row.node);
        }
    }
    EXPECT_EQ(ComNumberForTty("ttyUSB3"), 36u);
    EXPECT_EQ(ComNumberForTty("ttyS32"), std::nullopt);
    EXPECT_EQ(ComNumberForTty("tty1"), std::nullopt);
}

TEST(CommandLines, BothEncodings) {
    const CommandBytes command = {0xFF, 0x45, 0x10};
    const auto line = BuildCommandLine(command);
    EXPECT_EQ(std::string(line.begin(), line.end()), ":FF4510FF451058\r\n");
    const auto paced = BuildPacedCommandLine(command);
    EXPECT_EQ(std::string(paced.begin(), paced.end()), ":FF4510AC\r\n");
    const auto zero = BuildCommandLine({0, 0, 0});
    EXPECT_EQ(std::string(zero.begin(), zero.end()), ":00000000000000\r\n");
}

TEST_F(ChannelTest, FrameAnswers) {
    const Bytes frame = {0x00, 0x01, 0xF0, 0x00};
    const Bytes onWire = {0x00, 0x01, 0xF0, 0x00, 0xF1};
    struct Row {
        const char* name;
        std::vector<std::uint8_t> answers;  // one per send, in order
        bool accepted;
        std::size_t sends;
    };
    const Row rows[] = {
        {"accepted at once", {'&'}, true, 1},
        {"three resends, then accepted", {'5', '5', '5', '&'}, true, 4},
        {"a fourth resend request", {'5', '5', '5', '5'}, false, 4},
        {"another byte", {'X'}, false, 1},
        {"no answer", {}, false, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<PtyPeer::Answer> script;
        for (std::size_t i = 0; i < row.answers.size(); ++i) {
            script.push_back({onWire.size() * (i + 1), {row.answers[i]}});
        }
        const PtyPeer peer(m_directory.Path(), 201, script);
        DeviceChannel channel;
        ASSERT_TRUE(channel.Open("COM201", 128000)) << channel.OpenError();
        EXPECT_EQ(channel.SendFrame(frame.data(), static_cast<std::uint32_t>(frame.size())),
                  row.accepted);
        Bytes expected;
        for (std::size_t i = 0; i < row.sends; ++i) {
            expected.insert(expected.end(), onWire.begin(), onWire.end());
        }
        EXPECT_EQ(peer.Received(), expected);
        EXPECT_EQ(channel.Statistics().resends, row.sends - 1);
    }
}

TEST_F(ChannelTest, SerialReadsWritesAndCommandLines) {
    PtyPeer peer(m_directory.Path(), 201);
    DeviceChannel channel;
    ASSERT_TRUE(channel.Open("COM201", 9600)) << channel.OpenError();

    // Nothing pending: the read waits its time-out out and fails.
    std::uint8_t byte = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(channel.Read(&byte, 1, 150));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    EXPECT_EQ(channel.Statistics().readTimeouts, 1u);

    // Bytes that come later are read whole.
    peer.Send({'&', 'u', 0x07});
    std::uint8_t three[3] = {};
    EXPECT_TRUE(channel.Read(three, 3, 1000));
    EXPECT_EQ(Bytes(three, three + 3), (Bytes{'&', 'u', 0x07}));

    EXPECT_TRUE(channel.SendLine({0xFF, 0x45, 0x10}));
    // The paced line makes its ten pauses of 50 ms between its eleven
    // characters. The call's own duration is the measure: arrival times at
    // the peer carry its thread's scheduling jitter, which can bunch two
    // characters together even when they left 50 ms apart.
    const auto pacedStart = std::chrono::steady_clock::now();
    channel.SendLinePaced({0xFF, 0x45, 0x10});
    EXPECT_GE(std::chrono::steady_clock::now() - pacedStart, std::chrono::milliseconds(500));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (peer.Received().size() < 28 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(peer.Received(), Text(":FF4510FF451058\r\n:FF4510AC\r\n"));
}

TEST_F(ChannelTest, SerialPortIsExclusive) {
    const PtyPeer peer(m_directory.Path(), 202);
    DeviceChannel first;
    ASSERT_TRUE(first.Open("COM202", 9600)) << first.OpenError();
    DeviceChannel second;
    EXPECT_FALSE(second.Open("COM202", 9600));
    EXPECT_NE(second.OpenError().find("busy"), std::string::npos) << second.OpenError();
    first.Close();
    first.Close();  // closing twice is harmless
    EXPECT_TRUE(second.Open("COM202", 9600)) << second.OpenError();

    DeviceChannel missing;
    EXPECT_FALSE(missing.Open("COM203", 9600));
    EXPECT_FALSE(missing.Write(reinterpret_cast<const std::uint8_t*>("x"), 1));
}

TEST_F(ChannelTest, AFailedOpenLeavesAnotherProgramsExclusiveModeAlone) {
    const PtyPeer peer(m_directory.Path(), 205);
    const int other = ::open(peer.Node().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);
    DeviceChannel channel;
    EXPECT_FALSE(channel.Open("COM205", 9600));
    EXPECT_EQ(channel.OpenErrno(), EBUSY) << channel.OpenError();
    int exclusive = 0;
    ASSERT_EQ(::ioctl(other, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1) << "the failed open cleared the other program's exclusive mode";
    ::close(other);
}

// The index of the virtual HID device among all HID interfaces.
std::uint32_t VirtualHidIndex() {
    const auto interfaces = EnumerateHidInterfaces();
    for (std::size_t i = 0; i < interfaces.size(); ++i) {
        if (interfaces[i].isVirtual) {
            return static_cast<std::uint32_t>(i);
        }
    }
    return 0xFFFFFFFF;
}

TEST_F(ChannelTest, HidReportLayout) {
    HidSocketPeer peer(m_directory.Path(), "charger", 0x0483, 0x5750, "Varno Kestrion X", "HX1");
    DeviceChannel channel;
    ASSERT_TRUE(channel.Open("HID" + std::to_string(VirtualHidIndex()), 0));
    ASSERT_TRUE(peer.Accept());

    // 65 bytes: two reports, the second with one data byte and 63 zeros.
    Bytes data(65);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i + 1);
    }
    ASSERT_TRUE(channel.Write(data.data(), 65));
    Bytes first = {0};
    first.insert(first.end(), data.begin(), data.begin() + 64);
    Bytes second(65, 0);
    second[1] = 65;
    EXPECT_EQ(peer.ReceiveReport(), first);
    EXPECT_EQ(peer.ReceiveReport(), second);

    // A write of nothing sends one report of zeros; the command line fits one.
    ASSERT_TRUE(channel.Write(nullptr, 0));
    EXPECT_EQ(peer.ReceiveReport(), Bytes(65, 0));
    ASSERT_TRUE(channel.SendLine({0xFF, 0x45, 0x10}));
    Bytes line = {0};
    const Bytes text = Text(":FF4510FF451058\r\n");
    line.insert(line.end(), text.begin(), text.end());
    line.resize(65, 0);
    EXPECT_EQ(peer.ReceiveReport(), line);

    // 4 bytes come from one report, the rest of it dropped.
    Bytes report(65, 0);
    for (std::size_t i = 1; i < report.size(); ++i) {
        report[i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    peer.SendReport(report);
    std::uint8_t four[4] = {};
    ASSERT_TRUE(channel.Read(four, 4, 1000));
    EXPECT_EQ(Bytes(four, four + 4), (Bytes{0xA1, 0xA2, 0xA3, 0xA4}));

    // 70 bytes take two reports; with only one sent, the read times out and
    // keeps the first report's 64 bytes.
    peer.SendReport(report);
    Bytes seventy(70, 0xEE);
    EXPECT_FALSE(channel.Read(seventy.data(), 70, 200));
    EXPECT_TRUE(std::equal(seventy.begin(), seventy.begin() + 64, report.begin() + 1));
    EXPECT_EQ(seventy[64], 0xEE);
}

// A charger unplugged while the host waits for its answer: the read ends at
// once as a lost device, not as a time-out, on a serial port (the driver
// hangs the terminal up) and on HID (the interface closes).
TEST_F(ChannelTest, ALostDeviceEndsTheReadAtOnce) {
    struct Row {
        const char* name;
        std::function<void(DeviceChannel&, std::function<void()>&)> connect;
    };
    std::unique_ptr<PtyPeer> pty;
    std::unique_ptr<HidSocketPeer> hid;
    const Row rows[] = {
        {"serial",
         [&](DeviceChannel& channel, std::function<void()>& unplug) {
             pty = std::make_unique<PtyPeer>(m_directory.Path(), 206);
             ASSERT_TRUE(channel.Open("COM206", 9600)) << channel.OpenError();
             unplug = [&] {
                 if (!pty->HangUp()) {
                     GTEST_SKIP() << "hanging a terminal up needs CAP_SYS_ADMIN";
                 }
             };
         }},
        {"HID",
         [&](DeviceChannel& channel, std::function<void()>& unplug) {
             hid = std::make_unique<HidSocketPeer>(m_directory.Path(), "lost", 0x0483, 0x5750,
                                                   "Varno Kestrion X", "HX2");
             ASSERT_TRUE(channel.Open("HID" + std::to_string(VirtualHidIndex()), 0));
             ASSERT_TRUE(hid->Accept());
             unplug = [&] { hid->Disconnect(); };
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DeviceChannel channel;
        std::function<void()> unplug;
        row.connect(channel, unplug);
        ASSERT_TRUE(unplug);
        unplug();
        if (::testing::Test::IsSkipped()) {
            return;
        }
        rusage before{};
        ::getrusage(RUSAGE_THREAD, &before);
        const auto start = std::chrono::steady_clock::now();
        std::uint8_t answer = 0;
        EXPECT_FALSE(channel.Read(&answer, 1, 2000));
        const auto wall = std::chrono::steady_clock::now() - start;
        rusage after{};
        ::getrusage(RUSAGE_THREAD, &after);
        const auto cpuUs = (after.ru_utime.tv_sec - before.ru_utime.tv_sec) * 1000000 +
                           (after.ru_utime.tv_usec - before.ru_utime.tv_usec) +
                           (after.ru_stime.tv_sec - before.ru_stime.tv_sec) * 1000000 +
                           (after.ru_stime.tv_usec - before.ru_stime.tv_usec);
        std::cout << row.name << ": a read after the hang-up took "
                  << std::chrono::duration_cast<std::chrono::microseconds>(wall).count()
                  << " us wall, " << cpuUs << " us CPU\n";
        EXPECT_TRUE(channel.Statistics().deviceLost);
        EXPECT_EQ(channel.Statistics().readTimeouts, 0u);
        // The reads after it fail the same way, and so does a write.
        EXPECT_FALSE(channel.Read(&answer, 1, 2000));
        EXPECT_EQ(channel.Statistics().readTimeouts, 0u);
        EXPECT_FALSE(channel.Write(&answer, 1));
    }
}

}  // namespace
}  // namespace velmorin
