// SPDX-License-Identifier: MIT
// What the main window's logic asks of a view: the controls it reads and the
// states it sets. A view (the Qt dialog, a native dialog, a test's recorder)
// implements it with its own controls and forwards the operator's clicks and
// edits to MainWindowLogic; it keeps no rule of its own.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "image/file_info_display.h"
#include "online/catalogue.h"

namespace velmorin {

class MainWindowView {
public:
    virtual ~MainWindowView() = default;

    // The path field's text, as a file name in the system's encoding.
    virtual std::string PathText() = 0;
    // Puts `path` into the path field; an edit that changes the text reaches
    // the logic as OnPathEdited.
    virtual void SetPathText(const std::string& path) = 0;
    virtual void SetIncludeComChecked(bool checked) = 0;

    // The device list: its lines (UTF-8), the selected line (-1 for none).
    virtual void SetDeviceLines(const std::vector<std::string>& lines) = 0;
    virtual void SelectDeviceLine(int line) = 0;
    virtual int SelectedDeviceLine() = 0;
    virtual void EnableDeviceList(bool enabled) = 0;

    virtual void EnableUpdateButton(bool enabled) = 0;
    virtual void ShowStatus(bool visible) = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    virtual void ShowProgress(bool visible) = 0;
    virtual void SetProgressRange(int maximum) = 0;
    virtual void SetProgressPosition(int position) = 0;

    // Version, Type and Memo with their labels shown, the file message hidden.
    virtual void ShowFileInfo(const FileInfoText& info) = 0;
    // Version, Type and Memo emptied, their labels hidden.
    virtual void ClearFileInfo() = 0;
    // The file message's text, shown or hidden.
    virtual void SetFileMessage(std::string_view text, bool visible) = 0;

    // The new-release link, pointing at `address`, shown; or hidden.
    virtual void ShowReleaseLink(const std::string& address) = 0;
    virtual void HideReleaseLink() = 0;
    // The hidden serial-number controls.
    virtual void ShowSerialNumberControls(bool visible) = 0;

    // While an upgrade runs: Exit, Open..., Download..., the path field,
    // "Include COMx Port" and the new-release link disabled; afterwards each
    // gets back the state it had.
    virtual void HoldControls(bool held) = 0;
    // Copies the dialog's data into its controls.
    virtual void CopyDataToControls() = 0;

    // The "Save trace..." button beside Update: shown while the last run,
    // which did not complete, left its wire trace; hidden otherwise.
    virtual void ShowSaveTraceButton(bool visible) = 0;
    // Asks where to save the trace (a file dialog); the file name as a text
    // (as PathText gives it), empty when the operator cancelled.
    virtual std::string AskTracePath() = 0;

    // A message box with an OK button; returns when it is closed.
    virtual void ShowMessageBox(std::string_view text, std::string_view caption,
                                MessageIcon icon) = 0;
    // The download dialog over the fetched catalogue; returns when it is
    // closed. A downloaded file's path goes to MainWindowLogic::TakeDownloadedFile.
    virtual void RunDownloadDialog(CatalogueContents contents) = 0;
};

}  // namespace velmorin
