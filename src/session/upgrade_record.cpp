// SPDX-License-Identifier: MIT
// Ledger entries out of upgrade reports.
#include "session/upgrade_record.h"

#include <chrono>
#include <utility>

#include "image/code_page.h"
#include "image/file_path.h"
#include "image/sha256.h"
#include "image/update_image.h"

namespace velmorin {

std::string_view ToolVersion() {
    return VELMORIN_VERSION;
}

PinnedFile::PinnedFile(std::string path) {
    const std::filesystem::path where = PathFromText(path);
    m_stamp = StampOf(where);
    m_bytes = ReadUpdateFileBytes(where);
    m_description.path = std::move(path);
    m_header = m_bytes.read;
    if (!m_bytes.read.Accepted()) {
        return;
    }
    // Described from the bytes read, once: the digest of the whole file and
    // the header's texts.
    m_description.sha256 = Sha256Hex(m_bytes.bytes);
    UpdateImage image;
    m_header = CheckUpdateHeader(m_bytes.bytes, m_bytes.bytes.size(), image);
    if (m_header.Accepted()) {
        const FileInfoText info = FileInfoTextOf(image.Header());
        m_description.version = info.version;
        m_description.type = info.type;
        m_description.memo = info.memo;
    }
}

PinnedFile::Stamp PinnedFile::StampOf(const std::filesystem::path& where) {
    Stamp stamp;
    std::error_code error;
    stamp.size = std::filesystem::file_size(where, error);
    if (error) {
        return stamp;
    }
    stamp.changed = std::filesystem::last_write_time(where, error);
    stamp.present = !error;
    return stamp;
}

std::string PinnedFile::Rejection() const {
    switch (m_header.result) {
    case ImageLoadResult::Loaded:
        return {};
    case ImageLoadResult::CannotOpen:
        return m_header.openError;
    case ImageLoadResult::TooBig:
        return std::string(kTextFileBig);
    case ImageLoadResult::Empty:
    case ImageLoadResult::FormatError:
        break;
    }
    return std::string(kTextFileFormatError);
}

bool PinnedFile::ChangedOnDisk() const {
    const std::lock_guard lock(m_mutex);
    if (m_changed) {
        return true;
    }
    const std::filesystem::path where = PathFromText(m_description.path);
    const Stamp now = StampOf(where);
    // A time of change may count whole seconds only (as on Windows), so a
    // rewrite of the same size within that second keeps the stamp: a time
    // that recent proves nothing, and the bytes are compared again.
    const bool recent =
        std::filesystem::file_time_type::clock::now() - now.changed < std::chrono::seconds(2);
    if (now == m_stamp && !recent) {
        return false;
    }
    // Touched or copied over with the same bytes is no change.
    const UpdateFileBytes again = ReadUpdateFileBytes(where);
    m_changed = again.read.result != m_bytes.read.result || again.bytes != m_bytes.bytes;
    m_stamp = now;
    return m_changed;
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
