// SPDX-License-Identifier: MIT
// Fetching and reading the update catalogue.
#include "online/catalogue.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "image/file_path.h"
#include "image/update_image.h"
#include "online/http_address.h"
#include "online/private_directory.h"
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

namespace {

std::string Configured(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0' ? value : fallback;
}

// "host" or "host:port": a name or an IPv4 address, or an IPv6 address in
// brackets, then an optional port of 1 to 65535. Anything else (a scheme, a
// path, a user) would be glued into an address the user never meant.
bool IsHostAndPort(std::string_view value) {
    std::size_t i = 0;
    if (!value.empty() && value.front() == '[') {
        const std::size_t close = value.find(']');
        if (close == std::string_view::npos || close < 2) {
            return false;
        }
        for (const char c : value.substr(1, close - 1)) {
            if (std::isxdigit(static_cast<unsigned char>(c)) == 0 && c != ':' && c != '.') {
                return false;
            }
        }
        i = close + 1;
    } else {
        while (i < value.size() && (std::isalnum(static_cast<unsigned char>(value[i])) != 0 ||
                                    value[i] == '-' || value[i] == '.' || value[i] == '_')) {
            ++i;
        }
        if (i == 0) {
            return false;
        }
    }
    if (i == value.size()) {
        return true;
    }
    const std::string_view port = value.substr(i + 1);
    if (value[i] != ':' || port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
        return false;
    }
    const int number = std::stoi(std::string(port));
    return number >= 1 && number <= 65535;
}

std::string SettingProblem(const char* variable) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0' || IsHostAndPort(value)) {
        return {};
    }
    return std::string(variable) + "=" + value + ": the variable takes host[:port] (for example " +
           variable + "=update.example.com:8080), without http:// or a path";
}

long MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 deadline - std::chrono::steady_clock::now())
                                 .count());
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

std::string ServerSettingsProblem() {
    for (const char* variable :
         {"VELMORIN_UPDATE_SERVER", "VELMORIN_FALLBACK_SERVER", "VELMORIN_WEB_SITE"}) {
        if (std::string problem = SettingProblem(variable); !problem.empty()) {
            return problem;
        }
    }
    return {};
}

std::string TransferFailureText(std::string_view sentence, const TransferResult& result) {
    char code[16];
    std::snprintf(code, sizeof code, "%08X", static_cast<unsigned>(result.status));
    return std::string(sentence) + "\n\nError = 0x" + code + "\n\n" +
           (result.message.empty() ? std::string("No message available.") : result.message);
}

// The fetched catalogue lives in a directory of its own, made afresh for
// each fetch, so that neither the current directory nor another program's
// files are touched.
void TemporaryCatalogue::Remove() {
    if (m_file.empty()) {
        return;
    }
    std::error_code ignored;
    std::filesystem::remove(m_file, ignored);
    std::filesystem::remove(m_file.parent_path(), ignored);
    m_file.clear();
}

TemporaryCatalogue& TemporaryCatalogue::operator=(TemporaryCatalogue&& other) noexcept {
    if (this != &other) {
        Remove();
        m_file = std::move(other.m_file);
        other.m_file.clear();
    }
    return *this;
}

CatalogueFetchResult TryFetchCatalogue(const CatalogueFetch& how) {
    CatalogueFetchResult outcome;
    TransferResult& failure = outcome.failure;
    std::string failures;
    const auto fail = [&](const std::string& line) {
        failures += (failures.empty() ? "" : "\n") + line;
    };

    std::string directoryError;
    const std::filesystem::path directory =
        MakePrivateDirectory("velmorin-catalogue-", directoryError);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(how.bothWaitMs);
    const struct {
        const char* variable;
        std::string host;
    } servers[] = {{"VELMORIN_UPDATE_SERVER", UpdateServer()},
                   {"VELMORIN_FALLBACK_SERVER", FallbackServer()}};
    for (std::size_t i = 0; i < std::size(servers) && !directory.empty(); ++i) {
        const std::string& host = servers[i].host;
        if (std::string problem = SettingProblem(servers[i].variable); !problem.empty()) {
            failure.status = TransferStatus(kTransferMalformedAddress);
            fail(problem);
            continue;
        }
        TransferLimits limits;
        limits.maxBytes = kMaxCatalogueBytes;
        limits.stop = how.stop;
        limits.totalTimeoutMs = how.serverWaitMs;
        if (how.bothWaitMs > 0) {
            const long left = MillisecondsLeft(deadline);
            if (left <= 0) {
                fail(host + ": not asked, no time was left");
                break;
            }
            // The first server gets half of what is left, so that a silent
            // one leaves the other its share.
            const long share = i + 1 < std::size(servers) ? std::max(left / 2, 1L) : left;
            limits.totalTimeoutMs = std::min(limits.totalTimeoutMs, share);
        }
        limits.connectTimeoutMs = std::min(limits.connectTimeoutMs, limits.totalTimeoutMs);
        if (how.asking) {
            how.asking(host);
        }
        const std::filesystem::path file = directory / kTemporaryCatalogue;
        failure =
            DownloadToFile("http://" + host + std::string(kCatalogueAddressPath), file, limits);
        if (failure.Succeeded()) {
            outcome.catalogue = TemporaryCatalogue(file);
            outcome.fetched = true;
            return outcome;
        }
        fail(failure.message.empty() ? host : failure.message);
        if (static_cast<std::uint32_t>(failure.status) == kTransferStatusStopped) {
            outcome.stopped = true;
            break;
        }
    }
    if (directory.empty()) {
        failure.status = TransferStatus(kTransferWriteError);
        fail(directoryError);
    } else {
        std::error_code ignored;
        std::filesystem::remove_all(directory, ignored);
    }
    failure.message = failures;
    if (how.report && !outcome.stopped) {
        how.report(TransferFailureText("Connecting server failed.", failure));
    }
    return outcome;
}

