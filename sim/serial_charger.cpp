// SPDX-License-Identifier: MIT
// A simulated serial charger on a pseudo-terminal. Its firmware listens at
// 9600 baud for the paced enter command; its bootloader listens at 128000
// only, for the wake, the length frame and the masked 16-byte frames. The
// rate of every byte is read from the terminal's settings as it arrives, so
// a host that talks at the wrong rate is not understood. It measures the
// pauses a charger relies on (the pacing of the enter command, the gaps of
// the wake, the pause after each accepted frame), loses what arrives while
// its bootloader is still starting (the line must stay quiet meanwhile), and
// can record every exchange it receives. Played on a tty node instead (a USB gadget's, which
// never learns the rate the host set), it takes each byte at the rate the
// conversation calls for, outlasts the node's going away, and can unplug
// the gadget in the middle of a transfer.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "device/channel_framing.h"
#include "device/device_name.h"
#include "device/linux/serial_baud_rate.h"
#include "device/node_holders.h"
#include "image/cipher_secrets.h"
#include "number_text.h"
#include "protocol/bootloader_wire.h"
#include "sim_support.h"
#include "simulated_chargers.h"
#include "usb_gadget.h"

namespace velmorin::sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStaleFrame = std::chrono::milliseconds(500);
// How long a hung-up charger keeps its node before it goes, as an unplugged
// adapter's node lingers until the kernel has torn the device down.
constexpr auto kHungUpLinger = std::chrono::milliseconds(500);
// How often a node that went away is opened again, and how long an answer
// waits for room on it.
constexpr auto kReopenPause = std::chrono::milliseconds(100);
constexpr auto kNodeWriteWait = std::chrono::milliseconds(1000);
// A frame sent this long ago without a byte since has been given up by the
// host (whose answer wait is 1 s), even when a late answer went out since.
constexpr auto kFrameGivenUp = std::chrono::milliseconds(1250);
// How long the bootloader takes to start once the firmware has answered the
// enter command '&', with the line quiet: a byte in that time is lost and
// garbles its receiver, which then waits for that long a quiet line again.
// The host gives it 270 ms: it pauses 150 ms after the '&', then lets the
// port settle for 120 ms as it opens it again at 128000.
constexpr auto kBootloaderStart = std::chrono::milliseconds(200);

