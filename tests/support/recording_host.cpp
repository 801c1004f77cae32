// SPDX-License-Identifier: MIT
// The recording host.
#include "support/recording_host.h"

#include "app/device_table.h"

namespace velmorin::testing {
namespace {

int IndexOf(const std::string& deviceName) {
    for (int i = 0; i < g_deviceCount; ++i) {
        if (g_deviceTable[static_cast<std::size_t>(i)].deviceName == deviceName) {
            return i;
        }
    }
    return -1;
}

}  // namespace

RecordingHost::RecordingHost(std::string path, const std::string& deviceName)
    : m_path(std::move(path)) {
    RebuildDeviceTable(true, false);
    m_selected = IndexOf(deviceName);
}

void RecordingHost::ShowStatus(bool visible) {
    statusVisible = visible;
    events.push_back(visible ? "status:shown" : "status:hidden");
}

void RecordingHost::SetStatusText(const std::string& text) {
    statusTexts.push_back(text);
    events.push_back("status:" + text);
}

void RecordingHost::ShowProgress(bool visible) {
    progressVisible = visible;
    events.push_back(visible ? "progress:shown" : "progress:hidden");
}

void RecordingHost::SetProgressRange(std::uint16_t maximum) {
    progressMaximum = maximum;
}

void RecordingHost::SetProgressPosition(int position) {
    lastProgressPosition = position;
}

void RecordingHost::EnableUpdateButton(bool enabled) {
    updateEnabled = enabled;
    events.push_back(enabled ? "update:on" : "update:off");
}

void RecordingHost::CopyDataToControls() {
    events.push_back("data-to-controls");
}

void RecordingHost::PumpMessages() {
    ++pumps;
    // While an upgrade runs a device change rebuilds only the table; the
    // selection stays where it was.
    if (m_watcher.ConsumeChanges()) {
        RebuildDeviceTable(true, false);
    }
}

void RecordingHost::ResetFileInfo(std::string_view reason) {
    events.push_back("file-reset:" + std::string(reason));
}

void RecordingHost::ShowFileInfo(const FileInfoText& /*info*/, bool /*updateEnabled*/) {
    events.push_back("file-show");
}

void RecordingHost::ShowMessageBox(std::string_view text, std::string_view caption,
                                   MessageIcon icon) {
    const char* iconName = icon == MessageIcon::Error  ? "error"
                           : icon == MessageIcon::None ? "none"
                                                       : "exclamation";
    messageBoxes.push_back(std::string(text) + "|" + std::string(caption) + "|" + iconName);
    events.push_back("box:" + messageBoxes.back());
}

}  // namespace velmorin::testing
