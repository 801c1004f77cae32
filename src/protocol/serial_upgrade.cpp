// SPDX-License-Identifier: MIT
// The serial bootloader conversation.
#include "protocol/serial_upgrade.h"

#include <memory>
#include <string>

#include "device/device_channel.h"
#include "device/wire_trace.h"
#include "image/update_image.h"
#include "protocol/bootloader_wire.h"
#include "protocol/protocol_clock.h"
#include "protocol/upgrade_steps.h"
#include "protocol/upgrade_texts.h"

namespace velmorin {
namespace {

// Waits and pauses of the conversation, in ms.
constexpr std::uint32_t kEnterAnswerTimeout = 2000;
constexpr int kAfterEnterAccepted = 150;
constexpr int kAfterOtherEnterAnswer = 2000;
constexpr std::uint32_t kWakeAnswerTimeout = 1000;
constexpr int kBeforeLengthFrame = 50;
constexpr int kBeforeFreshAttempt = 500;

// How an attempt ended.
enum class AttemptEnd {
    Completed,
    Mismatch,
    OpenFailed,
    NoDevice,
    WrongWakeAnswer,
    LengthRefused,
    BlockRefused,
    LastBlockRefused,
};

class SerialUpgrade {
public:
    explicit SerialUpgrade(UpgradeHost& host) : m_host(host) {}

    UpgradeReport Run() {
        m_startTick = TickCount();
        m_channel.SetTrace(m_host.Trace());
        Execute();
        m_channel.Close();
        if (WireTrace* trace = m_channel.Trace()) {
            trace->Outcome(TraceOutcomeWord(m_report.outcome), m_report.message);
        }
        TakeFigures();
        return m_report;
    }

private:
    void Execute() {
        m_image = LoadFileForUpgrade(m_host, false, m_report.fileCheck);
        if (!m_image) {
            Exit();
            return;
        }
        const UpdateHeader header = m_image->Header();
        m_modelCode = header.modelCode;
        m_payloadLength = header.payloadLength;
        m_report.payloadBytes = m_payloadLength;

        m_host.SetStatusText(std::string(kStatusConnecting));
        if (!OpenSelected(kFirmwareBaudRate)) {
            FailToOpen();
            return;
        }
        int failures = 0;
        for (;;) {
            ++m_report.attempts;
            const AttemptEnd end = Attempt();
            switch (end) {
            case AttemptEnd::Completed:
                m_channel.Close();
                Finish(UpgradeOutcome::Completed, kTextUpgradeCompletion, kCaptionSuccess,
                       MessageIcon::None);
                return;
            case AttemptEnd::Mismatch:
                // The only message that comes after the window is set back.
                m_channel.Close();
                Exit();
                m_report.outcome = UpgradeOutcome::Mismatch;
                m_report.message = kTextInconformity;
                TakeFigures();
                m_host.RunEnding(m_report);
                m_host.ShowMessageBox(kTextInconformity, kCaptionError, MessageIcon::Error);
                return;
            case AttemptEnd::OpenFailed:
                FailToOpen();
                return;
            default:
                break;
            }
            m_channel.Close();
            if (++failures >= kSerialAttempts) {
                FailAttempts(end);
                return;
            }
            m_host.SetStatusText(std::string(kStatusConnectingAgain));
            m_channel.Pause(kBeforeFreshAttempt);
            if (!OpenSelected(kFirmwareBaudRate)) {
                FailToOpen();
                return;
            }
        }
    }

    // One attempt, from the enter command on; the channel is open at 9600.
    AttemptEnd Attempt() {
        if (WireTrace* trace = m_channel.Trace()) {
            trace->Note("attempt", m_report.attempts);
        }
        m_channel.Label("enter command");
        m_channel.SendLinePaced(EnterBootloaderCommand(m_modelCode));
        std::uint8_t answer = 0;
        if (m_channel.Read(&answer, 1, kEnterAnswerTimeout)) {
            if (answer == kAnswerRefused) {
                return AttemptEnd::Mismatch;
            }
            m_channel.Pause(answer == kAnswerAccepted ? kAfterEnterAccepted
                                                      : kAfterOtherEnterAnswer);
        }
        // No answer: the charger may be in its bootloader already.
        m_channel.Close();

        // A plain port's bootloader is tried at 9600 first, then at 128000.
        const DeviceEntry entry = m_host.SelectedEntry();
        const bool plainPort = entry.IsPlainPort();
        if (!Open(entry, plainPort ? kFirmwareBaudRate : kBootloaderBaudRate)) {
            return AttemptEnd::OpenFailed;
        }
        m_channel.Label("wake");
        SendWake({'&', 30, '&', 30, '&', 20, 'u', 20, 0x07});
        bool answered = m_channel.Read(&answer, 1, kWakeAnswerTimeout);
        if (!answered && plainPort) {
            m_channel.Close();
            if (!Open(entry, kBootloaderBaudRate)) {
                return AttemptEnd::OpenFailed;
            }
            m_channel.Label("wake");
            SendWake({'&', 20, 'u', 20, 0x07});
            answered = m_channel.Read(&answer, 1, kWakeAnswerTimeout);
        }
        if (!answered) {
            return AttemptEnd::NoDevice;
        }
        if (answer != kAnswerAccepted) {
            return AttemptEnd::WrongWakeAnswer;
        }
        m_channel.Pause(kBeforeLengthFrame);
        const auto lengthFrame = LengthFrame(m_payloadLength);
        m_channel.Label("length frame");
        if (!m_channel.SendFrame(lengthFrame.data(), lengthFrame.size())) {
            return AttemptEnd::LengthRefused;
        }
        ++m_report.framesSent;
        return Transfer();
    }

