// SPDX-License-Identifier: MIT
// What an upgrade procedure needs of the window (or terminal) that drives
// it: the chosen file's path, the selected device, the status line, the
// progress bar, the Update button, message boxes, the file information, and
// a message pump that follows device changes. The window's logic implements
// it (a worker thread reaches it through queued calls), velmorin-cli with a
// terminal, tests with a recorder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/device_entry.h"
#include "image/file_info_display.h"
#include "image/update_image.h"
#include "protocol/upgrade_report.h"

namespace velmorin {

class WireTrace;

class UpgradeHost : public FileInfoDisplay {
public:
    // The text of the path field.
    virtual std::string PathText() = 0;
    // The entry at the device list's current selection, read afresh each time
    // (a device change may rebuild the table while an upgrade pumps
    // messages); an empty entry when nothing is selected.
    virtual DeviceEntry SelectedEntry() = 0;
    // Every entry of the device table as it stands now, in the list's order.
    virtual std::vector<DeviceEntry> ListedEntries() = 0;

    virtual void ShowStatus(bool visible) = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    virtual void ShowProgress(bool visible) = 0;
    // The bar runs from 0 to `maximum`.
    virtual void SetProgressRange(std::uint16_t maximum) = 0;
    virtual void SetProgressPosition(int position) = 0;
    virtual void EnableUpdateButton(bool enabled) = 0;
    // Copies the dialog's data into its controls (once, as a transfer begins).
    virtual void CopyDataToControls() = 0;
    // Handles what is pending (repaints, clicks, device changes, which
    // rebuild the device table) without waiting.
    virtual void PumpMessages() = 0;
    // Where the run records what goes over the wire, for support; nullptr
    // (the default) records nothing. Read once, as the run begins, on the
    // run's own thread; the trace is the run's alone until it ends.
    virtual WireTrace* Trace() { return nullptr; }
    // The bytes the run sends, read before it began (a station reads them
    // once for its whole session); nullptr (the default): the run reads the
    // file at PathText itself.
    virtual const UpdateFileBytes* FileBytes() { return nullptr; }
    // The charger's device is open and the run's first byte is about to
    // go to it: called on the run's thread after each open that succeeded.
    virtual void ChargerReached() {}
    // The run has ended as `report` says (outcome, message, counts and the
    // time so far): called once, on the run's thread, just before the final
    // message box, so that the run is on record while the box is up. Not
    // called when the load of the file ended the run.
    virtual void RunEnding(const UpgradeReport& /*report*/) {}
};

}  // namespace velmorin
