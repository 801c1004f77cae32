// SPDX-License-Identifier: MIT
// Ledger entries out of upgrade reports.
#include "session/upgrade_record.h"

#include "image/code_page.h"
#include "image/file_path.h"
#include "image/sha256.h"
#include "image/update_image.h"

namespace velmorin {
namespace {

// Keeps the texts that the header check shows.
class CapturedFileInfo : public FileInfoDisplay {
public:
    void ResetFileInfo(std::string_view /*reason*/) override {}
    void ShowFileInfo(const FileInfoText& info) override { shown = info; }
    void ShowMessageBox(std::string_view /*text*/, std::string_view /*caption*/,
                        MessageIcon /*icon*/) override {}
    FileInfoText shown;
};

}  // namespace

std::string_view ToolVersion() {
    return VELMORIN_VERSION;
}

UpgradedFile UpgradedFile::Describe(const std::string& path) {
    UpgradedFile file;
    file.path = path;
    const std::filesystem::path where = PathFromText(path);
    file.sha256 = Sha256HexOfFile(where);
    CapturedFileInfo display;
    UpdateImage image;
    if (CheckUpdateFile(where, image, display).Accepted()) {
        file.version = display.shown.version;
        file.type = display.shown.type;
        file.memo = display.shown.memo;
    }
    return file;
}

LedgerOutcome LedgerOutcomeOf(UpgradeOutcome outcome) {
    switch (outcome) {
    case UpgradeOutcome::Completed:
        return LedgerOutcome::Completed;
    case UpgradeOutcome::FileRejected:
        return LedgerOutcome::FileRejected;
    case UpgradeOutcome::OpenFailed:
        return LedgerOutcome::OpenFailed;
    case UpgradeOutcome::Mismatch:
        return LedgerOutcome::Mismatch;
    case UpgradeOutcome::Failed:
        return LedgerOutcome::Failed;
    }
    return LedgerOutcome::Failed;
}

LedgerEntry LedgerEntryFor(const UpgradeReport& report, const DeviceEntry& device,
                           std::string_view slot, const UpgradedFile& file,
                           std::string_view operatorName, std::string_view message) {
    LedgerEntry entry;
    entry.time = LedgerTime(std::chrono::system_clock::now());
    entry.station = StationName();
    entry.operatorName = operatorName.empty() ? OperatorName() : std::string(operatorName);
    entry.device = !report.deviceName.empty() ? report.deviceName : device.deviceName;
    entry.slot = slot;
    // The device list keeps the chargers' texts in their single-byte code
    // page; the history is UTF-8.
    entry.model = CodePageToUtf8(device.modelText);
    entry.serialNumber = CodePageToUtf8(device.serialText);
    entry.file = TextOfPath(PathFromText(file.path).filename());
    entry.fileSha256 = file.sha256;
    entry.fileVersion = file.version;
    entry.fileType = file.type;
    entry.outcome = LedgerOutcomeOf(report.outcome);
    entry.message = message.empty() ? report.message : std::string(message);
    entry.errorCode = report.errorCode;
    entry.attempts = report.attempts;
    entry.frames = report.framesSent;
    entry.resends = report.resends;
    entry.timeouts = report.timeouts;
    entry.elapsedMs = report.elapsedMs;
    if (report.outcome == UpgradeOutcome::Completed && report.elapsedMs > 0) {
        entry.bytesPerSecond = report.payloadBytes * 1000 / report.elapsedMs;
    }
    entry.toolVersion = ToolVersion();
    return entry;
}

}  // namespace velmorin