    // Bytes and pauses alternating: byte, pause, byte, pause, ..., byte.
    void SendWake(std::initializer_list<int> bytesAndPauses) {
        bool isByte = true;
        for (const int value : bytesAndPauses) {
            if (isByte) {
                const auto byte = static_cast<std::uint8_t>(value);
                m_channel.Write(&byte, 1);
            } else {
                m_channel.Pause(value);
            }
            isByte = !isByte;
        }
    }

    AttemptEnd Transfer() {
        constexpr auto kBlock = static_cast<std::uint32_t>(kSerialBlockSize);
        const std::uint32_t wholeBlocks = m_payloadLength / kBlock;
        const std::uint32_t rest = m_payloadLength % kBlock;
        m_host.SetStatusText(std::string(kStatusUpgrading));
        m_host.ShowProgress(true);
        m_host.SetProgressRange(static_cast<std::uint16_t>(wholeBlocks));
        m_host.SetProgressPosition(0);
        m_host.CopyDataToControls();

        const std::uint8_t* payload = m_image->data() + kUpdateHeaderSize;
        std::array<std::uint8_t, kSerialBlockSize> wire{};
        for (std::uint32_t block = 0; block < wholeBlocks; ++block) {
            m_host.PumpMessages();
            m_host.SetProgressPosition(static_cast<int>(block));
            MaskSerialBlock({payload + block * kBlock, kSerialBlockSize}, wire.data());
            m_channel.Label(rest == 0 && block + 1 == wholeBlocks ? "last block" : "block", block);
            if (!m_channel.SendFrame(wire.data(), kSerialBlockSize)) {
                return AttemptEnd::BlockRefused;
            }
            ++m_report.framesSent;
        }
        if (rest != 0) {
            m_host.PumpMessages();
            MaskSerialBlock({payload + wholeBlocks * kBlock, rest}, wire.data());
            m_channel.Label("last block", wholeBlocks);
            if (!m_channel.SendFrame(wire.data(), rest)) {
                return AttemptEnd::LastBlockRefused;
            }
            ++m_report.framesSent;
        }
        return AttemptEnd::Completed;
    }

    bool Open(const DeviceEntry& entry, std::uint32_t baudRate) {
        m_report.deviceName = entry.deviceName;
        if (m_channel.Open(entry.deviceName, baudRate)) {
            m_host.ChargerReached();
            return true;
        }
        m_report.openError = m_channel.OpenError();
        m_report.openNode = m_channel.OpenNode();
        m_report.openErrno = m_channel.OpenErrno();
        m_report.openRateRefused = m_channel.OpenRateRefused();
        return false;
    }

    bool OpenSelected(std::uint32_t baudRate) { return Open(m_host.SelectedEntry(), baudRate); }

    void FailToOpen() {
        m_channel.Close();
        Finish(UpgradeOutcome::OpenFailed, kTextErrorOpeningComPort, kCaptionError,
               MessageIcon::Error);
    }

    void FailAttempts(AttemptEnd end) {
        switch (end) {
        case AttemptEnd::NoDevice:
            Finish(UpgradeOutcome::Failed, kTextNoDeviceAnswered, kCaptionInfo, MessageIcon::None);
            return;
        case AttemptEnd::WrongWakeAnswer:
            return FinishCommunication('0');
        case AttemptEnd::LengthRefused:
            return FinishCommunication('1');
        case AttemptEnd::BlockRefused:
            return FinishCommunication('2');
        default:
            return FinishCommunication('3');
        }
    }

    void FinishCommunication(char step) {
        const std::string text = std::string(kTextErrorCommunication) + step;
        Finish(UpgradeOutcome::Failed, text, kCaptionError, MessageIcon::Error);
    }

    // The message first, then the window set back.
    void Finish(UpgradeOutcome outcome, std::string_view text, std::string_view caption,
                MessageIcon icon) {
        m_report.outcome = outcome;
        m_report.message = text;
        TakeFigures();
        m_host.RunEnding(m_report);
        m_host.ShowMessageBox(text, caption, icon);
        Exit();
    }

    void Exit() {
        SetWindowBack(m_host);
        m_channel.Close();
    }

    // The run's time and the link's counts so far.
    void TakeFigures() {
        m_report.elapsedMs = TickCount() - m_startTick;
        const LinkStatistics& link = m_channel.Statistics();
        m_report.resends = link.resends;
        m_report.timeouts = link.readTimeouts;
        m_report.deviceLost = link.deviceLost;
    }

    UpgradeHost& m_host;
    std::unique_ptr<const UpdateImage> m_image;
    DeviceChannel m_channel;
    UpgradeReport m_report;
    std::uint32_t m_startTick = 0;
    std::uint8_t m_modelCode = 0;
    std::uint32_t m_payloadLength = 0;
};

}  // namespace

UpgradeReport UpgradeOverSerial(UpgradeHost& host) {
    return SerialUpgrade(host).Run();
}

const char* TraceOutcomeWord(UpgradeOutcome outcome) {
    switch (outcome) {
    case UpgradeOutcome::Completed:
        return "completed";
    case UpgradeOutcome::Mismatch:
        return "mismatch";
    case UpgradeOutcome::OpenFailed:
        return "open failed";
    case UpgradeOutcome::FileRejected:
        return "file rejected";
    case UpgradeOutcome::Failed:
        break;
    }
    return "failed";
}

}  // namespace velmorin
