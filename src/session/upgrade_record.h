// SPDX-License-Identifier: MIT
// What the history keeps of one upgrade: the update file as the run read it
// (its name, SHA-256, version and type), the charger, and the run's report,
// made into one ledger entry; and the file pinned for a run or a session,
// read once, so that what is recorded is what was sent.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

#include "device/device_entry.h"
#include "image/update_image.h"
#include "protocol/upgrade_report.h"
#include "session/ledger.h"

namespace velmorin {

// The version of this tool, as the history names it.
std::string_view ToolVersion();

// An update file as the history describes it.
struct UpgradedFile {
    std::string path;     // as the operator gave it
    std::string sha256;   // of the whole file; empty when it could not be read
    std::string version;  // the header's texts; empty for a file the check refuses
    std::string type;
    std::string memo;
};

// An update file read once: every run that is given it sends these bytes,
// and the history describes them, whatever happens to the file on disk
// meanwhile. Safe to share between threads.
class PinnedFile {
public:
    // Reads the file at `path` (UTF-8 on Windows); a file that cannot be
    // read is pinned as such, and every run of it fails as the load says.
    explicit PinnedFile(std::string path);
    PinnedFile(const PinnedFile&) = delete;
    PinnedFile& operator=(const PinnedFile&) = delete;

    const UpdateFileBytes& Bytes() const { return m_bytes; }
    const UpgradedFile& Description() const { return m_description; }
    // Whether the header check accepts the bytes, and in which form.
    bool Accepted() const { return m_header.Accepted(); }
    SealedForm Form() const { return m_header.form; }
    // Why the header check refuses the file, in the load's words ("The file
    // is big!", "File format error!") or the system's (a file that cannot be
    // opened); empty when it is accepted.
    std::string Rejection() const;

    // True when the file on disk no longer holds these bytes (rewritten,
    // replaced or removed). Reads it again only when its size or time of
    // change moved, or that time is within the last two seconds.
    bool ChangedOnDisk() const;

private:
    struct Stamp {
        bool present = false;
        std::uintmax_t size = 0;
        std::filesystem::file_time_type changed{};
        bool operator==(const Stamp&) const = default;
    };
    static Stamp StampOf(const std::filesystem::path& where);

    UpdateFileBytes m_bytes;
    UpgradedFile m_description;
    ImageCheck m_header;  // the header check of the bytes
    mutable std::mutex m_mutex;
    mutable Stamp m_stamp;
    mutable bool m_changed = false;
};

LedgerOutcome LedgerOutcomeOf(UpgradeOutcome outcome);

// The history's entry for `report`, the run on `device` (in `slot`, if the
// station names one) with `file`, stamped now with this computer's name and
// `operatorName` (the user's name when empty). `message` is the final
// message; when empty, the report's.
LedgerEntry LedgerEntryFor(const UpgradeReport& report, const DeviceEntry& device,
                           std::string_view slot, const UpgradedFile& file,
                           std::string_view operatorName, std::string_view message = {});

}  // namespace velmorin