CatalogueFetchResult FetchCatalogue(const std::function<void(const std::string&)>& report,
                                    long deadlineMs) {
    CatalogueFetch how;
    how.report = report;
    how.bothWaitMs = deadlineMs;
    return TryFetchCatalogue(how);
}

bool IsNewerRelease(std::string_view version) {
    // Byte by byte as unsigned codes; a longer text with the same start is greater.
    return std::lexicographical_compare(
        kOwnVersion.begin(), kOwnVersion.end(), version.begin(), version.end(), [](char a, char b) {
            return static_cast<unsigned char>(a) < static_cast<unsigned char>(b);
        });
}

ReleaseCheck CheckRelease(const std::function<bool()>& stop) {
    CatalogueFetch how;
    how.stop = stop;
    how.bothWaitMs = kReleaseCheckWaitMs;  // the window is not held back longer
    CatalogueFetchResult fetch = TryFetchCatalogue(how);
    ReleaseCheck check;
    if (!fetch.fetched) {
        check.reason = fetch.failure.message;
        return check;
    }
    const PrivateProfile catalogue = PrivateProfile::Load(fetch.catalogue.Path());
    if (IsNewerRelease(catalogue.GetString("Software", "Ver", "V1.0"))) {
        check.outcome = ReleaseCheckOutcome::Newer;
        check.address = catalogue.GetString("Software", "URL", WebSite());
    } else {
        check.outcome = ReleaseCheckOutcome::NotNewer;
    }
    return check;
}

bool CheckForNewRelease(std::string& linkAddress) {
    const ReleaseCheck check = CheckRelease();
    if (check.outcome != ReleaseCheckOutcome::Newer) {
        return false;
    }
    linkAddress = check.address;
    return true;
}

CatalogueContents LoadCatalogue(TemporaryCatalogue& fetched) {
    const PrivateProfile catalogue =
        fetched.Path().empty() ? PrivateProfile() : PrivateProfile::Load(fetched.Path());
    CatalogueContents contents;
    std::vector<UpdateEntry>& entries = contents.entries;
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
                contents.releases[static_cast<std::size_t>(i)] = {text("Release"),
                                                                  text("ReleaseURL")};
            }
        }
    }
    fetched.Remove();
    return contents;
}

namespace {

// The header check of the downloaded bytes, the same as the one the window
// and `info` run on a chosen file, into an image of its own.
std::string CheckDownloadedUpdateFile(const std::filesystem::path& body) {
    std::ifstream in(body, std::ios::binary);
    std::array<std::uint8_t, kUpdateHeaderSize> firstBytes{};
    in.read(reinterpret_cast<char*>(firstBytes.data()), firstBytes.size());
    std::error_code error;
    const std::uintmax_t length = std::filesystem::file_size(body, error);
    if (!in.good() && !in.eof()) {
        return "cannot read the downloaded file: " + std::string(std::strerror(errno));
    }
    UpdateImage image;
    const ImageCheck check = CheckUpdateHeader(
        std::span<const std::uint8_t>(firstBytes.data(), static_cast<std::size_t>(in.gcount())),
        error ? 0 : length, image);
    if (check.Accepted()) {
        return {};
    }
    return std::string(check.result == ImageLoadResult::TooBig ? kTextFileBig
                                                               : kTextFileFormatError);
}

}  // namespace

TransferResult DownloadUpdateFile(const std::string& url, const std::filesystem::path& path,
                                  const std::function<bool()>& stop) {
    TransferLimits limits;
    limits.maxBytes = kMaxUpdateFileBytes;
    limits.stop = stop;
    return DownloadToFile(url, path, limits, CheckDownloadedUpdateFile);
}

std::string RejectedDownloadText(const TransferResult& result, const std::filesystem::path& path) {
    std::string text = "The downloaded file is rejected: " + result.rejection + "\n";
    text += std::filesystem::exists(path) ? TextOfPath(path) + " is left as it was"
                                          : "Nothing was saved as " + TextOfPath(path);
    text += result.keptAt.empty()
                ? "; the downloaded bytes were removed."
                : "; the downloaded bytes are kept in " + TextOfPath(result.keptAt) + ".";
    return text;
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
