// SPDX-License-Identifier: MIT
// The wire trace: facts stored as they happen, lines made when written.
#include "device/wire_trace.h"

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

namespace velmorin {
namespace {

// Room for a short run's events without a reallocation; a whole serial
// transfer (two events per frame) grows the buffers a few times.
constexpr std::size_t kReservedEvents = 4096;
constexpr std::size_t kReservedBytes = 64 * 1024;
// A written trace goes out in pieces of about this size.
constexpr std::size_t kWriteChunk = 1 << 20;

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void AppendHex(const std::uint8_t* data, std::uint32_t count, std::string& out) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (std::uint32_t i = 0; i < count; ++i) {
        if (i > 0) {
            out += ' ';
        }
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 0x0F];
    }
}

// A label and its number: "block 3".
std::string LabelText(const char* label, std::int64_t number) {
    std::string text = label != nullptr ? label : "";
    if (number >= 0) {
        text += (text.empty() ? "" : " ") + std::to_string(number);
    }
    return text;
}

// A message on one line: the line break it may end in dropped, others shown
// as spaces.
std::string OneLine(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    std::string line(text);
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return line;
}

}  // namespace

WireTrace::WireTrace() : m_startNs(NowNs()) {
    m_events.reserve(kReservedEvents);
    m_bytes.reserve(kReservedBytes);
}

WireTrace::Event& WireTrace::Add(Kind kind) {
    Event& event = m_events.emplace_back();
    event.atUs = (NowNs() - m_startNs) / 1000;
    event.kind = kind;
    event.device = m_device;
    return event;
}

std::uint32_t WireTrace::AddText(std::string_view text) {
    m_texts.emplace_back(text);
    return static_cast<std::uint32_t>(m_texts.size() - 1);
}

std::uint16_t WireTrace::DeviceIndex(std::string_view device) {
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        if (m_devices[i] == device) {
            return static_cast<std::uint16_t>(i);
        }
    }
    if (m_devices.size() + 1 >= kNoDevice) {
        return kNoDevice;
    }
    m_devices.emplace_back(device);
    m_deviceOpened.push_back(false);
    return static_cast<std::uint16_t>(m_devices.size() - 1);
}

void WireTrace::Opened(std::string_view device, std::string_view node, std::uint32_t baudRate) {
    m_device = DeviceIndex(device);
    bool again = false;
    if (m_device != kNoDevice) {
        again = m_deviceOpened[m_device];
        m_deviceOpened[m_device] = true;
    }
    Event& event = Add(again ? Kind::Reopen : Kind::Open);
    event.number = baudRate;
    event.first = AddText(node);
}

void WireTrace::OpenFailed(std::string_view device, std::string_view error) {
    m_device = DeviceIndex(device);
    Add(Kind::OpenFailed).first = AddText(error);
}

void WireTrace::Closed() {
    Add(Kind::Close);
}

void WireTrace::Sent(const std::uint8_t* data, std::uint32_t count, int pacedMs) {
    Event& event = Add(Kind::Sent);
    event.label = m_label;
    event.number = m_labelNumber;
    event.value = pacedMs;
    event.first = static_cast<std::uint32_t>(m_bytes.size());
    event.count = count;
    m_bytes.insert(m_bytes.end(), data, data + count);
}

void WireTrace::Received(const std::uint8_t* data, std::uint32_t count) {
    Event& event = Add(Kind::Received);
    event.first = static_cast<std::uint32_t>(m_bytes.size());
    event.count = count;
    m_bytes.insert(m_bytes.end(), data, data + count);
    m_label = nullptr;
    m_labelNumber = -1;
}

void WireTrace::TimedOut(std::uint32_t timeoutMs) {
    Add(Kind::TimedOut).number = timeoutMs;
    m_label = nullptr;
    m_labelNumber = -1;
}

void WireTrace::DeviceLost() {
    Add(Kind::DeviceLost);
    m_label = nullptr;
    m_labelNumber = -1;
}

void WireTrace::Waited(int milliseconds) {
    Add(Kind::Wait).number = milliseconds;
}

void WireTrace::Resend(int resend, int maxResends) {
    Event& event = Add(Kind::Resend);
    event.number = resend;
    event.value = maxResends;
}

void WireTrace::Note(const char* what, std::int64_t number) {
    Event& event = Add(Kind::Note);
    event.label = what;
    event.number = number;
}

void WireTrace::WaitingForDevice(std::string_view device) {
    m_device = DeviceIndex(device);
    Add(Kind::WaitingForDevice);
}

void WireTrace::CameBack(std::string_view device) {
    Add(Kind::CameBack).first = AddText(device);
}

void WireTrace::Outcome(std::string_view outcome, std::string_view message) {
    Event& event = Add(Kind::Outcome);
    event.first = AddText(outcome);
    event.count = AddText(message);
}

std::string_view WireTrace::DeviceOf(const Event& event) const {
    return event.device == kNoDevice ? std::string_view("-") : m_devices[event.device];
}

