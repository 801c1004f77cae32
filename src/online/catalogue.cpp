// SPDX-License-Identifier: MIT
// Fetching and reading the update catalogue.
#include "online/catalogue.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "online/private_profile.h"

#ifndef VELMORIN_DEFAULT_UPDATE_SERVER
#define VELMORIN_DEFAULT_UPDATE_SERVER "update.varno.example"
#endif
#ifndef VELMORIN_DEFAULT_FALLBACK_SERVER
#define VELMORIN_DEFAULT_FALLBACK_SERVER "update2.varno.example"
#endif
#ifndef VELMORIN_DEFAULT_WEB_SITE
#define VELMORIN_DEFAULT_WEB_SITE "www.varno.example"
#endif

namespace velmorin {

std::array<ReleaseSlot, kReleaseSlots> ReleaseTable;

namespace {

std::string Configured(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0' ? value : fallback;
}

std::filesystem::path TemporaryCatalogue() {
    return std::filesystem::path(kTemporaryCatalogue);
}

void RemoveTemporaryCatalogue() {
    std::error_code ignored;
    std::filesystem::remove(TemporaryCatalogue(), ignored);
}

}  // namespace

std::string UpdateServer() {
    return Configured("VELMORIN_UPDATE_SERVER", VELMORIN_DEFAULT_UPDATE_SERVER);
}

std::string FallbackServer() {
    return Configured("VELMORIN_FALLBACK_SERVER", VELMORIN_DEFAULT_FALLBACK_SERVER);
}

std::string WebSite() {
    return Configured("VELMORIN_WEB_SITE", VELMORIN_DEFAULT_WEB_SITE);
}

std::string TransferFailureText(std::string_view sentence, const TransferResult& result) {
    char code[16];
    std::snprintf(code, sizeof code, "%08X", static_cast<unsigned>(result.status));
    return std::string(sentence) + "\n\nError = 0x" + code + "\n\n" +
           (result.message.empty() ? std::string("No message available.") : result.message);
}

bool FetchCatalogue(const std::function<void(const std::string&)>& report, long deadlineMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
    TransferResult result;
    for (const std::string& host : {UpdateServer(), FallbackServer()}) {
        TransferLimits limits;
        limits.maxBytes = kMaxCatalogueBytes;
        if (deadlineMs > 0) {
            const long left = static_cast<long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count());
            if (left <= 0) {
                break;
            }
            limits.totalTimeoutMs = left;
            limits.connectTimeoutMs = std::min(limits.connectTimeoutMs, left);
        }
        result = DownloadToFile("http://" + host + std::string(kCatalogueAddressPath),
                                TemporaryCatalogue(), limits);
        if (result.Succeeded()) {
            return true;
        }
    }
    if (report) {
        report(TransferFailureText("Connecting server failed.", result));
    }
    return false;
}

bool IsNewerRelease(std::string_view version) {
    // Byte by byte as unsigned codes; a longer text with the same start is greater.
    return std::lexicographical_compare(
        kOwnVersion.begin(), kOwnVersion.end(), version.begin(), version.end(), [](char a, char b) {
            return static_cast<unsigned char>(a) < static_cast<unsigned char>(b);
        });
}

bool CheckForNewRelease(std::string& linkAddress) {
    // Two transfers in 3 s together: the window is not held back longer.
    constexpr long kReleaseCheckDeadlineMs = 3000;
    if (!FetchCatalogue(nullptr, kReleaseCheckDeadlineMs)) {
        return false;
    }
    const PrivateProfile catalogue = PrivateProfile::Load(TemporaryCatalogue());
    const bool newer = IsNewerRelease(catalogue.GetString("Software", "Ver", "V1.0"));
    if (newer) {
        linkAddress = catalogue.GetString("Software", "URL", WebSite());
    }
    RemoveTemporaryCatalogue();
    return newer;
}

std::vector<UpdateEntry> LoadCatalogue() {
    const PrivateProfile catalogue = PrivateProfile::Load(TemporaryCatalogue());
    std::vector<UpdateEntry> entries;
    const int count = catalogue.GetInt("File List", "CountEx", 0);
    if (count >= 1 && count <= kMaxCatalogueEntries) {
        for (int i = 0; i < count; ++i) {
            const std::string n = std::to_string(i);
            const auto text = [&](const char* key) {
                return catalogue.GetString("File List", key + n, "");
            };
            entries.push_back({text("Type"), text("FileName"), text("Ver"), text("Updated"),
                               text("URL"), text("Note")});
            // Entries past the table's 20 slots keep no release notes.
            if (static_cast<std::size_t>(i) < kReleaseSlots) {
                ReleaseTable[static_cast<std::size_t>(i)] = {text("Release"), text("ReleaseURL")};
            }
        }
    }
    RemoveTemporaryCatalogue();
    return entries;
}

std::string ProposedFileName(std::string_view catalogueName) {
    std::string name(catalogueName);
    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) {
        name.erase(0, slash + 1);
    }
    std::string plain;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) {
            plain.push_back(c);
        }
    }
    if (plain.empty() || plain == "." || plain == "..") {
        plain = "update";
    }
    return plain + ".bin";
}

}  // namespace velmorin
