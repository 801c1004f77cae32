// SPDX-License-Identifier: MIT
// The HID bootloader conversation.
#include "protocol/hid_upgrade.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "device/charger_lock.h"
#include "device/device_channel.h"
#include "device/device_name.h"
#include "device/hid_interface.h"
#include "device/wire_trace.h"
#include "image/update_image.h"
#include "protocol/bootloader_wire.h"
#include "protocol/challenge_crc.h"
#include "protocol/protocol_clock.h"
#include "protocol/serial_upgrade.h"
#include "protocol/upgrade_steps.h"
#include "protocol/upgrade_texts.h"

namespace velmorin {
namespace {

// Failure codes.
constexpr int kErrorOpen = 8001;
constexpr int kErrorNotBack = 8002;
constexpr int kErrorMismatch = 8003;
constexpr int kErrorNoStartAnswer = 1001;
constexpr int kErrorRefusals = 1002;
constexpr int kErrorChallenge = 1003;
constexpr int kErrorNoReplyAnswer = 1006;
constexpr int kErrorReplyAnswer = 1007;
constexpr int kErrorNoBlockAnswer = 1008;
constexpr int kErrorBlockAnswer = 1009;

// Waits and pauses, in ms.
constexpr std::uint32_t kModelAnswerTimeout = 2000;
constexpr std::uint32_t kStartAnswerTimeout = 5000;
constexpr std::uint32_t kBlockAnswerTimeout = 2000;
constexpr int kBeforeWaitRounds = 1000;
constexpr int kBetweenWaitRounds = 200;
constexpr int kWaitRounds = 50;
constexpr int kBeforeSecondAttempt = 200;
constexpr int kRefusalsAllowed = 4;

// What the charger's lock is taken on. Without a serial number two chargers
// of one model look alike; the device name then tells them apart. Simulated
// chargers (all alike unless told otherwise) are told apart by their
// sockets. HIDn may already be another interface (a neighbour that
// restarted moves the numbers), so one with another serial number is passed
// over for the interface that has this charger's.
std::string HidChargerIdentity(const DeviceEntry& entry) {
    std::string identity = entry.modelText + '\n' + entry.serialText + '\n' +
                           (entry.serialText.empty() ? entry.deviceName : "");
    if (const auto name = ParseDeviceName(entry.deviceName)) {
        const std::vector<HidInterfaceInfo> interfaces = EnumerateHidInterfaces();
        const HidInterfaceInfo* own = nullptr;
        if (name->number < interfaces.size() &&
            (entry.serialText.empty() ||
             interfaces[name->number].serialNumber == entry.serialText)) {
            own = &interfaces[name->number];
        } else if (!entry.serialText.empty()) {
            const auto found = std::find_if(interfaces.begin(), interfaces.end(),
                                            [&](const HidInterfaceInfo& info) {
                                                return info.serialNumber == entry.serialText;
                                            });
            own = found != interfaces.end() ? &*found : nullptr;
        }
        if (own != nullptr && own->isVirtual) {
            identity += '\n' + own->path;
        }
    }
    return identity;
}

class HidUpgrade {
public:
    HidUpgrade(UpgradeHost& host, NonceSource& nonces) : m_host(host), m_nonces(nonces) {}

    UpgradeReport Run() {
        m_startTick = TickCount();
        m_channel.SetTrace(m_host.Trace());
        Execute();
        m_channel.Close();
        if (WireTrace* trace = m_channel.Trace()) {
            trace->Outcome(TraceOutcomeWord(m_report.outcome), m_report.message);
        }
        SetWindowBack(m_host);
        TakeFigures();
        return m_report;
    }

    // The run's time and the link's counts so far.
    void TakeFigures() {
        m_report.elapsedMs = TickCount() - m_startTick;
        m_report.resends = m_channel.Statistics().resends;
        m_report.timeouts = m_channel.Statistics().readTimeouts;
        m_report.deviceLost = m_channel.Statistics().deviceLost;
    }

private:
    void Execute() {
        m_image = LoadFileForUpgrade(m_host, true, m_report.fileCheck);
        if (!m_image) {
            return;
        }
        const UpdateHeader header = m_image->Header();
        m_modelCode = header.modelCode;
        m_plainPayload = header.plainPayload != 0;
        m_payloadLength = header.payloadLength;
        m_version = StartPacketVersion(m_image->HeaderBytes());
        m_report.payloadBytes = m_payloadLength;

        if (!HoldCharger()) {
            Fail(kErrorOpen);
            return;
        }
        int errorCode = 0;
        for (int attempt = 0; attempt < kHidAttempts; ++attempt) {
            ++m_report.attempts;
            m_host.SetStatusText(
                std::string(attempt == 0 ? kStatusConnecting : kStatusConnectingAgain));
            errorCode = Attempt();
            if (errorCode == 0) {
                const std::string text = CompletionText(TickCount() - m_startTick);
                m_report.outcome = UpgradeOutcome::Completed;
                m_report.message = text;
                TakeFigures();
                m_host.RunEnding(m_report);
                m_host.ShowMessageBox(text, kCaptionSuccess, MessageIcon::None);
                return;
            }
            m_channel.Close();
            if (attempt + 1 < kHidAttempts) {
                m_channel.Pause(kBeforeSecondAttempt);
            }
        }
        Fail(errorCode);
    }

