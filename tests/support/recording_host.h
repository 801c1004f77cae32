// SPDX-License-Identifier: MIT
// A host for the upgrade procedures that records what the operator would
// see (status texts, progress, the Update button, message boxes, the file
// information) and, like the window, follows device changes from its
// message pump by rebuilding the device table.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/device_watcher.h"
#include "protocol/upgrade_host.h"
#include "session/device_table.h"

namespace velmorin::testing {

class RecordingHost : public UpgradeHost {
public:
    // Upgrades the file at `path` on the device named `deviceName`, which
    // must be in the host's device table (built here, plain ports included).
    RecordingHost(std::string path, const std::string& deviceName);

    std::string PathText() override { return m_path; }
    DeviceEntry SelectedEntry() override;
    std::vector<DeviceEntry> ListedEntries() override { return m_table.Entries(); }
    void ShowStatus(bool visible) override;
    void SetStatusText(const std::string& text) override;
    void ShowProgress(bool visible) override;
    void SetProgressRange(std::uint16_t maximum) override;
    void SetProgressPosition(int position) override;
    void EnableUpdateButton(bool enabled) override;
    void CopyDataToControls() override;
    void PumpMessages() override;
    void ResetFileInfo(std::string_view reason) override;
    void ShowFileInfo(const FileInfoText& info) override;
    void ShowMessageBox(std::string_view text, std::string_view caption, MessageIcon icon) override;

    // Everything in order, e.g. "status:Connecting...", "box:Error|...".
    std::vector<std::string> events;
    std::vector<std::string> statusTexts;
    std::vector<std::string> messageBoxes;  // "text|caption|icon"
    int progressMaximum = -1;
    int lastProgressPosition = -1;
    int pumps = 0;
    bool statusVisible = false;
    bool progressVisible = false;
    bool updateEnabled = true;

    // The selected entry names `deviceName` instead, until the table is
    // rebuilt (as an entry whose device went away and came back renamed).
    void RenameSelected(std::string deviceName) { m_renamed = std::move(deviceName); }

private:
    std::string m_path;
    DeviceTable m_table;
    int m_selected = -1;
    std::optional<std::string> m_renamed;
    DeviceWatcher m_watcher;
};

}  // namespace velmorin::testing
