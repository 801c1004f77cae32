// SPDX-License-Identifier: MIT
// The maker's update catalogue: fetched from the update server (else the
// fallback server) into a temporary INI file, read for the newest release of
// this tool and for the update files that can be downloaded.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "online/http_transfer.h"

namespace velmorin {

inline constexpr std::string_view kOwnVersion = "V2.2";
inline constexpr std::string_view kCatalogueAddressPath = "/UploadFiles/KestrionUpdateInfo.inf";
inline constexpr std::string_view kReleaseNotesPath = "/UploadFiles/ReleaseNotes-Kestrion.txt";
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

// Release-notes captions and addresses of the first 20 entries, kept for the
// life of the process.
inline constexpr std::size_t kReleaseSlots = 20;
extern std::array<ReleaseSlot, kReleaseSlots> ReleaseTable;

// The text of a failed transfer: "<sentence>\n\nError = 0x%08lX\n\n<system text>"
// ("No message available." when there is none).
std::string TransferFailureText(std::string_view sentence, const TransferResult& result);

// Fetches the catalogue into the temporary file in the current directory.
// With `report`, a failure of both servers is reported ("Connecting server
// failed. ...") before false is returned. `deadlineMs` bounds both transfers
// together (0: the usual limits).
bool FetchCatalogue(const std::function<void(const std::string&)>& report, long deadlineMs = 0);

// True, with the address to get it, when the catalogue names a newer release
// of this tool than kOwnVersion (an ordinal comparison). Never holds the
// caller for more than about 3 s; reports nothing.
bool CheckForNewRelease(std::string& linkAddress);

// Ordinal comparison with kOwnVersion: "V2.3" and "v1" are newer, "V2.10" is not.
bool IsNewerRelease(std::string_view version);

// Reads the entries (when CountEx is 1 to 124) and the release table's
// slots from the temporary file, then deletes it.
std::vector<UpdateEntry> LoadCatalogue();

// The local name proposed for an entry: its file name reduced to a plain
// name (no directory part, no "..") and ".bin"; "update.bin" when nothing
// is left.
std::string ProposedFileName(std::string_view catalogueName);

}  // namespace velmorin
