// SPDX-License-Identifier: MIT
// The file information that the main window shows for the chosen update
// file (Version, Type, Memo, the file message and the Update button), and the
// two steps that update it: reset and show. The window's logic implements
// the display (it keeps whether the file is accepted), the command-line tool
// with a terminal, tests with a recorder.
#pragma once

#include <string>
#include <string_view>

#include "image/update_header.h"

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
    // Show the texts and their labels and hide the file message; the file
    // is accepted (whether that enables Update is the display's business).
    virtual void ShowFileInfo(const FileInfoText& info) = 0;
    // A message box with an OK button.
    virtual void ShowMessageBox(std::string_view text, std::string_view caption,
                                MessageIcon icon) = 0;
};

// File information reset: the file is no longer accepted.
void FileInfoReset(FileInfoDisplay& display, std::string_view reason = {});

// The texts shown for an accepted file's header.
FileInfoText FileInfoTextOf(const UpdateHeader& header);

// File information show, from an accepted file's header.
void FileInfoShow(FileInfoDisplay& display, const UpdateHeader& header);

}  // namespace velmorin
