// SPDX-License-Identifier: MIT
// The maker's update catalogue: fetched from the update server (else the
// fallback server) into a temporary INI file, read for the newest release of
// this tool and for the update files that can be downloaded.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "online/http_transfer.h"

namespace velmorin {

inline constexpr std::string_view kOwnVersion = "V2.2";
inline constexpr std::string_view kCatalogueAddressPath = "/UploadFiles/KestrionUpdateInfo.inf";
inline constexpr std::string_view kReleaseNotesPath = "/UploadFiles/ReleaseNotes-Kestrion.txt";
// The fetched catalogue's name in its private temporary directory.
inline constexpr char kTemporaryCatalogue[] = "__Kestrion_temp__.ini";
inline constexpr std::uint64_t kMaxCatalogueBytes = 1024 * 1024;
inline constexpr std::uint64_t kMaxUpdateFileBytes = 16 * 1024 * 1024;
inline constexpr int kMaxCatalogueEntries = 124;

// Host names ("host" or "host:port"): the build's defaults unless
// VELMORIN_UPDATE_SERVER, VELMORIN_FALLBACK_SERVER or VELMORIN_WEB_SITE say
// otherwise.
std::string UpdateServer();
std::string FallbackServer();
std::string WebSite();

// Why one of the three settings above cannot be used (a value such as
// "http://host" instead of "host[:port]"), naming the variable; empty when
// all can.
std::string ServerSettingsProblem();

struct UpdateEntry {
    std::string type;
    std::string fileName;
    std::string version;
    std::string updated;
    std::string url;
    std::string note;
};

struct ReleaseSlot {
    std::string caption;
    std::string address;
};

// Release-notes captions and addresses of the first 20 entries.
inline constexpr std::size_t kReleaseSlots = 20;

struct CatalogueContents {
    std::vector<UpdateEntry> entries;
    std::array<ReleaseSlot, kReleaseSlots> releases;  // the release table
};

// A fetched catalogue: its file in a private temporary directory, both
// removed when the object goes (or when the catalogue is read).
class TemporaryCatalogue {
public:
    TemporaryCatalogue() = default;
    explicit TemporaryCatalogue(std::filesystem::path file) : m_file(std::move(file)) {}
    ~TemporaryCatalogue() { Remove(); }
    TemporaryCatalogue(TemporaryCatalogue&& other) noexcept : m_file(std::move(other.m_file)) {
        other.m_file.clear();
    }
    TemporaryCatalogue& operator=(TemporaryCatalogue&& other) noexcept;
    TemporaryCatalogue(const TemporaryCatalogue&) = delete;
    TemporaryCatalogue& operator=(const TemporaryCatalogue&) = delete;

    // The file (empty when there is none).
    const std::filesystem::path& Path() const { return m_file; }
    void Remove();

private:
    std::filesystem::path m_file;
};

// The text of a failed transfer: "<sentence>\n\nError = 0x%08lX\n\n<system text>"
// ("No message available." when there is none).
std::string TransferFailureText(std::string_view sentence, const TransferResult& result);

// How long one server may take to deliver the catalogue.
inline constexpr long kCatalogueServerWaitMs = 10000;
// How long the release check may take for both servers together.
inline constexpr long kReleaseCheckWaitMs = 3000;

struct CatalogueFetch {
    // Told the failure text ("Connecting server failed. ...") when neither
    // server delivered; not told when the fetch was stopped.
    std::function<void(const std::string& text)> report;
    // Told the server ("host[:port]") before it is asked.
    std::function<void(const std::string& host)> asking;
    // Asked during the transfers; true ends the fetch (nothing is left behind).
    std::function<bool()> stop;
    // Each server's bound; with a common bound for both, the update server
    // gets half of it and the fallback server what is left.
    long serverWaitMs = kCatalogueServerWaitMs;
    long bothWaitMs = 0;
};

struct CatalogueFetchResult {
    bool fetched = false;
    TemporaryCatalogue catalogue;  // when fetched
    bool stopped = false;
    // On failure: the last server's status, and one "host: reason" line per
    // server asked as the message.
    TransferResult failure;
};

// Fetches the catalogue into a file of its own in a private temporary
// directory (MakePrivateDirectory), from the update server, else from the
// fallback server. A failed or stopped fetch leaves nothing behind; a
// fetched catalogue stays until LoadCatalogue has read it or the result is
// dropped.
CatalogueFetchResult TryFetchCatalogue(const CatalogueFetch& how);

// TryFetchCatalogue with a failure reported through `report` (when given).
// `deadlineMs` bounds both transfers together (0: each server's own bound).
CatalogueFetchResult FetchCatalogue(const std::function<void(const std::string&)>& report,
                                    long deadlineMs = 0);

enum class ReleaseCheckOutcome { Newer, NotNewer, CouldNotCheck };

struct ReleaseCheck {
    ReleaseCheckOutcome outcome = ReleaseCheckOutcome::CouldNotCheck;
    std::string address;  // with Newer: where to get the release
    std::string reason;   // with CouldNotCheck: why, naming the servers
};

// The release check: both servers within kReleaseCheckWaitMs together
// (each gets its share, so a silent update server leaves time for the
// fallback). Reports nothing.
ReleaseCheck CheckRelease(const std::function<bool()>& stop = {});

// True, with the address to get it, when the catalogue names a newer release
// of this tool than kOwnVersion (an ordinal comparison); false when it names
// none or could not be fetched. Reports nothing.
bool CheckForNewRelease(std::string& linkAddress);

// Ordinal comparison with kOwnVersion: "V2.3" and "v1" are newer, "V2.10" is not.
bool IsNewerRelease(std::string_view version);

// Reads the entries (when CountEx is 1 to 124) and the release table's
// slots from the fetched catalogue, then deletes it and its directory.
CatalogueContents LoadCatalogue(TemporaryCatalogue& catalogue);

// Downloads an update file to `path` as DownloadToFile does (with the
// update-file cap) and runs the header check on the downloaded bytes before
// they replace anything: bytes the check refuses ("The file is big!", "File
// format error!") leave `path` as it was and are kept as "<path>.rejected".
// Nothing else is touched.
TransferResult DownloadUpdateFile(const std::string& url, const std::filesystem::path& path,
                                  const std::function<bool()>& stop = {});

// What a refused download means for the user: the check's reason, that
// `path` was left as it was, and where the downloaded bytes are (if kept).
std::string RejectedDownloadText(const TransferResult& result, const std::filesystem::path& path);

// The local name proposed for an entry: its file name reduced to a plain
// name (no directory part, no "..") and ".bin"; "update.bin" when nothing
// is left.
std::string ProposedFileName(std::string_view catalogueName);

}  // namespace velmorin