// Opens a tty node raw, without waiting for a carrier and without blocking;
// an invalid descriptor, with the reason in `error`, when it cannot.
Descriptor OpenRawNode(const std::string& path, std::string& error) {
    Descriptor node(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (node.Get() < 0) {
        error = std::strerror(errno);
        return node;
    }
    struct termios settings {};
    if (::tcgetattr(node.Get(), &settings) != 0) {
        error = std::string("not a terminal: ") + std::strerror(errno);
        return Descriptor();
    }
    ::cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (::tcsetattr(node.Get(), TCSANOW, &settings) != 0) {
        error = std::string("cannot make it raw: ") + std::strerror(errno);
        return Descriptor();
    }
    return node;
}

class SerialCharger {
public:
    SerialCharger(int master, int terminal, std::string node, std::uint8_t modelCode,
                  const SerialChargerOptions& options)
        : m_master(master),
          m_terminal(terminal),
          m_node(std::move(node)),
          m_modelCode(modelCode),
          m_options(options),
          m_faults(options.faults) {}

    // On a tty node, opened raw; `gadget` (or nullptr) unplugs it.
    SerialCharger(Descriptor node, std::string path, std::uint8_t modelCode,
                  const UsbGadget* gadget, const SerialChargerOptions& options)
        : SerialCharger(-1, -1, std::move(path), modelCode, options) {
        m_onNode = true;
        m_link = std::move(node);
        m_gadget = gadget;
    }

    // Serves until stopped or hung up; the exit status.
    int Serve() {
        while (!StopRequested() && !m_hungUp) {
            if (m_onNode) {
                KeepNodeOpen();
                pollfd wait{m_link.Get(), POLLIN, 0};
                if (::poll(&wait, 1, PollTimeoutMs()) > 0 && wait.revents != 0) {
                    ReadNode(wait.revents);
                }
            } else if (pollfd wait{m_master, POLLIN, 0};
                       ::poll(&wait, 1, PollTimeoutMs()) > 0 && (wait.revents & POLLIN) != 0) {
                std::uint8_t bytes[4096];
                const ssize_t count = ::read(m_master, bytes, sizeof bytes);
                const std::uint32_t baud = linux_serial::GetBaudRate(m_master);
                for (ssize_t i = 0; i < count; ++i) {
                    OnByte(bytes[i], m_options.anyRate ? RateOnNode(bytes[i]) : baud);
                }
            }
            if (m_lateAnswerAt && Clock::now() >= *m_lateAnswerAt) {
                m_lateAnswerAt.reset();
                if (m_lateAnswerToFrame) {
                    AnswerFrameAccepted();
                } else {
                    Answer(kAnswerAccepted);
                }
            }
            DropStaleFrame();
            ReleaseAbandonedExclusiveMode();
        }
        WriteReport();
        if (m_hungUp) {
            const auto end = Clock::now() + kHungUpLinger;
            while (!StopRequested() && Clock::now() < end) {
                ::usleep(10'000);
            }
        }
        return m_hangUpFailed ? 1 : 0;
    }

private:
    // A host killed outright (SIGKILL) cannot give exclusive mode up, and the
    // terminal, held open here, would keep it for ever: a real port's tty is
    // made afresh once its last user closes it. Once a second nobody but the
    // simulator has the terminal open, exclusive mode is dropped.
    void ReleaseAbandonedExclusiveMode() {
        const auto now = Clock::now();
        if (m_onNode || now < m_nextExclusiveCheck) {
            return;
        }
        m_nextExclusiveCheck = now + std::chrono::seconds(1);
        int exclusive = 0;
        if (::ioctl(m_terminal, TIOCGEXCL, &exclusive) != 0 || exclusive == 0 ||
            OpenedByAnotherProcess()) {
            return;
        }
        ::ioctl(m_terminal, TIOCNXCL);
    }

    bool OpenedByAnotherProcess() const {
        const std::string own = std::to_string(::getpid());
        const auto holders = ProcessesHoldingNode(m_node);
        return std::any_of(holders.begin(), holders.end(),
                           [&](const NodeHolder& holder) { return holder.pid != own; });
    }

    enum class State { Firmware, WaitWake, Length, Blocks };

    // Reads what the node has; a node that reads its end (hung up, as a
    // gadget's tty is when its USB link goes), fails, or says it is hung up
    // with nothing to read is closed and opened again later.
    void ReadNode(short events) {
        std::uint8_t bytes[4096];
        const ssize_t count = ::read(m_link.Get(), bytes, sizeof bytes);
        if (count < 0 && (errno == EAGAIN || errno == EINTR) &&
            (events & (POLLHUP | POLLERR | POLLNVAL)) == 0) {
            return;
        }
        if (count <= 0) {
            const bool hungUp = count == 0 || errno == EAGAIN || errno == EINTR;
            LoseNode(hungUp ? "hung up" : std::strerror(errno));
            return;
        }
        for (ssize_t i = 0; i < count; ++i) {
            OnByte(bytes[i], RateOnNode(bytes[i]));
        }
    }

    void LoseNode(const std::string& reason) {
        m_link.Reset();
        m_reopenAt = Clock::now() + kReopenPause;
        if (!m_nodeLost) {
            std::cerr << "velmorin-sim serial: " << m_node << " went away (" << reason
                      << "); waiting for it to come back\n";
        }
        m_nodeLost = true;
        Count(m_report, "node_losses");
    }

    // Replugs the gadget when that is due, and opens the node again once
    // it can be opened.
    void KeepNodeOpen() {
        const auto now = Clock::now();
        if (m_replugAt && now >= *m_replugAt) {
            m_replugAt.reset();
            if (m_gadget->Plug()) {
                Count(m_report, "replugs");
            }
        }
        if (m_link.Get() >= 0 || now < m_reopenAt) {
            return;
        }
        std::string error;
        Descriptor node = OpenRawNode(m_node, error);
        if (node.Get() < 0) {
            if (!m_reopenFailureTold) {
                std::cerr << "velmorin-sim serial: cannot open " << m_node
                          << " again yet: " << error << " (trying every " << kReopenPause.count()
                          << " ms)\n";
                m_reopenFailureTold = true;
            }
            m_reopenAt = now + kReopenPause;
            return;
        }
        m_link = std::move(node);
        if (m_nodeLost) {
            std::cerr << "velmorin-sim serial: " << m_node << " is back\n";
        }
        m_nodeLost = false;
        m_reopenFailureTold = false;
    }

    // A node carries no rate: each byte is taken at the rate that its place
    // in the conversation calls for. Every attempt of the host begins with
    // the paced enter command, whose ':' never belongs to a wake. Between
    // frames the host waits for nothing but the answer and gives a frame up
    // a second after sending it, then pauses over half a second before a
    // fresh attempt: a byte after a quiet link there begins a fresh attempt.
    std::uint32_t RateOnNode(std::uint8_t byte) {
        const auto now = Clock::now();
        if ((m_state == State::Length || m_state == State::Blocks) && m_pending.empty() &&
            (now - std::max(m_lastByte, m_lastAnswer) >= kStaleFrame ||
             now - m_lastByte >= kFrameGivenUp)) {
            m_state = State::WaitWake;
        }
        if (m_state == State::Firmware) {
            return kFirmwareBaudRate;
        }
        const bool lineUnderWay = !m_line.empty() && m_line.size() < kPacedCommandLineLength &&
                                  now - m_lineTimes.back() < kStaleFrame;
        if (lineUnderWay || (m_state == State::WaitWake && byte == ':')) {
            return kFirmwareBaudRate;
        }
        return kBootloaderBaudRate;
    }

    // Wakes often enough to see stale frames, and in time for a late answer.
    int PollTimeoutMs() const {
        int timeout = 50;
        if (m_lateAnswerAt) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*m_lateAnswerAt - Clock::now());
            timeout = std::clamp(static_cast<int>(left.count()), 0, timeout);
        }
        return timeout;
    }

    void OnByte(std::uint8_t byte, std::uint32_t baud) {
        const auto now = Clock::now();
        m_lastByte = now;
        if (m_lateAnswerAt) {
            Count(m_report, "bytes_before_late_answer");  // the host did not wait for it
        }
        if (m_bootloaderReadyAt) {
            if (now < *m_bootloaderReadyAt) {
                Count(m_report, "bytes_while_starting");
                Record("unheard", {&byte, 1});
                m_bootloaderReadyAt = now + kBootloaderStart;
                return;
            }
            m_bootloaderReadyAt.reset();
        }
        MeasureFramePause(baud, now);
        if (m_state == State::Firmware) {
            if (baud == kFirmwareBaudRate) {
                OnLineByte(byte, now);
            } else {
                Record("unheard", {&byte, 1});
            }
            return;
        }
        if (baud != kBootloaderBaudRate) {
            // The bootloader does not understand other rates: a fresh
            // attempt's enter command (noted, not answered), or a plain
            // port's first wake.
            if (!m_pending.empty()) {
                Record("unheard", m_pending);
            }
            ClearPending();
            m_state = State::WaitWake;
            if (baud == kFirmwareBaudRate) {
                OnLineByte(byte, now);
            } else {
                Record("unheard", {&byte, 1});
            }
            return;
        }
        m_pending.push_back(byte);
        m_pendingTimes.push_back(now);
        if (m_state == State::WaitWake) {
            CheckWake();
        } else if (m_state == State::Length && m_pending.size() == 5) {
            OnLengthFrame();
        } else if (m_state == State::Blocks && m_pending.size() == BlockSize() + 1) {
            OnBlockFrame();
        }
    }

    // Bytes at 9600: the paced enter command, which only the firmware answers.
    void OnLineByte(std::uint8_t byte, Clock::time_point now) {
        if (byte == ':') {
            if (!m_line.empty()) {
                Record("unheard", AsBytes(m_line));
            }
            m_line.clear();
            m_lineTimes.clear();
        }
        m_line.push_back(static_cast<char>(byte));
        m_lineTimes.push_back(now);
        if (byte != '\n') {
            return;
        }
        const std::string line = std::exchange(m_line, {});
        const std::vector<Clock::time_point> times = std::exchange(m_lineTimes, {});
        Record("enter-line", AsBytes(line));
        unsigned command[4] = {};
        if (line.size() != kPacedCommandLineLength ||
            std::sscanf(line.c_str(), ":%2X%2X%2X%2X\r\n", &command[0], &command[1], &command[2],
                        &command[3]) != 4 ||
            ((command[0] + command[1] + command[2] + command[3]) & 0xFF) != 0 ||
            command[0] != kEnterCommandByte0 || command[1] != kEnterCommandByte1) {
            Count(m_report, "bad_lines");
            return;
        }
        // The pacing is judged by the line's mean gap: this process's reads
        // carry scheduling jitter, so a late read of one character makes the
        // next gap look short although the host paused its full time.
        const double span = Milliseconds(times.back() - times.front());
        m_pacedGapMs = std::min(m_pacedGapMs, span / static_cast<double>(times.size() - 1));
        Count(m_report, "enter_commands");
        if (m_state != State::Firmware) {
            return;  // the bootloader listens at 128000 only
        }
        if (m_faults.silentEnter > 0) {
            --m_faults.silentEnter;
            m_bootloaderReadyAt = Clock::now() + kBootloaderStart;
            m_state = State::WaitWake;  // and hand over all the same
        } else if (command[2] != m_modelCode) {
            Count(m_report, "mismatches");
            Answer(kAnswerRefused);
        } else {
            // Stamped before the answer goes out, so that the host's pause,
            // which begins once it has the answer, cannot look shorter.
            m_bootloaderReadyAt = Clock::now() + kBootloaderStart;
            Answer(kAnswerAccepted);
            m_state = State::WaitWake;
        }
        ClearPending();
    }

    // True when the pending bytes end in a wake, which is then taken.
    bool CheckWake() {
        const std::size_t n = m_pending.size();
        if (n < 3 || !std::equal(kWakeTail.begin(), kWakeTail.end(), m_pending.end() - 3)) {
            return false;
        }
        Record("wake", m_pending);
        m_report["wake_bytes"].push_back(m_pending);
        // The gaps between the wake's bytes as they were read. A late read of
        // one byte lengthens the gap before it and shortens the one after it,
        // so a single gap is to be judged with a wide margin.
        nlohmann::json gaps = nlohmann::json::array();
        for (std::size_t i = 1; i < n; ++i) {
            gaps.push_back(Milliseconds(m_pendingTimes[i] - m_pendingTimes[i - 1]));
        }
        m_report["wake_gaps_ms"].push_back(gaps);
        ClearPending();
        Count(m_report, "wakes");
        if (m_faults.silentWake > 0) {
            --m_faults.silentWake;
        } else if (m_faults.wrongWake > 0) {
            --m_faults.wrongWake;
            Answer('X');
        } else if (m_faults.lateWakeMs > 0) {
            // Ready for the length frame, but the answer comes late.
            m_state = State::Length;
            AnswerLate(m_faults.lateWakeMs, false);
        } else {
            Answer(kAnswerAccepted);
            m_state = State::Length;
        }
        return true;
    }

    bool ChecksumOk() {
        const std::uint8_t checksum = m_pending.back();
        if (FrameChecksum({m_pending.data(), m_pending.size() - 1}) == checksum) {
            return true;
        }
        Count(m_report, "checksum_errors");
        ClearPending();
        Answer(kFrameSendAgain);
        return false;
    }

    void OnLengthFrame() {
        Record("length-frame", m_pending);
        if (!ChecksumOk()) {
            return;
        }
        Count(m_report, "length_frames");
        m_payloadLength = (std::uint32_t{m_pending[0]} << 24) |
                          (std::uint32_t{m_pending[1]} << 16) | (std::uint32_t{m_pending[2]} << 8) |
                          m_pending[3];
        ClearPending();
        if (m_faults.refuseLength > 0) {
            --m_faults.refuseLength;
            Answer('X');
            m_state = State::WaitWake;
            return;
        }
        m_payload.clear();
        m_block = 0;
        m_resendsLeft = m_faults.resendCount;
        m_state = State::Blocks;
        if (m_payloadLength == 0) {
            SavePayload();
        }
        AnswerFrameAccepted();
        if (m_payloadLength == 0) {
            Complete();
        }
    }

    std::size_t BlockSize() const {
        const std::uint32_t done = m_block * kSerialBlockSize;
        return std::min<std::size_t>(kSerialBlockSize, m_payloadLength - done);
    }

    void OnBlockFrame() {
        Record("block-" + std::to_string(m_block), m_pending);
        if (static_cast<int>(m_block) == m_faults.hangUpBlock) {
            HangUp();
            return;
        }
        if (m_gadget != nullptr && static_cast<int>(m_block) == m_options.gadget.unplugBlock &&
            !m_unplugged) {
            Unplug();
            return;
        }
        if (!ChecksumOk()) {
            return;
        }
        Count(m_report, "frames");
        if (static_cast<int>(m_block) == m_faults.resendBlock && m_resendsLeft > 0) {
            --m_resendsLeft;
            ClearPending();
            Answer(kFrameSendAgain);
            return;
        }
        if (static_cast<int>(m_block) == m_faults.refuseBlock && m_faults.refuseCount > 0) {
            --m_faults.refuseCount;
            ClearPending();
            Answer('X');
            m_state = State::WaitWake;
            return;
        }
        std::uint8_t plain[kSerialBlockSize];
        MaskSerialBlock({m_pending.data(), m_pending.size() - 1}, plain);
        m_payload.insert(m_payload.end(), plain, plain + m_pending.size() - 1);
        ClearPending();
        const bool last = m_payload.size() == m_payloadLength;
        if (last) {
            SavePayload();
        }
        if (static_cast<int>(m_block) == m_faults.lateBlock && !m_lateAnswerGiven) {
            // Taken, but answered only after the scripted delay.
            m_lateAnswerGiven = true;
            AnswerLate(m_faults.lateMs, true);
        } else {
            AnswerFrameAccepted();
        }
        ++m_block;
        m_resendsLeft = m_faults.resendCount;
        if (last) {
            Complete();
        }
    }

    // The adapter is pulled: every open of the terminal side (the host's
    // and this process's own) is hung up, so the host's reads end and its
    // writes fail; no answer comes any more. Hanging up another process's
    // terminal needs CAP_SYS_ADMIN.
    void HangUp() {
        ClearPending();
        m_hungUp = true;
        const Descriptor terminal(::open(m_node.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (terminal.Get() < 0 || ::ioctl(terminal.Get(), TIOCVHANGUP) != 0) {
            std::cerr << "velmorin-sim serial: cannot hang up " << m_node << ": "
                      << std::strerror(errno) << '\n';
            m_hangUpFailed = true;
            return;
        }
        Count(m_report, "hang_ups");
    }

    // The USB cable is pulled: the gadget is unbound (its tty is hung up and
    // the host's node goes), the block is not answered, and the bootloader
    // runs on, waiting for a wake, until the gadget is replugged.
    void Unplug() {
        ClearPending();
        m_unplugged = true;
        m_state = State::WaitWake;
        if (!m_gadget->Unplug()) {
            return;
        }
        Count(m_report, "unplugs");
        WriteReport();
        if (m_options.gadget.replugAfterMs >= 0) {
            m_replugAt = Clock::now() + std::chrono::milliseconds(m_options.gadget.replugAfterMs);
        }
    }

    // A partial frame that has waited too long is a wake or the remains of
    // a broken attempt.
    void DropStaleFrame() {
        if (m_pending.empty() || m_state == State::WaitWake || m_state == State::Firmware ||
            Clock::now() - m_lastByte < kStaleFrame) {
            return;
        }
        m_state = State::WaitWake;
        if (!CheckWake()) {
            Record("stale", m_pending);
        }
        ClearPending();
    }

    // What the charger took, saved before the answer that ends the transfer,
    // so that a host that has that answer finds it written.
    void SavePayload() { WriteBinaryFile(m_options.savePath, m_payload); }

    void Complete() {
        Count(m_report, "completed");
        m_report["payload_length"] = m_payloadLength;
        m_state = State::Firmware;  // the new firmware runs
        WriteReport();
    }

    void Answer(std::uint8_t byte) {
        m_lastAnswer = Clock::now();
        if (m_onNode) {
            AnswerOnNode(byte);
            return;
        }
        [[maybe_unused]] const ssize_t n = ::write(m_master, &byte, 1);
    }

    // Waits a while for room on the node (a host that does not read fills
    // it), then gives the answer up.
    void AnswerOnNode(std::uint8_t byte) {
        const auto deadline = Clock::now() + kNodeWriteWait;
        for (;;) {
            const ssize_t n = ::write(m_link.Get(), &byte, 1);
            if (n == 1) {
                return;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR) && Clock::now() < deadline) {
                pollfd wait{m_link.Get(), POLLOUT, 0};
                ::poll(&wait, 1, 20);
                continue;
            }
            std::cerr << "velmorin-sim serial: an answer was lost: writing to " << m_node << ": "
                      << (n < 0 ? std::strerror(errno) : "nothing written") << '\n';
            return;
        }
    }

    // '&' after `ms` instead of now: to a frame (whose pause is then measured
    // from it) or to a wake.
    void AnswerLate(int ms, bool toFrame) {
        Count(m_report, "late_answers");
        m_lateAnswerAt = Clock::now() + std::chrono::milliseconds(ms);
        m_lateAnswerToFrame = toFrame;
    }

    // '&' to a length frame or block; the host's pause before its next frame
    // is measured from here.
    void AnswerFrameAccepted() {
        m_acceptedAt = Clock::now();
        Answer(kAnswerAccepted);
    }

    // The time from an accepted frame's answer to the first byte of the next
    // frame. The answer is stamped before it is written and a byte after it
    // is read, so the measure is never shorter than the host's pause.
    void MeasureFramePause(std::uint32_t baud, Clock::time_point now) {
        if (m_acceptedAt && m_state == State::Blocks && baud == kBootloaderBaudRate &&
            m_pending.empty()) {
            m_framePauseMinMs = std::min(m_framePauseMinMs, Milliseconds(now - *m_acceptedAt));
            ++m_framePauses;
        }
        m_acceptedAt.reset();
    }

    void ClearPending() {
        m_pending.clear();
        m_pendingTimes.clear();
    }

    // Notes an exchange received, when the report is to list them all.
    void Record(const std::string& label, std::span<const std::uint8_t> bytes) {
        if (m_options.recordWire) {
            m_report["wire"].push_back({label, HexText(bytes)});
        }
    }

    static std::span<const std::uint8_t> AsBytes(const std::string& text) {
        return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
    }

    static double Milliseconds(Clock::duration duration) {
        return std::chrono::duration<double, std::milli>(duration).count();
    }

    void WriteReport() {
        if (m_pacedGapMs < 1e9) {
            m_report["paced_gap_ms"] = m_pacedGapMs;
        }
        if (m_framePauses > 0) {
            m_report["frame_pauses"] = {{"count", m_framePauses}, {"min_ms", m_framePauseMinMs}};
        }
        WriteJsonFile(m_options.reportPath, m_report);
    }

    int m_master;
    int m_terminal;  // the terminal side, held open by the simulator
    std::string m_node;
    // Played on a node: the node (invalid while it is away), and the gadget.
    bool m_onNode = false;
    Descriptor m_link;
    bool m_nodeLost = false;
    bool m_reopenFailureTold = false;
    Clock::time_point m_reopenAt{};
    const UsbGadget* m_gadget = nullptr;
    bool m_unplugged = false;
    std::optional<Clock::time_point> m_replugAt;
    Clock::time_point m_lastAnswer{};
    Clock::time_point m_nextExclusiveCheck{};
    std::uint8_t m_modelCode;
    const SerialChargerOptions& m_options;
    SerialFaults m_faults;
    State m_state = State::Firmware;
    std::string m_line;
    std::vector<Clock::time_point> m_lineTimes;
    std::vector<std::uint8_t> m_pending;
    std::vector<Clock::time_point> m_pendingTimes;  // when each pending byte was read
    Clock::time_point m_lastByte = Clock::now();
    std::optional<Clock::time_point> m_acceptedAt;    // the last '&' to a frame
    std::optional<Clock::time_point> m_lateAnswerAt;  // a scripted late '&' due then ...
    bool m_lateAnswerToFrame = false;                 // ... to a frame, or else to a wake
    // The bootloader is starting, and takes nothing before then.
    std::optional<Clock::time_point> m_bootloaderReadyAt;
    bool m_lateAnswerGiven = false;
    double m_framePauseMinMs = 1e9;
    int m_framePauses = 0;
    std::uint32_t m_payloadLength = 0;
    std::uint32_t m_block = 0;
    int m_resendsLeft = 0;
    bool m_hungUp = false;
    bool m_hangUpFailed = false;
    std::vector<std::uint8_t> m_payload;
    // The smallest mean gap between the characters of a paced line.
    double m_pacedGapMs = 1e9;
    nlohmann::json m_report = {{"enter_commands", 0},
                               {"mismatches", 0},
                               {"wakes", 0},
                               {"length_frames", 0},
                               {"frames", 0},
                               {"completed", 0},
                               {"checksum_errors", 0},
                               {"bad_lines", 0},
                               {"wake_bytes", nlohmann::json::array()},
                               {"wake_gaps_ms", nlohmann::json::array()},
                               {"wire", nlohmann::json::array()}};
};

// The charger on an existing tty node, unannounced.
int RunSerialChargerOnNode(const SerialChargerOptions& options, std::uint8_t modelCode) {
    if (options.faults.hangUpBlock >= 0) {
        std::cerr << "velmorin-sim serial: --hang-up-at-block hangs up the simulator's own "
                     "pseudo-terminal; on --node, unplug the gadget with --gadget and "
                     "--unplug-at-block\n";
        return 2;
    }
    std::optional<UsbGadget> gadget;
    if (!options.gadget.directory.empty()) {
        gadget = UsbGadget::Find(options.gadget.directory, "velmorin-sim serial");
        if (!gadget) {
            return 1;
        }
    }
    std::string error;
    Descriptor node = OpenRawNode(options.node, error);
    if (node.Get() < 0) {
        std::cerr << "velmorin-sim serial: cannot open " << options.node << ": " << error << '\n';
        return 1;
    }
    CatchStopSignals();
    std::cout << "simulated charger \"" << options.product << "\" S/N " << options.serialNumber
              << " on " << options.node << std::endl;
    SerialCharger charger(std::move(node), options.node, modelCode, gadget ? &*gadget : nullptr,
                          options);
    return charger.Serve();
}

}  // namespace

