// SPDX-License-Identifier: MIT
// What an upgrade procedure needs of the window (or terminal) that drives
// it: the chosen file's path, the selected device, the status line, the
// progress bar, the Update button, message boxes, the file information, and
// a message pump that keeps the window alive and follows device changes.
// The main dialog implements it with widgets, velmorin-cli with a terminal,
// tests with a recorder.
#pragma once

#include <cstdint>
#include <string>

#include "image/file_info_display.h"

namespace velmorin {

class UpgradeHost : public FileInfoDisplay {
public:
    // The text of the path field.
    virtual std::string PathText() = 0;
    // The device list's current selection, an index into g_deviceTable, or
    // -1 when nothing is selected.
    virtual int SelectedIndex() = 0;

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
};

}  // namespace velmorin
