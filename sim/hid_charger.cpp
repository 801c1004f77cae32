// SPDX-License-Identifier: MIT
// A simulated HID charger on a virtual HID socket. Its firmware takes the
// model command and restarts into its bootloader: it withdraws its
// description, stays off the bus for a while and comes back with the same
// identity. The bootloader answers the start packet with a challenge, checks
// the reply and takes the masked 64-byte blocks, unmasking them with the
// run's key. It can record every report it receives and be given fixed
// challenge words, so that a whole conversation can be compared byte for
// byte with a known one. Played on a USB gadget's report node instead, its
// restart is a real one: the gadget is unbound, stays off the bus for a
// while and is bound again, and the host enumerates it afresh.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "device/channel_framing.h"
#include "device/hid_interface.h"
#include "number_text.h"
#include "protocol/bootloader_wire.h"
#include "protocol/challenge_crc.h"
#include "sim_support.h"
#include "simulated_chargers.h"
#include "usb_gadget.h"

namespace velmorin::sim {
namespace {

using Clock = std::chrono::steady_clock;

using ChallengeWords = std::array<std::uint32_t, 3>;

// How often the gadget's report node is opened again while it cannot be,
// how long an answer waits for the host to take the one before it, and the
// time the last answer is given on the bus before an unplug.
constexpr auto kReopenPause = std::chrono::milliseconds(100);
constexpr int kDeliveryWaitMs = 1000;
constexpr auto kBeforeUnplug = std::chrono::milliseconds(50);

class HidCharger {
public:
    HidCharger(int listener, Announcement& announcement, std::uint8_t modelCode,
               std::optional<ChallengeWords> challenge, const HidChargerOptions& options)
        : m_listener(listener),
          m_announcement(&announcement),
          m_modelCode(modelCode),
          m_challenge(challenge),
          m_options(options),
          m_faults(options.faults) {}

    // On the report node of `gadget`, open already.
    HidCharger(Descriptor reportNode, const UsbGadget& gadget, std::uint8_t modelCode,
               std::optional<ChallengeWords> challenge, const HidChargerOptions& options)
        : m_listener(-1),
          m_announcement(nullptr),
          m_modelCode(modelCode),
          m_challenge(challenge),
          m_options(options),
          m_faults(options.faults),
          m_gadget(&gadget),
          m_reportNode(std::move(reportNode)) {}

    void Serve() {
        if (m_gadget != nullptr) {
            ServeOnGadget();
            return;
        }
        while (!StopRequested()) {
            std::vector<pollfd> waits = {{m_listener, POLLIN, 0}};
            for (const Descriptor& connection : m_connections) {
                waits.push_back({connection.Get(), POLLIN, 0});
            }
            if (::poll(waits.data(), waits.size(), PollTimeoutMs()) > 0) {
                if ((waits[0].revents & POLLIN) != 0) {
                    m_connections.emplace_back(
                        ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC));
                }
                for (std::size_t i = 1; i < waits.size(); ++i) {
                    if ((waits[i].revents & (POLLIN | POLLHUP)) != 0) {
                        Receive(waits[i].fd);
                    }
                }
                std::erase_if(m_connections, [](const Descriptor& d) { return d.Get() < 0; });
            }
            GiveLateAnswerWhenDue();
            if (m_away && !m_faults.neverBack && Clock::now() >= m_backAt) {
                m_away = false;
                m_announcement->Publish();
            }
        }
        WriteJsonFile(m_options.reportPath, m_report);
    }

private:
    enum class State { Firmware, Start, Reply, Blocks };

