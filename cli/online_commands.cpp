// SPDX-License-Identifier: MIT
// Catalogue commands.
#include "online_commands.h"

#include <iostream>
#include <nlohmann/json.hpp>

#include "image/code_page.h"
#include "info_command.h"
#include "online/catalogue.h"
#include "terminal_text.h"

namespace velmorin::cli {
namespace {

std::string Shown(const std::string& catalogueText) {
    return TerminalSafe(CodePageToUtf8(catalogueText));
}

bool FetchWithReport() {
    return FetchCatalogue([](const std::string& text) { std::cerr << TerminalSafe(text) << '\n'; });
}

}  // namespace

int RunCheckReleaseCommand() {
    std::string address;
    if (CheckForNewRelease(address)) {
        std::cout << "Please download the newly released version: " << Shown(address) << '\n';
        return 0;
    }
    std::cout << "No newer release than " << kOwnVersion << " is named.\n";
    return 1;
}

int RunCatalogueCommand(bool json) {
    if (!FetchWithReport()) {
        return 1;
    }
    const std::vector<UpdateEntry> entries = LoadCatalogue();
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
        std::cout << rows.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return 0;
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const UpdateEntry& e = entries[i];
        std::cout << i << '\t' << Shown(e.type) << '\t' << Shown(e.fileName) << '\t'
                  << Shown(e.version) << '\t' << Shown(e.updated) << '\t' << Shown(e.url) << '\t'
                  << Shown(e.note) << '\n';
    }
    return 0;
}

int RunDownloadCommand(int index, const std::string& path) {
    if (!FetchWithReport()) {
        return 1;
    }
    const std::vector<UpdateEntry> entries = LoadCatalogue();
    if (index < 0 || static_cast<std::size_t>(index) >= entries.size()) {
        std::cerr << "velmorin-cli download: the catalogue has no entry " << index << " ("
                  << entries.size() << " entries)\n";
        return 2;
    }
    const UpdateEntry& entry = entries[static_cast<std::size_t>(index)];
    const std::string target = path.empty() ? ProposedFileName(entry.fileName) : path;
    TransferLimits limits;
    limits.maxBytes = kMaxUpdateFileBytes;
    const TransferResult result = DownloadToFile(entry.url, target, limits);
    if (!result.Succeeded()) {
        std::cerr << TerminalSafe(TransferFailureText("Download failed.", result)) << '\n';
        return 1;
    }
    std::cout << "Downloaded " << Shown(entry.url) << " to " << TerminalSafe(target) << '\n';
    return RunInfoCommand(target, false);
}

}  // namespace velmorin::cli
