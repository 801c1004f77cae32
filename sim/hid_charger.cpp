// SPDX-License-Identifier: MIT
// A simulated HID charger on a virtual HID socket. Its firmware takes the
// model command and restarts into its bootloader: it withdraws its
// description, stays off the bus for a while and comes back with the same
// identity. The bootloader answers the start packet with a challenge, checks
// the reply and takes the masked 64-byte blocks, unmasking them with the
// run's key. It can record every report it receives and be given fixed
// challenge words, so that a whole conversation can be compared byte for
// byte with a known one.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "device/channel_framing.h"
#include "device/hid_interface.h"
#include "number_text.h"
#include "protocol/bootloader_wire.h"
#include "protocol/challenge_crc.h"
#include "sim_support.h"
#include "simulated_chargers.h"

namespace velmorin::sim {
namespace {

using Clock = std::chrono::steady_clock;

using ChallengeWords = std::array<std::uint32_t, 3>;

class HidCharger {
public:
    HidCharger(int listener, Announcement& announcement, std::uint8_t modelCode,
               std::optional<ChallengeWords> challenge, const HidChargerOptions& options)
        : m_listener(listener),
          m_announcement(announcement),
          m_modelCode(modelCode),
          m_challenge(challenge),
          m_options(options),
          m_faults(options.faults) {}

    void Serve() {
        while (!StopRequested()) {
            std::vector<pollfd> waits = {{m_listener, POLLIN, 0}};
            for (const Descriptor& connection : m_connections) {
                waits.push_back({connection.Get(), POLLIN, 0});
            }
            if (::poll(waits.data(), waits.size(), 50) > 0) {
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
            if (m_away && !m_faults.neverBack && Clock::now() >= m_backAt) {
                m_away = false;
                m_announcement.Publish();
            }
        }
        WriteJsonFile(m_options.reportPath, m_report);
    }

private:
    enum class State { Firmware, Start, Reply, Blocks };

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
        const std::uint8_t* data = report.data() + 1;
        Record(report, static_cast<std::size_t>(n));
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
        Answer({kAnswerAccepted});
        m_key = m_payloadLength + reply;
        m_payload.clear();
        m_block = 0;
        m_state = State::Blocks;
        if (m_payloadLength == 0) {
            Complete();
        }
    }

    void OnBlock(const std::uint8_t* data) {
        Count(m_report, "blocks");
        const int block = m_block;
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
        Answer({kAnswerAccepted});
        if (m_payload.size() == m_payloadLength) {
            Complete();
        }
    }

    std::uint32_t NextWord() { return static_cast<std::uint32_t>(m_random()); }

    void Complete() {
        Count(m_report, "completed");
        WriteBinaryFile(m_options.savePath, m_payload);
        WriteJsonFile(m_options.reportPath, m_report);
        m_state = State::Firmware;
    }

    // The charger drops off the bus and comes back as its bootloader.
    void Restart() {
        Count(m_report, "restarts");
        m_connections.clear();
        m_connection = -1;
        m_announcement.Withdraw();
        m_away = true;
        m_backAt = Clock::now() + std::chrono::milliseconds(m_options.absenceMs);
        m_state = State::Start;
    }

    void Answer(const std::vector<std::uint8_t>& bytes) {
        HidReport report{};
        std::copy_n(bytes.begin(), std::min(bytes.size(), kHidReportData), report.begin() + 1);
        [[maybe_unused]] const ssize_t n =
            ::send(m_connection, report.data(), report.size(), MSG_NOSIGNAL);
    }

    int m_listener;
    Announcement& m_announcement;
    std::uint8_t m_modelCode;
    std::optional<ChallengeWords> m_challenge;
    const HidChargerOptions& m_options;
    HidFaults m_faults;
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
        Announcement announcement(options.directory / (options.name + ".json"),
                                  {{"kind", "hid"},
                                   {"socket", socketPath.filename().string()},
                                   {"vendor_id", *vendorId},
                                   {"product_id", *productId},
                                   {"product", options.product},
                                   {"serial_number", options.serialNumber}});
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
