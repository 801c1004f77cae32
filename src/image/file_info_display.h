// SPDX-License-Identifier: MIT
// The file information that the main window shows for the chosen update
// file (Version, Type, Memo, the file message and the Update button), and the
// two steps that update it: reset and show. The main dialog implements the
// display with widgets, the command-line tool with a terminal, tests with a
// recorder.
#pragma once

#include <string>
#include <string_view>

namespace velmorin {

// Texts the operator sees about update files.
inline constexpr std::string_view kTextFileBig = "The file is big!";
inline constexpr std::string_view kTextFileFormatError = "File format error!";
inline constexpr std::string_view kTextErrorOpenFile = "Error open file";
inline constexpr std::string_view kCaptionError = "Error";

enum class MessageIcon { None, Error, Exclamation };

// The header's texts, converted to UTF-8 for display.
struct FileInfoText {
    std::string version;
    std::string type;
    std::string memo;
};

class FileInfoDisplay {
public:
    virtual ~FileInfoDisplay() = default;
    // Hide the Version, Type and Memo labels, empty their texts and disable
    // the Update button. A non-empty reason is shown in the file message;
    // without one the file message is emptied and hidden.
    virtual void ResetFileInfo(std::string_view reason) = 0;
    // Show the texts and their labels, hide the file message, and enable or
    // disable the Update button as told.
    virtual void ShowFileInfo(const FileInfoText& info, bool updateEnabled) = 0;
    // A message box with an OK button.
    virtual void ShowMessageBox(std::string_view text, std::string_view caption,
                                MessageIcon icon) = 0;
};

// Whether the last header check or load accepted the update file.
extern bool g_bFileAccepted;

// File information reset: clears g_bFileAccepted, then resets the display.
void FileInfoReset(FileInfoDisplay& display, std::string_view reason = {});

// File information show, from the header in the image store: sets
// g_bFileAccepted; the Update button is enabled only while a device is listed.
void FileInfoShow(FileInfoDisplay& display);

}  // namespace velmorin
