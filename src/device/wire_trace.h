// SPDX-License-Identifier: MIT
// A run's wire trace, for support: every byte a device channel sent and
// received (as it travelled, so a payload shows masked), its waits, read
// time-outs, opens and closes, the charger's restart under another name and
// the run's outcome, each with the time since the trace began. Recording only
// stores the facts in buffers reserved up front; the lines are formatted when
// the trace is written, as text or as one JSON object per line.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace velmorin {

enum class TraceFormat { Text, Json };

class WireTrace {
public:
    // The trace's clock starts here.
    WireTrace();
    WireTrace(const WireTrace&) = delete;
    WireTrace& operator=(const WireTrace&) = delete;

    // What the channel records. The events after an open belong to the
    // device it opened; an open of a device opened before is a re-open.
    void Opened(std::string_view device, std::string_view node, std::uint32_t baudRate);
    void OpenFailed(std::string_view device, std::string_view error);
    void Closed();
    // `pacedMs`: the bytes went one at a time, this many ms apart.
    void Sent(const std::uint8_t* data, std::uint32_t count, int pacedMs = 0);
    void Received(const std::uint8_t* data, std::uint32_t count);
    void TimedOut(std::uint32_t timeoutMs);
    void DeviceLost();
    void Waited(int milliseconds);
    // The charger answered '5': the frame goes out again (`resend` of
    // `maxResends`).
    void Resend(int resend, int maxResends);

    // What the protocols add. `label` names what is sent from now until the
    // next read (the read ends it), e.g. "block" and 3; `label` is a string
    // literal (it is kept as a pointer). A negative `number` shows none.
    void Label(const char* label, std::int64_t number = -1) {
        m_label = label;
        m_labelNumber = number;
    }
    // The label in force, for a sender that repeats its bytes.
    const char* CurrentLabel() const { return m_label; }
    std::int64_t CurrentLabelNumber() const { return m_labelNumber; }
    // A step of the run, e.g. "attempt" and 2 (a literal, as for Label).
    void Note(const char* what, std::int64_t number = -1);
    // The charger dropped off to restart; `device` came back as it.
    void WaitingForDevice(std::string_view device);
    void CameBack(std::string_view device);
    // `outcome` in a word or two ("completed", "failed") and the final message.
    void Outcome(std::string_view outcome, std::string_view message);

    std::size_t EventCount() const { return m_events.size(); }
    // The trace as text (a line per event) or as JSON (an object per line).
    std::string Format(TraceFormat format) const;
    // Writes the trace to `path`, replacing it; empty on success, else why
    // not (the system's words).
    std::string WriteTo(const std::filesystem::path& path, TraceFormat format) const;

private:
    enum class Kind : std::uint8_t {
        Open,
        Reopen,
        OpenFailed,
        Close,
        Sent,
        Received,
        TimedOut,
        DeviceLost,
        Wait,
        Resend,
        Note,
        WaitingForDevice,
        CameBack,
        Outcome,
    };
    static constexpr std::uint16_t kNoDevice = 0xFFFF;

    struct Event {
        std::int64_t atUs = 0;
        const char* label = nullptr;
        std::int64_t number = -1;  // the label's number, a time in ms, a rate
        std::int64_t value = 0;    // a paced send's spacing, a resend's limit
        std::uint32_t first = 0;   // bytes: where in m_bytes; texts: the index in m_texts
        std::uint32_t count = 0;   // bytes: how many
        std::uint16_t device = kNoDevice;
        Kind kind = Kind::Note;
    };

    Event& Add(Kind kind);
    std::uint32_t AddText(std::string_view text);
    std::uint16_t DeviceIndex(std::string_view device);
    void FormatText(const Event& event, std::string& out) const;
    void FormatJson(const Event& event, std::string& out) const;
    std::string_view DeviceOf(const Event& event) const;

    std::int64_t m_startNs;
    std::vector<Event> m_events;
    std::vector<std::uint8_t> m_bytes;
    std::vector<std::string> m_texts;
    std::vector<std::string> m_devices;
    std::vector<bool> m_deviceOpened;
    std::uint16_t m_device = kNoDevice;
    const char* m_label = nullptr;
    std::int64_t m_labelNumber = -1;
};

}  // namespace velmorin