    // Wakes every 50 ms, and in time for a late answer.
    int PollTimeoutMs() const {
        int timeout = 50;
        if (m_lateAnswerAt) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*m_lateAnswerAt - Clock::now());
            timeout = std::clamp(static_cast<int>(left.count()), 0, timeout);
        }
        return timeout;
    }

    // The '&' to a block held back by --late-block, once it is due; after
    // the last block the transfer then completes.
    void GiveLateAnswerWhenDue() {
        if (!m_lateAnswerAt || Clock::now() < *m_lateAnswerAt) {
            return;
        }
        m_lateAnswerAt.reset();
        Answer({kAnswerAccepted});
        if (m_lateAnswerCompletes) {
            Complete();
        }
    }

    void ServeOnGadget() {
        while (!StopRequested()) {
            KeepOnBus();
            pollfd wait{m_reportNode.Get(), POLLIN, 0};
            if (::poll(&wait, 1, PollTimeoutMs()) > 0 && wait.revents != 0) {
                ReceiveFromGadget(wait.revents);
            }
            GiveLateAnswerWhenDue();
        }
        WriteJsonFile(m_options.reportPath, m_report);
    }

    // One output report of the host (64 bytes: the host's report ID 0 does
    // not travel), taken with that ID before it as the socket carries it.
    void ReceiveFromGadget(short events) {
        HidReport report{};
        const ssize_t n = ::read(m_reportNode.Get(), report.data() + 1, kHidReportData);
        if (n > 0) {
            m_reportNodeFailed = false;
            OnReport(report, static_cast<std::size_t>(n) + 1);
            return;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR) &&
            (events & (POLLHUP | POLLERR | POLLNVAL)) == 0) {
            return;
        }
        // Unbound by someone else, or gone: opened again once it can be.
        if (!m_reportNodeFailed) {
            const bool failed = n < 0 && errno != EAGAIN && errno != EINTR;
            std::cerr << "velmorin-sim hid: " << m_options.hidg << " went away ("
                      << (failed   ? std::strerror(errno)
                          : n == 0 ? "end of file"
                                   : "hung up")
                      << "); opening it again\n";
            m_reportNodeFailed = true;
        }
        m_reportNode.Reset();
        m_reopenAt = Clock::now() + kReopenPause;
    }

    // Replugs the gadget when that is due, and (re)opens its report node
    // while the gadget is on the bus: the node is made afresh with every
    // bind.
    void KeepOnBus() {
        const auto now = Clock::now();
        if (m_offBus) {
            if (!m_replugAt || now < *m_replugAt) {
                return;
            }
            m_replugAt.reset();
            m_offBus = false;
            if (m_gadget->Plug()) {
                Count(m_report, "replugs");
            }
            m_reopenAt = now;
        }
        if (m_reportNode.Get() >= 0 || now < m_reopenAt) {
            return;
        }
        m_reportNode.Reset(
            ::open(m_options.hidg.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (m_reportNode.Get() < 0) {
            if (!m_reopenFailureTold) {
                std::cerr << "velmorin-sim hid: cannot open " << m_options.hidg
                          << " yet: " << std::strerror(errno) << " (trying every "
                          << kReopenPause.count() << " ms)\n";
                m_reopenFailureTold = true;
            }
            m_reopenAt = now + kReopenPause;
            return;
        }
        if (m_reopenFailureTold) {
            std::cerr << "velmorin-sim hid: " << m_options.hidg << " is open again\n";
        }
        m_reopenFailureTold = false;
    }

    // The gadget goes off the bus, once the host has taken the last answer:
    // the report node is closed and the gadget unbound; it is bound again
    // after `backAfterMs` (never when negative).
    void GoOffBus(int backAfterMs) {
        pollfd wait{m_reportNode.Get(), POLLOUT, 0};
        if (m_reportNode.Get() >= 0 && ::poll(&wait, 1, kDeliveryWaitMs) <= 0) {
            std::cerr << "velmorin-sim hid: the host did not take the last answer within "
                      << kDeliveryWaitMs << " ms; unplugging all the same\n";
        }
        std::this_thread::sleep_for(kBeforeUnplug);
        m_reportNode.Reset();
        m_offBus = true;
        m_replugAt.reset();
        if (m_gadget->Unplug()) {
            Count(m_report, "unplugs");
        }
        if (backAfterMs >= 0) {
            m_replugAt = Clock::now() + std::chrono::milliseconds(backAfterMs);
        }
    }

    void Receive(int fd) {
        HidReport report{};
        const ssize_t n = ::recv(fd, report.data(), report.size(), 0);
        if (n <= 0) {
            for (Descriptor& connection : m_connections) {
                if (connection.Get() == fd) {
                    connection.Reset();
                }
            }
            return;
        }
        m_connection = fd;
        OnReport(report, static_cast<std::size_t>(n));
    }

    // One report of the host (report ID included), `length` bytes of it
    // received.
    void OnReport(const HidReport& report, std::size_t length) {
        const std::uint8_t* data = report.data() + 1;
        Record(report, length);
        if (m_state != State::Firmware && IsCommandLine(data)) {
            // A new attempt's model command reaches the bootloader: it says
            // it is running (no restart) and waits for a start packet.
            Count(m_report, "model_commands_in_bootloader");
            Answer({'B'});
            m_state = State::Start;
            return;
        }
        switch (m_state) {
        case State::Firmware:
            OnModelCommand(data);
            break;
        case State::Start:
            OnStartPacket(data);
            break;
        case State::Reply:
            OnReply(data);
            break;
        case State::Blocks:
            OnBlock(data);
            break;
        }
    }

    // Notes a report received (report ID included), named by what the
    // charger takes it for, when the report is to list them all.
    void Record(const HidReport& report, std::size_t length) {
        if (!m_options.recordWire) {
            return;
        }
        const std::uint8_t* data = report.data() + 1;
        std::string label;
        if (m_state == State::Firmware || IsCommandLine(data)) {
            label = "model-command";
        } else if (m_state == State::Start) {
            label = "start-packet";
        } else if (m_state == State::Reply) {
            label = "reply";
        } else {
            label = "block-" + std::to_string(m_block);
        }
        m_report["wire"].push_back({label, HexText({report.data(), length})});
    }

    // A whole, valid command line (a masked block that merely begins with
    // ':' is none).
    static bool IsCommandLine(const std::uint8_t* data) {
        unsigned command[3] = {};
        const std::string line(reinterpret_cast<const char*>(data), kCommandLineLength);
        if (std::sscanf(line.c_str(), ":%2X%2X%2X", &command[0], &command[1], &command[2]) != 3) {
            return false;
        }
        const auto expected = BuildCommandLine({static_cast<std::uint8_t>(command[0]),
                                                static_cast<std::uint8_t>(command[1]),
                                                static_cast<std::uint8_t>(command[2])});
        return std::equal(expected.begin(), expected.end(), data);
    }

    void OnModelCommand(const std::uint8_t* data) {
        if (!IsCommandLine(data)) {
            Count(m_report, "bad_lines");
            return;
        }
        unsigned command[3] = {};
        std::sscanf(reinterpret_cast<const char*>(data), ":%2X%2X%2X", &command[0], &command[1],
                    &command[2]);
        if (command[0] != kEnterCommandByte0 || command[1] != kEnterCommandByte1) {
            Count(m_report, "bad_lines");
            return;
        }
        Count(m_report, "model_commands");
        if (m_faults.silentModel > 0) {
            --m_faults.silentModel;
            m_state = State::Start;  // the bootloader is taken to be running
        } else if (command[2] != m_modelCode) {
            Count(m_report, "mismatches");
            Answer({kAnswerRefused});
        } else {
            Answer({kAnswerAccepted});
            Restart();
        }
    }

    void OnStartPacket(const std::uint8_t* data) {
        StartPacket packet;
        if (!ParseStartPacket({data, kStartPacketSize}, packet)) {
            Count(m_report, "bad_start_packets");
            Answer({'X'});
            return;
        }
        Count(m_report, "start_packets");
        m_report["nonces"].push_back(packet.nonce);
        m_report["start_packet"] = {{"payload_length", packet.payloadLength},
                                    {"block_size", packet.blockSize},
                                    {"model_field", packet.modelField},
                                    {"version", packet.version}};
        if (m_faults.silentStart > 0) {
            --m_faults.silentStart;
            return;
        }
        if (m_faults.refuseStart > 0) {
            --m_faults.refuseStart;
            Answer({'X'});
            return;
        }
        std::array<std::uint32_t, 4> words = {packet.nonce, 0, 0, 0};
        for (std::size_t i = 1; i < 4; ++i) {
            words[i] = m_challenge ? (*m_challenge)[i - 1] : NextWord();
        }
        std::uint32_t check = ChallengeCrc(words);  // makes the CRC of all five come out 0
        if (m_faults.wrongChallenge > 0) {
            --m_faults.wrongChallenge;
            check ^= 1;
        }
        std::vector<std::uint8_t> answer(20, 0);
        answer[0] = kAnswerAccepted;
        for (std::size_t i = 1; i < 4; ++i) {
            StoreLittleEndian32(words[i], &answer[4 * i]);
        }
        StoreLittleEndian32(check, &answer[16]);
        m_expectedReply = words[2] ^ packet.nonce;
        m_payloadLength = packet.payloadLength;
        m_plain = packet.modelField != 1;
        m_report["challenges"].push_back(HexText(answer));
        Answer(answer);
        m_state = State::Reply;
    }

    void OnReply(const std::uint8_t* data) {
        const std::uint32_t reply = LoadLittleEndian32(data);
        Count(m_report, "replies");
        if (reply != m_expectedReply) {
            Count(m_report, "bad_replies");
            Answer({'X'});
            m_state = State::Start;
            return;
        }
        if (m_faults.silentReply > 0) {
            --m_faults.silentReply;
            m_state = State::Start;
            return;
        }
        if (m_faults.refuseReply > 0) {
            --m_faults.refuseReply;
            Answer({'X'});
            m_state = State::Start;
            return;
        }
        if (m_faults.restartAfterReply > 0) {
            --m_faults.restartAfterReply;
            Answer({kAnswerRefused});
            Restart();
            return;
        }
        m_key = m_payloadLength + reply;
        m_payload.clear();
        m_block = 0;
        m_state = State::Blocks;
        if (m_payloadLength == 0) {
            SavePayload();
        }
        Answer({kAnswerAccepted});
        if (m_payloadLength == 0) {
            Complete();
        }
    }

    void OnBlock(const std::uint8_t* data) {
        Count(m_report, "blocks");
        const int block = m_block;
        if (m_gadget != nullptr && block == m_options.gadget.unplugBlock && !m_unplugged) {
            // The cable is pulled: no answer, and the bootloader runs on,
            // waiting for a start packet, until the gadget is replugged.
            m_unplugged = true;
            m_state = State::Start;
            WriteJsonFile(m_options.reportPath, m_report);
            GoOffBus(m_options.gadget.replugAfterMs);
            return;
        }
        if (block == m_faults.silentBlock && m_faults.silentCount > 0) {
            --m_faults.silentCount;
            m_state = State::Start;
            return;
        }
        if (block == m_faults.refuseBlock && m_faults.refuseCount > 0) {
            --m_faults.refuseCount;
            Answer({'X'});
            m_state = State::Start;
            return;
        }
        std::array<std::uint8_t, kHidBlockSize> plain{};
        if (m_plain) {
            std::copy_n(data, kHidBlockSize, plain.begin());
        } else {
            MaskHidBlock(std::span<const std::uint8_t, kHidBlockSize>(data, kHidBlockSize), m_key,
                         plain.data());
        }
        const std::size_t take =
            std::min<std::size_t>(kHidBlockSize, m_payloadLength - m_payload.size());
        m_payload.insert(m_payload.end(), plain.begin(), plain.begin() + take);
        // Past the payload the last block must carry nothing but zeros.
        m_report["tail_nonzero_bytes"] =
            m_report["tail_nonzero_bytes"].get<int>() +
            static_cast<int>(std::count_if(plain.begin() + take, plain.end(),
                                           [](std::uint8_t b) { return b != 0; }));
        ++m_block;
        const bool last = m_payload.size() == m_payloadLength;
        if (last) {
            SavePayload();
        }
        if (m_faults.lateBlock >= 0 && block >= m_faults.lateBlock && m_faults.lateCount > 0) {
            // Taken, but answered only after the scripted delay.
            --m_faults.lateCount;
            Count(m_report, "late_answers");
            m_lateAnswerAt = Clock::now() + std::chrono::milliseconds(m_faults.lateMs);
            m_lateAnswerCompletes = last;
            return;
        }
        Answer({kAnswerAccepted});
        if (last) {
            Complete();
        }
    }

    std::uint32_t NextWord() { return static_cast<std::uint32_t>(m_random()); }

    // What the charger took, saved before the answer that ends the transfer,
    // so that a host that has that answer finds it written.
    void SavePayload() { WriteBinaryFile(m_options.savePath, m_payload); }

    void Complete() {
        Count(m_report, "completed");
        WriteJsonFile(m_options.reportPath, m_report);
        m_state = State::Firmware;
    }

    // The charger drops off the bus and comes back as its bootloader.
    void Restart() {
        Count(m_report, "restarts");
        if (m_gadget != nullptr) {
            m_state = State::Start;
            GoOffBus(m_faults.neverBack ? -1 : m_options.absenceMs);
            return;
        }
        m_connections.clear();
        m_connection = -1;
        m_announcement->Withdraw();
        m_away = true;
        m_backAt = Clock::now() + std::chrono::milliseconds(m_options.absenceMs);
        m_state = State::Start;
    }

    void Answer(const std::vector<std::uint8_t>& bytes) {
        HidReport report{};
        std::copy_n(bytes.begin(), std::min(bytes.size(), kHidReportData), report.begin() + 1);
        if (m_gadget != nullptr) {
            AnswerOnGadget(report);
            return;
        }
        [[maybe_unused]] const ssize_t n =
            ::send(m_connection, report.data(), report.size(), MSG_NOSIGNAL);
    }

    // One input report: the 64 data bytes. The node takes a report once the
    // host has taken the one before it; a host that has stopped reading has
    // the answer given up after a while.
    void AnswerOnGadget(const HidReport& report) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(kDeliveryWaitMs);
        for (;;) {
            const ssize_t n = ::write(m_reportNode.Get(), report.data() + 1, kHidReportData);
            if (n == static_cast<ssize_t>(kHidReportData)) {
                return;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR) && Clock::now() < deadline) {
                pollfd wait{m_reportNode.Get(), POLLOUT, 0};
                ::poll(&wait, 1, 20);
                continue;
            }
            std::cerr << "velmorin-sim hid: an answer was lost: writing to " << m_options.hidg
                      << ": " << (n < 0 ? std::strerror(errno) : "short write") << '\n';
            return;
        }
    }

    int m_listener;
    Announcement* m_announcement;
    std::uint8_t m_modelCode;
    std::optional<ChallengeWords> m_challenge;
    const HidChargerOptions& m_options;
    HidFaults m_faults;
    // On a gadget: the gadget, its report node (invalid while off the bus or
    // failed), and the unplug and replug under way.
    const UsbGadget* m_gadget = nullptr;
    Descriptor m_reportNode;
    Clock::time_point m_reopenAt{};
    bool m_reopenFailureTold = false;
    bool m_reportNodeFailed = false;
    bool m_offBus = false;
    bool m_unplugged = false;
    std::optional<Clock::time_point> m_replugAt;
    std::optional<Clock::time_point> m_lateAnswerAt;  // a block's '&' held back until then ...
    bool m_lateAnswerCompletes = false;               // ... the last block's
    std::vector<Descriptor> m_connections;
    int m_connection = -1;
    State m_state = State::Firmware;
    bool m_away = false;
    Clock::time_point m_backAt;
    std::mt19937 m_random{std::random_device{}()};
    std::uint32_t m_expectedReply = 0;
    std::uint32_t m_payloadLength = 0;
    std::uint32_t m_key = 0;
    bool m_plain = false;
    int m_block = 0;
    std::vector<std::uint8_t> m_payload;
    nlohmann::json m_report = {{"model_commands", 0},
                               {"mismatches", 0},
                               {"restarts", 0},
                               {"start_packets", 0},
                               {"replies", 0},
                               {"bad_replies", 0},
                               {"blocks", 0},
                               {"completed", 0},
                               {"tail_nonzero_bytes", 0},
                               {"bad_lines", 0},
                               {"bad_start_packets", 0},
                               {"nonces", nlohmann::json::array()},
                               {"challenges", nlohmann::json::array()},
                               {"wire", nlohmann::json::array()}};
};

