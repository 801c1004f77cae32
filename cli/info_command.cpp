// SPDX-License-Identifier: MIT
// The header check from a terminal: the same check and the same texts as the
// main window's file information.
#include "info_command.h"

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string_view>

#include "image/file_info_display.h"
#include "image/file_path.h"
#include "image/update_image.h"
#include "output.h"
#include "terminal_text.h"

namespace velmorin::cli {
namespace {

// Records the file-information steps so that the command can print them in
// plain or JSON form once the check is over.
class RecordedFileInfo : public FileInfoDisplay {
public:
    void ResetFileInfo(std::string_view reason) override {
        m_shown = false;
        m_reason = reason;
    }
    void ShowFileInfo(const FileInfoText& info) override {
        m_shown = true;
        m_info = info;
        m_reason.clear();
    }
    void ShowMessageBox(std::string_view text, std::string_view caption,
                        MessageIcon /*icon*/) override {
        std::cerr << caption << ": " << text << '\n';
    }

    bool m_shown = false;
    FileInfoText m_info;
    std::string m_reason;
};

std::string_view FormName(SealedForm form) {
    return form == SealedForm::WholeFile ? "whole-file" : "header";
}

std::string_view FormDescription(SealedForm form) {
    return form == SealedForm::WholeFile ? "whole file (Triple DES)" : "header only (AES-128)";
}

// The chargers an accepted file can go to: the HID upgrade loads either form,
// the serial upgrade the whole-file form alone.
nlohmann::json ChargerKinds(SealedForm form) {
    return form == SealedForm::WholeFile ? nlohmann::json{"serial", "hid"} : nlohmann::json{"hid"};
}

std::string_view ChargerDescription(SealedForm form) {
    return form == SealedForm::WholeFile
               ? "serial and HID"
               : "HID only (a serial charger takes the whole-file form alone)";
}

// The reason shown for a rejected file: the window's own text, or for a file
// that cannot be opened (the window then shows nothing) what the system said.
std::string RejectionText(const ImageCheck& check, const RecordedFileInfo& display) {
    if (check.result == ImageLoadResult::CannotOpen) {
        return check.openError;
    }
    return display.m_reason;
}

}  // namespace

int RunInfoCommand(const std::string& path, bool json) {
    RecordedFileInfo display;
    UpdateImage image;
    const ImageCheck check = CheckUpdateFile(PathFromText(path), image, display);
    const UpdateHeader header = image.Header();

    if (json) {
        nlohmann::json out;
        out["file"] = path;
        out["accepted"] = check.Accepted();
        if (check.Accepted()) {
            out["version"] = display.m_info.version;
            out["type"] = display.m_info.type;
            out["memo"] = display.m_info.memo;
            out["form"] = FormName(check.form);
            out["chargers"] = ChargerKinds(check.form);
            out["model_code"] = header.modelCode;
            out["plain_payload"] = header.plainPayload != 0;
            out["payload_length"] = header.payloadLength;
            out["file_length"] = check.fileLength;
        } else {
            out["reason"] = RejectionText(check, display);
        }
        std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return FinishOutput(check.Accepted() ? 0 : 1);
    }

    if (!check.Accepted()) {
        std::cerr << TerminalSafe(RejectionText(check, display)) << '\n';
        return 1;
    }
    char modelCode[16];
    std::snprintf(modelCode, sizeof modelCode, "0x%02X", header.modelCode);
    // One "Label: value" line each: a line break or tab in a text shows as
    // an escape, so a memo cannot add lines of its own.
    std::cout << "Version: " << TerminalSafeField(display.m_info.version) << '\n'
              << "Type: " << TerminalSafeField(display.m_info.type) << '\n'
              << "Memo: " << TerminalSafeField(display.m_info.memo) << '\n'
              << "Form: " << FormDescription(check.form) << '\n'
              << "Chargers: " << ChargerDescription(check.form) << '\n'
              << "Model code: " << modelCode << '\n'
              << "Payload length: " << header.payloadLength << " bytes"
              << (header.plainPayload != 0 ? " (sent unmasked over HID)" : "") << '\n';
    return FinishOutput(0);
}

}  // namespace velmorin::cli