void WireTrace::FormatText(const Event& event, std::string& out) const {
    char time[48];
    std::snprintf(time, sizeof time, "%8" PRId64 ".%03" PRId64 " ms  ", event.atUs / 1000,
                  event.atUs % 1000);
    out += time;
    out += DeviceOf(event);
    out += ' ';
    switch (event.kind) {
    case Kind::Open:
    case Kind::Reopen:
        out += event.kind == Kind::Open ? "open " : "re-open ";
        out += m_texts[event.first];
        if (event.number > 0) {
            out += " at " + std::to_string(event.number) + " baud";
        }
        break;
    case Kind::OpenFailed:
        out += "open failed: " + OneLine(m_texts[event.first]);
        break;
    case Kind::Close:
        out += "close";
        break;
    case Kind::Sent:
    case Kind::Received: {
        out += event.kind == Kind::Sent ? "> " : "< ";
        AppendHex(m_bytes.data() + event.first, event.count, out);
        std::string label = LabelText(event.label, event.number);
        if (event.value > 0) {
            label += (label.empty() ? "" : ", ") + std::string("a byte every ") +
                     std::to_string(event.value) + " ms";
        }
        if (!label.empty()) {
            out += "  (" + label + ")";
        }
        break;
    }
    case Kind::TimedOut:
        out += "time-out after " + std::to_string(event.number) + " ms";
        break;
    case Kind::DeviceLost:
        out += "device lost";
        break;
    case Kind::Wait:
        out += "wait " + std::to_string(event.number) + " ms";
        break;
    case Kind::Resend:
        out += "resend " + std::to_string(event.number) + " of " + std::to_string(event.value);
        break;
    case Kind::Note:
        out += LabelText(event.label, event.number);
        break;
    case Kind::WaitingForDevice:
        out += "waiting for the charger to come back";
        break;
    case Kind::CameBack:
        out += "came back as " + m_texts[event.first];
        break;
    case Kind::Outcome:
        out += "outcome: " + m_texts[event.first] + ": " + OneLine(m_texts[event.count]);
        break;
    }
    out += '\n';
}

void WireTrace::FormatJson(const Event& event, std::string& out) const {
    static constexpr const char* kNames[] = {
        "open",      "reopen",      "open-failed", "close",  "sent", "received",
        "time-out",  "device-lost", "wait",        "resend", "note", "waiting-for-device",
        "came-back", "outcome",
    };
    nlohmann::ordered_json line;
    line["t_ms"] = static_cast<double>(event.atUs) / 1000.0;
    if (event.device == kNoDevice) {
        line["device"] = nullptr;
    } else {
        line["device"] = DeviceOf(event);
    }
    line["event"] = kNames[static_cast<std::size_t>(event.kind)];
    switch (event.kind) {
    case Kind::Open:
    case Kind::Reopen:
        line["node"] = m_texts[event.first];
        if (event.number > 0) {
            line["baud"] = event.number;
        }
        break;
    case Kind::OpenFailed:
        line["error"] = m_texts[event.first];
        break;
    case Kind::Sent:
    case Kind::Received: {
        std::string bytes;
        AppendHex(m_bytes.data() + event.first, event.count, bytes);
        line["bytes"] = bytes;
        const std::string label = LabelText(event.label, event.number);
        if (!label.empty()) {
            line["label"] = label;
        }
        if (event.value > 0) {
            line["paced_ms"] = event.value;
        }
        break;
    }
    case Kind::TimedOut:
    case Kind::Wait:
        line["ms"] = event.number;
        break;
    case Kind::Resend:
        line["resend"] = event.number;
        line["of"] = event.value;
        break;
    case Kind::Note:
        line["what"] = LabelText(event.label, event.number);
        break;
    case Kind::CameBack:
        line["as"] = m_texts[event.first];
        break;
    case Kind::Outcome:
        line["outcome"] = m_texts[event.first];
        line["message"] = m_texts[event.count];
        break;
    default:
        break;
    }
    out += line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    out += '\n';
}

std::string WireTrace::Format(TraceFormat format) const {
    std::string out;
    out.reserve(m_events.size() * 48);
    for (const Event& event : m_events) {
        format == TraceFormat::Json ? FormatJson(event, out) : FormatText(event, out);
    }
    return out;
}

std::string WireTrace::WriteTo(const std::filesystem::path& path, TraceFormat format) const {
    errno = 0;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    std::string chunk;
    chunk.reserve(kWriteChunk + 4096);
    for (std::size_t i = 0; file && i <= m_events.size(); ++i) {
        if (i < m_events.size()) {
            const Event& event = m_events[i];
            format == TraceFormat::Json ? FormatJson(event, chunk) : FormatText(event, chunk);
        }
        if (chunk.size() >= kWriteChunk || i == m_events.size()) {
            file.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
            chunk.clear();
        }
    }
    if (file) {
        file.close();
    }
    if (!file) {
        return errno != 0 ? std::strerror(errno) : "the file could not be written";
    }
    return {};
}

}  // namespace velmorin