// The charger on a gadget's report node, unannounced: the gadget's own
// descriptors say who it is.
int RunHidChargerOnGadget(const HidChargerOptions& options, std::uint8_t modelCode,
                          std::optional<ChallengeWords> challenge) {
    const auto gadget = UsbGadget::Find(options.gadget.directory, "velmorin-sim hid");
    if (!gadget) {
        return 1;
    }
    Descriptor reportNode(::open(options.hidg.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (reportNode.Get() < 0) {
        std::cerr << "velmorin-sim hid: cannot open " << options.hidg << ": "
                  << std::strerror(errno) << '\n';
        return 1;
    }
    CatchStopSignals();
    std::cout << "simulated HID charger on " << options.hidg << " (gadget "
              << options.gadget.directory.string() << " on " << gadget->ControllerName() << ")"
              << std::endl;
    HidCharger charger(std::move(reportNode), *gadget, modelCode, challenge, options);
    charger.Serve();
    return 0;
}

}  // namespace

int RunHidCharger(const HidChargerOptions& options) {
    const auto vendorId = ParseNumberText(options.vendorId, 0xFFFF);
    const auto productId = ParseNumberText(options.productId, 0xFFFF);
    const auto modelCode = ParseNumberText(options.modelCode, 0xFF);
    if (!vendorId || !productId || !modelCode) {
        std::cerr << "velmorin-sim hid: --vendor-id and --product-id must be 0 to 0xFFFF, "
                     "--model-code 0 to 255\n";
        return 2;
    }
    std::optional<ChallengeWords> challenge;
    if (!options.challenge.empty()) {
        challenge.emplace();
        for (std::size_t i = 0; i < challenge->size(); ++i) {
            const auto word = i < options.challenge.size()
                                  ? ParseNumberText(options.challenge[i], 0xFFFFFFFF)
                                  : std::nullopt;
            if (!word || options.challenge.size() != challenge->size()) {
                std::cerr << "velmorin-sim hid: --challenge takes three words, 0 to 0xFFFFFFFF\n";
                return 2;
            }
            (*challenge)[i] = *word;
        }
    }
    if (!options.gadget.directory.empty()) {
        return RunHidChargerOnGadget(options, static_cast<std::uint8_t>(*modelCode), challenge);
    }
    if (!PrepareDirectory(options.directory)) {
        return 1;
    }
    const std::filesystem::path socketPath = options.directory / (options.name + ".sock");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.string().size() >= sizeof address.sun_path) {
        std::cerr << "velmorin-sim hid: socket path too long: " << socketPath << '\n';
        return 1;
    }
    std::strcpy(address.sun_path, socketPath.c_str());
    std::filesystem::remove(socketPath);
    const Descriptor listener(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (listener.Get() < 0 ||
        ::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.Get(), 4) != 0) {
        std::cerr << "velmorin-sim hid: cannot listen on " << socketPath << ": "
                  << std::strerror(errno) << '\n';
        return 1;
    }

    CatchStopSignals();
    {
        nlohmann::json description = {{"kind", "hid"},
                                      {"socket", socketPath.filename().string()},
                                      {"vendor_id", *vendorId},
                                      {"product_id", *productId},
                                      {"product", options.product},
                                      {"serial_number", options.serialNumber}};
        if (!options.idPath.empty()) {
            description["id_path"] = options.idPath;
        }
        Announcement announcement(options.directory / (options.name + ".json"), description);
        std::cout << options.name << ": simulated HID charger \"" << options.product << "\" S/N "
                  << options.serialNumber << " on " << socketPath << std::endl;
        HidCharger charger(listener.Get(), announcement, static_cast<std::uint8_t>(*modelCode),
                           challenge, options);
        charger.Serve();
    }
    std::filesystem::remove(socketPath);
    return 0;
}

}  // namespace velmorin::sim