    void Fail(int errorCode) {
        m_report.errorCode = errorCode;
        m_report.outcome = errorCode == kErrorMismatch ? UpgradeOutcome::Mismatch
                           : errorCode == kErrorOpen   ? UpgradeOutcome::OpenFailed
                                                       : UpgradeOutcome::Failed;
        m_report.message = HidErrorText(errorCode);
        TakeFigures();
        m_host.RunEnding(m_report);
        m_host.ShowMessageBox(m_report.message, kCaptionError, MessageIcon::Error);
    }

    // Holds the selected charger for the whole run, through its restart
    // under another node; false when another run holds it.
    bool HoldCharger() {
        const DeviceEntry entry = m_host.SelectedEntry();
        m_report.deviceName = entry.deviceName;
        const std::string identity = HidChargerIdentity(entry);
        std::string holder;
        std::string lockPath;
        m_lock = ChargerLock::Acquire(identity, holder, lockPath);
        if (m_lock == nullptr) {
            m_report.openError =
                entry.deviceName + " is busy: " + holder + " is upgrading this charger";
            m_report.openNode = lockPath;
            m_report.openErrno = EBUSY;
            return false;
        }
        return true;
    }

    // One attempt; 0 when the payload was taken, else the failure code.
    int Attempt() {
        if (WireTrace* trace = m_channel.Trace()) {
            trace->Note("attempt", m_report.attempts);
        }
        m_identity = m_host.SelectedEntry();
        m_report.deviceName = m_identity.deviceName;
        m_channel.ExpectHidSerialNumber(m_identity.serialText);
        if (!m_channel.Open(m_identity.deviceName, kFirmwareBaudRate)) {
            m_report.openError = m_channel.OpenError();
            m_report.openNode = m_channel.OpenNode();
            m_report.openErrno = m_channel.OpenErrno();
            return kErrorOpen;
        }
        m_host.ChargerReached();
        if (!ReachedCharger()) {
            m_report.openError = m_identity.deviceName + " is now another charger (S/N " +
                                 m_channel.HidSerialNumber() + ", not " + m_identity.serialText +
                                 ")";
            return kErrorOpen;
        }
        m_channel.Label("enter command");
        m_channel.SendLine(EnterBootloaderCommand(m_modelCode));
        bool mustWait = false;
        if (ReadAnswer(kModelAnswerTimeout)) {
            if (m_answer[0] == kAnswerRefused) {
                return kErrorMismatch;
            }
            // '&': the firmware restarts into its bootloader. Anything else:
            // the bootloader is taken to be running already.
            mustWait = m_answer[0] == kAnswerAccepted;
        }
        for (;;) {
            if (mustWait && !WaitForDevice()) {
                return kErrorNotBack;
            }
            const int result = Start();
            if (result != kRestart) {
                return result;
            }
            mustWait = true;
        }
    }

    static constexpr int kRestart = -1;

    // Start packet, challenge and reply, then the transfer. kRestart when the
    // charger asks to be waited for again.
    int Start() {
        StartPacket packet;
        packet.payloadLength = m_payloadLength;
        packet.modelField = StartPacketModelField(m_modelCode, m_plainPayload);
        packet.version = m_version;
        packet.nonce = m_nonces.Next();
        const auto bytes = BuildStartPacket(packet);
        m_channel.Label("start packet");
        m_channel.Write(bytes.data(), bytes.size());
        if (!ReadAnswer(kStartAnswerTimeout)) {
            return kErrorNoStartAnswer;
        }
        if (m_answer[0] != kAnswerAccepted) {
            return ++m_refusals > kRefusalsAllowed ? kErrorRefusals : kRestart;
        }
        std::array<std::uint32_t, 5> words{packet.nonce};
        for (std::size_t i = 1; i < words.size(); ++i) {
            words[i] = LoadLittleEndian32(&m_answer[4 * i]);
        }
        if (ChallengeCrc(words) != 0) {
            return kErrorChallenge;
        }
        const std::uint32_t reply = words[2] ^ packet.nonce;
        std::array<std::uint8_t, 4> replyBytes{};
        StoreLittleEndian32(reply, replyBytes.data());
        m_channel.Label("challenge reply");
        m_channel.Write(replyBytes.data(), replyBytes.size());
        if (!ReadAnswer(kStartAnswerTimeout)) {
            return kErrorNoReplyAnswer;
        }
        if (m_answer[0] == kAnswerRefused) {
            return kRestart;
        }
        if (m_answer[0] != kAnswerAccepted) {
            return kErrorReplyAnswer;
        }
        return Transfer(m_payloadLength + reply);
    }

