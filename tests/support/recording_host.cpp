// SPDX-License-Identifier: MIT
// The recording host.
#include "support/recording_host.h"

namespace velmorin::testing {

RecordingHost::RecordingHost(std::string path, const std::string& deviceName)
    : m_path(std::move(path)) {
    m_table.Rebuild(true, false);
    const std::vector<DeviceEntry> entries = m_table.Entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].deviceName == deviceName) {
            m_selected = static_cast<int>(i);
            break;
        }
    }
}

DeviceEntry RecordingHost::SelectedEntry() {
    DeviceEntry entry = m_table.At(m_selected);
    if (m_renamed) {
        entry.deviceName = *m_renamed;
    }
    return entry;
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
        m_table.Rebuild(true, false);
        m_renamed.reset();
    }
}

void RecordingHost::ResetFileInfo(std::string_view reason) {
    events.push_back("file-reset:" + std::string(reason));
}

void RecordingHost::ShowFileInfo(const FileInfoText& /*info*/) {
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
