// SPDX-License-Identifier: MIT
// Catalogue commands.
#include "online_commands.h"

#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "console.h"
#include "image/code_page.h"
#include "image/file_path.h"
#include "info_command.h"
#include "online/catalogue.h"
#include "terminal_text.h"

namespace velmorin::cli {
namespace {

std::string Shown(const std::string& text) {
    return TerminalSafe(CodePageToUtf8(text));
}

// One column of a tab-separated line: a tab or a line break in it would
// shift the columns or start a row of its own.
std::string Column(const std::string& catalogueText) {
    return TerminalSafeField(CodePageToUtf8(catalogueText));
}

void PrintJson(const nlohmann::json& value) {
    std::cout << value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

nlohmann::json Outcome(std::string_view outcome, const std::string& reason) {
    return {{"outcome", outcome}, {"reason", reason}};
}

// The catalogue fetch of the three commands: the server being asked is named
// on a terminal, and a failure of both is reported on standard error.
CatalogueFetchResult Fetch() {
    CatalogueFetch how;
    how.report = [](const std::string& text) { std::cerr << TerminalSafe(text) << '\n'; };
    if (StderrIsTerminal()) {
        how.asking = [](const std::string& host) {
            std::cerr << "Asking " << TerminalSafe(host) << " for the catalogue..." << std::endl;
        };
    }
    how.stop = [] { return EndingRequests::Received(); };
    return TryFetchCatalogue(how);
}

bool SettingsUsable(std::string_view command) {
    const std::string problem = ServerSettingsProblem();
    if (!problem.empty()) {
        std::cerr << "velmorin-cli " << command << ": " << TerminalSafe(problem) << '\n';
    }
    return problem.empty();
}

}  // namespace

int RunCheckReleaseCommand() {
    if (!SettingsUsable("check-release")) {
        return 2;
    }
    const EndingRequests endingRequests;
    const ReleaseCheck check = CheckRelease([] { return EndingRequests::Received(); });
    if (EndingRequests::Received()) {
        EndingRequests::EndByRequest();
    }
    switch (check.outcome) {
    case ReleaseCheckOutcome::Newer:
        std::cout << "Please download the newly released version: " << Shown(check.address) << '\n';
        return 0;
    case ReleaseCheckOutcome::NotNewer:
        std::cout << "No newer release than " << kOwnVersion << " is named.\n";
        return 1;
    case ReleaseCheckOutcome::CouldNotCheck:
        break;
    }
    std::cerr << "Could not check for a newer release:\n" << TerminalSafe(check.reason) << '\n';
    return kCouldNotCheck;
}

int RunCatalogueCommand(bool json) {
    if (!SettingsUsable("catalogue")) {
        if (json) {
            PrintJson(Outcome("bad-setting", ServerSettingsProblem()));
        }
        return 2;
    }
    const EndingRequests endingRequests;
    CatalogueFetchResult fetch = Fetch();
    const std::vector<UpdateEntry> entries =
        fetch.fetched ? LoadCatalogue(fetch.catalogue).entries : std::vector<UpdateEntry>{};
    if (EndingRequests::Received()) {
        if (json) {
            PrintJson(Outcome("interrupted", "Interrupted."));
        }
        EndingRequests::EndByRequest();
    }
    if (!fetch.fetched) {
        if (json) {
            nlohmann::json out = Outcome(
                "fetch-failed", TransferFailureText("Connecting server failed.", fetch.failure));
            out["error_code"] = static_cast<std::uint32_t>(fetch.failure.status);
            PrintJson(out);
        }
        return 1;
    }
    if (entries.empty()) {
        constexpr char kEmpty[] = "The catalogue lists no update files.";
        if (json) {
            PrintJson(Outcome("empty", kEmpty));
        } else {
            std::cerr << kEmpty << '\n';
        }
        return 1;
    }
    if (json) {
        nlohmann::json rows = nlohmann::json::array();
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const UpdateEntry& e = entries[i];
            rows.push_back({{"index", i},
                            {"type", CodePageToUtf8(e.type)},
                            {"file_name", CodePageToUtf8(e.fileName)},
                            {"ver", CodePageToUtf8(e.version)},
                            {"updated", CodePageToUtf8(e.updated)},
                            {"url", CodePageToUtf8(e.url)},
                            {"note", CodePageToUtf8(e.note)}});
        }
        PrintJson(rows);
        return 0;
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const UpdateEntry& e = entries[i];
        std::cout << i << '\t' << Column(e.type) << '\t' << Column(e.fileName) << '\t'
                  << Column(e.version) << '\t' << Column(e.updated) << '\t' << Column(e.url) << '\t'
                  << Column(e.note) << '\n';
    }
    return 0;
}

int RunDownloadCommand(int index, const std::string& path) {
    if (!SettingsUsable("download")) {
        return 2;
    }
    // A target that cannot take a download is refused before anything is fetched.
    if (!path.empty()) {
        if (const std::string problem = DownloadTargetProblem(PathFromText(path));
            !problem.empty()) {
            std::cerr << "velmorin-cli download: " << TerminalSafe(problem) << '\n';
            return 1;
        }
    }
    const EndingRequests endingRequests;
    CatalogueFetchResult fetch = Fetch();
    const std::vector<UpdateEntry> entries =
        fetch.fetched ? LoadCatalogue(fetch.catalogue).entries : std::vector<UpdateEntry>{};
    if (EndingRequests::Received()) {
        EndingRequests::EndByRequest();
    }
    if (!fetch.fetched) {
        return 1;
    }
    if (index < 0 || static_cast<std::size_t>(index) >= entries.size()) {
        std::cerr << "velmorin-cli download: the catalogue has no entry " << index << " ("
                  << entries.size() << " entries)\n";
        return 2;
    }
    const UpdateEntry& entry = entries[static_cast<std::size_t>(index)];
    const std::string target = path.empty() ? ProposedFileName(entry.fileName) : path;
    const std::filesystem::path targetPath = PathFromText(target);
    const TransferResult result =
        DownloadUpdateFile(entry.url, targetPath, [] { return EndingRequests::Received(); });
    if (static_cast<std::uint32_t>(result.status) == kTransferStatusStopped) {
        EndingRequests::EndByRequest();
    }
    if (result.Rejected()) {
        std::cerr << TerminalSafe(RejectedDownloadText(result, targetPath)) << '\n';
        return 1;
    }
    if (!result.Succeeded()) {
        std::cerr << TerminalSafe(TransferFailureText("Download failed.", result)) << '\n';
        return 1;
    }
    std::cout << "Downloaded " << Shown(entry.url) << " to " << TerminalSafe(target) << '\n';
    return RunInfoCommand(target, false);
}

}  // namespace velmorin::cli