    // The charger drops off the bus and comes back as its bootloader; the
    // device table follows it through the message pump.
    bool WaitForDevice() {
        m_channel.Close();
        WireTrace* const trace = m_channel.Trace();
        if (trace != nullptr) {
            trace->WaitingForDevice(m_identity.deviceName);
        }
        m_channel.Pause(kBeforeWaitRounds);
        for (int round = 0; round < kWaitRounds; ++round) {
            m_host.PumpMessages();
            if (m_host.SelectedEntry().SameDevice(m_identity)) {
                if (m_channel.Open(m_identity.deviceName, kFirmwareBaudRate) && ReachedCharger()) {
                    if (trace != nullptr) {
                        trace->CameBack(m_identity.deviceName);
                    }
                    return true;
                }
                m_channel.Close();
            } else {
                // Found again by model and serial number, under whatever
                // name it came back with.
                for (const DeviceEntry& entry : m_host.ListedEntries()) {
                    if (!entry.SameCharger(m_identity)) {
                        continue;
                    }
                    if (m_channel.Open(entry.deviceName, kFirmwareBaudRate) && ReachedCharger()) {
                        if (trace != nullptr) {
                            trace->CameBack(entry.deviceName);
                        }
                        return true;
                    }
                    m_channel.Close();
                }
            }
            m_channel.Pause(kBetweenWaitRounds);
        }
        if (trace != nullptr) {
            trace->Note("the charger did not come back");
        }
        return false;
    }

    int Transfer(std::uint32_t key) {
        const auto blocks =
            static_cast<std::uint32_t>((m_payloadLength + kHidBlockSize - 1) / kHidBlockSize);
        m_host.SetStatusText(std::string(kStatusUpgrading));
        m_host.ShowProgress(true);
        m_host.SetProgressRange(static_cast<std::uint16_t>(blocks));
        m_host.SetProgressPosition(0);
        m_host.CopyDataToControls();

        std::array<std::uint8_t, kHidBlockSize> wire{};
        for (std::uint32_t block = 0; block < blocks; ++block) {
            m_host.PumpMessages();
            m_host.SetProgressPosition(static_cast<int>(block));
            // The store is zero past the payload, so the last block's tail
            // carries nothing of any other file.
            const std::span<const std::uint8_t, kHidBlockSize> image(
                m_image->data() + kUpdateHeaderSize + block * kHidBlockSize, kHidBlockSize);
            if (m_plainPayload) {
                std::copy(image.begin(), image.end(), wire.begin());
            } else {
                MaskHidBlock(image, key, wire.data());
            }
            m_channel.Label(block + 1 == blocks ? "last block" : "block", block);
            m_channel.Write(wire.data(), kHidBlockSize);
            if (!ReadAnswer(kBlockAnswerTimeout)) {
                return kErrorNoBlockAnswer;
            }
            if (m_answer[0] != kAnswerAccepted) {
                return kErrorBlockAnswer;
            }
            ++m_report.framesSent;
        }
        return 0;
    }

    // Whether the open channel reached the charger this run is for: a HIDn
    // is whichever interface is n-th at the moment of the open, and a
    // neighbour may have taken the number while this charger was away.
    bool ReachedCharger() const {
        const std::string& wanted = m_identity.serialText;
        if (wanted.empty()) {
            return true;
        }
        const std::string& reached = m_channel.HidSerialNumber();
        return reached.substr(0, reached.find('#')) == wanted;
    }

    bool ReadAnswer(std::uint32_t timeoutMs) {
        m_answer.fill(0);
        return m_channel.Read(m_answer.data(), kHidAnswerSize, timeoutMs);
    }

    UpgradeHost& m_host;
    NonceSource& m_nonces;
    std::unique_ptr<const UpdateImage> m_image;
    std::unique_ptr<ChargerLock> m_lock;
    DeviceChannel m_channel;
    UpgradeReport m_report;
    std::uint32_t m_startTick = 0;
    DeviceEntry m_identity;
    std::array<std::uint8_t, kHidAnswerSize> m_answer{};
    int m_refusals = 0;
    std::uint8_t m_modelCode = 0;
    bool m_plainPayload = false;
    std::uint32_t m_payloadLength = 0;
    std::uint32_t m_version = 0;
};

}  // namespace

UpgradeReport UpgradeOverHid(UpgradeHost& host, NonceSource& nonces) {
    return HidUpgrade(host, nonces).Run();
}

std::string CompletionText(std::uint32_t elapsedMs) {
    char text[64];
    std::snprintf(text, sizeof text, "%s (%u.%02u Sec)", kTextUpgradeCompletion.data(),
                  elapsedMs / 1000, (elapsedMs % 1000) / 10);
    return text;
}

bool HidChargerHeldElsewhere(const DeviceEntry& entry, std::string& holder) {
    std::string lockPath;
    return ChargerLock::Acquire(HidChargerIdentity(entry), holder, lockPath) == nullptr;
}

std::string HidErrorText(int code) {
    const std::string_view text = code == kErrorOpen || code == kErrorNotBack
                                      ? kTextErrorOpeningUsbHid
                                  : code == kErrorMismatch ? kTextInconformity
                                                           : kTextErrorCommunication;
    return std::to_string(code) + ": " + std::string(text);
}

}  // namespace velmorin