int RunSerialCharger(const SerialChargerOptions& options) {
    const auto name = ParseDeviceName(options.port);
    const auto modelCode = ParseNumberText(options.modelCode, 0xFF);
    if (!name || name->kind != DeviceKind::Serial || name->number == 0 || !modelCode) {
        std::cerr
            << "velmorin-sim serial: --port must be COM1 to COM256 and --model-code 0 to 255\n";
        return 2;
    }
    if (!options.node.empty()) {
        return RunSerialChargerOnNode(options, static_cast<std::uint8_t>(*modelCode));
    }
    if (!PrepareDirectory(options.directory)) {
        return 1;
    }
    Descriptor master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (master.Get() < 0 || ::grantpt(master.Get()) != 0 || ::unlockpt(master.Get()) != 0) {
        std::cerr << "velmorin-sim serial: cannot make a pseudo-terminal: " << std::strerror(errno)
                  << '\n';
        return 1;
    }
    const std::string node = ::ptsname(master.Get());
    // Holding the terminal side open keeps it alive between the host's opens;
    // raw, so that nothing is echoed before the host sets it up.
    const Descriptor terminal(::open(node.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    struct termios settings {};
    if (terminal.Get() >= 0 && ::tcgetattr(terminal.Get(), &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(terminal.Get(), TCSANOW, &settings);
    }

    const std::string port = "COM" + std::to_string(name->number);
    CatchStopSignals();
    nlohmann::json description = {{"kind", "serial"},
                                  {"port", port},
                                  {"node", node},
                                  {"friendly_name", options.description + " (" + port + ")"},
                                  {"description", options.description},
                                  {"bus_description", options.product},
                                  {"serial_number", options.serialNumber}};
    if (!options.idPath.empty()) {
        description["id_path"] = options.idPath;
    }
    const Announcement announcement(options.directory / (port + ".json"), description);
    std::cout << port << ": simulated charger \"" << options.product << "\" S/N "
              << options.serialNumber << " on " << node << std::endl;

    SerialCharger charger(master.Get(), terminal.Get(), node, static_cast<std::uint8_t>(*modelCode),
                          options);
    return charger.Serve();
}

}  // namespace velmorin::sim
