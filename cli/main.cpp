// SPDX-License-Identifier: MIT
// velmorin-cli: the tool's jobs from a terminal and from scripts.
#include <CLI/CLI.hpp>
#include <iostream>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "batch_command.h"
#include "console.h"
#include "doctor_command.h"
#include "history_command.h"
#include "info_command.h"
#include "list_command.h"
#include "online_commands.h"
#include "output.h"
#include "session/ledger.h"
#include "session/ledger_path.h"
#include "session/upgrade_record.h"
#include "station_command.h"
#include "terminal_text.h"
#include "update_command.h"

namespace {

// The first argument that is not an option names the command; CLI11 would
// only say that a command is required.
bool RefuseUnknownCommand(const CLI::App& app, const std::vector<std::string>& arguments) {
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.empty() || argument.front() == '-') {
            continue;
        }
        try {
            app.get_subcommand(argument);
            return false;
        } catch (const CLI::OptionNotFound&) {
        }
        std::cerr << "velmorin-cli: unknown command \"" << argument << "\"\n"
                  << "Run with --help for more information.\n";
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    velmorin::cli::SetUpTextEncoding();
    CLI::App app{"Firmware update tool for Kestrion chargers, from a terminal.", "velmorin-cli"};
    app.set_version_flag("--version", "velmorin-cli " + std::string(velmorin::ToolVersion()),
                         "print the version and exit");
    app.require_subcommand(1);

    std::string infoPath;
    bool infoJson = false;
    CLI::App* info = app.add_subcommand(
        "info", "Check an update file and show its version, type and memo (exit 1 if rejected)");
    info->add_option("FILE", infoPath, "the update file (*.bin)")->required();
    info->add_flag("--json", infoJson, "print the result as JSON");

    bool includeComPorts = false;
    bool listJson = false;
    CLI::App* list = app.add_subcommand(
        "list", "List the connected chargers: device name, tab, the line the device list shows");
    list->add_flag("--include-com", includeComPorts,
                   "also list plain serial ports that are free now");
    list->add_flag("--json", listJson, "print the list as JSON");

    const std::string operatorHelp =
        "the name the history records for the upgrades (default: the user's name)";
    velmorin::cli::BatchUpdateOptions updateOptions;
    CLI::App* update = app.add_subcommand(
        "update",
        "Write an update file into a charger, or into several at once (exit 0 only after "
        "\"Upgrade completion!\" on each)");
    update->add_option("FILE", updateOptions.path, "the update file (*.bin)")->required();
    CLI::Option* updateDevices =
        update
            ->add_option("--device", updateOptions.devices,
                         "the device name as `list` shows it (COMn, HIDn), or a serial node "
                         "path; give it again for several chargers at once")
            ->allow_extra_args(false);
    update
        ->add_flag("--all", updateOptions.all,
                   "every charger the device list shows, at once (plain serial ports only "
                   "through --device)")
        ->excludes(updateDevices);
    update->add_flag("--json", updateOptions.json,
                     "print the outcome and the link's figures as JSON (with several chargers, "
                     "an array of them)");
    update->add_option("--operator", updateOptions.operatorName, operatorHelp);
    update->add_option("--trace", updateOptions.tracePath,
                       "write the run's wire trace (bytes, waits, time-outs, opens) to this file, "
                       "for support");
    update
        ->add_option("--trace-format", updateOptions.traceFormat,
                     "the trace as text lines (default) or as one JSON object per line")
        ->check(CLI::IsMember({"text", "json"}));

    velmorin::cli::StationCommandOptions stationOptions;
    CLI::App* station = app.add_subcommand(
        "station",
        "Upgrade every charger that arrives, in parallel, once per serial number, until "
        "Ctrl-C or --count completions");
    station->add_option("FILE", stationOptions.path, "the update file (*.bin)")->required();
    station->add_option("--model", stationOptions.model,
                        "only chargers whose model text holds this (others are skipped)");
    station->add_option("--slots", stationOptions.slotsPath,
                        "a file of \"KEY = NAME\" lines naming the slots (KEY: udev ID_PATH or "
                        "device name)");
    station->add_option("--count", stationOptions.count, "end after this many completed upgrades")
        ->check(CLI::Range(0, std::numeric_limits<int>::max()));
    station->add_flag("--again", stationOptions.again,
                      "upgrade chargers that the history shows done with this file too");
    station->add_flag("--json", stationOptions.json,
                      "print one JSON object per event on standard output");
    station->add_option("--operator", stationOptions.operatorName, operatorHelp);

    velmorin::cli::HistoryOptions historyOptions;
    CLI::App* history =
        app.add_subcommand("history", "Show the upgrades recorded in the history (history.jsonl)");
    CLI::Option* historyJson =
        history->add_flag("--json", historyOptions.json, "print the entries as a JSON array");
    history->add_flag("--csv", historyOptions.csv, "print the entries as CSV")
        ->excludes(historyJson);
    history->add_option("--serial", historyOptions.serial,
                        "only the upgrades of the charger with this serial number");
    std::string historySince;
    CLI::Option* historySinceOption =
        history->add_option("--since", historySince,
                            "only the upgrades at or after this date (YYYY-MM-DD) or UTC time "
                            "(YYYY-MM-DDTHH:MM:SSZ)");

    CLI::App* checkRelease =
        app.add_subcommand("check-release",
                           "Ask the maker's catalogue for a newer release (exit 0 one is named, "
                           "1 none is named, 3 could not check: the reasons on standard error)");
    bool catalogueJson = false;
    CLI::App* catalogue = app.add_subcommand("catalogue", "List the update files on offer");
    catalogue->add_flag("--json", catalogueJson, "print the entries as JSON");
    int downloadIndex = -1;
    std::string downloadPath;
    CLI::App* download =
        app.add_subcommand("download", "Download a catalogue entry and check the file");
    download->add_option("INDEX", downloadIndex, "the entry's index, as `catalogue` shows it")
        ->required();
    download->add_option("-o,--output", downloadPath,
                         "where to save it: a regular file (a link is followed) or a new name "
                         "(default: its file name in this directory)");

    std::string doctorDevice;
    bool doctorJson = false;
    CLI::App* doctor = app.add_subcommand(
        "doctor",
        "Check what an upgrade needs of each charger and port (access, other programs, "
        "ModemManager, the udev rule, 128000 baud) and say how to fix it (exit 0 nothing "
        "blocks an upgrade, 1 something does)");
    doctor->add_option("--device", doctorDevice,
                       "only this device: the name `list` shows (COMn, HIDn) or its node path");
    bool doctorIncludeCom = false;
    doctor->add_flag("--include-com", doctorIncludeCom,
                     "let the plain serial ports' problems count too (they are shown either way)");
    doctor->add_flag("--json", doctorJson, "print the checks as a JSON array");

    // File names reach the core as the texts it takes (UTF-8 on Windows).
    const std::vector<std::string> arguments = velmorin::cli::ArgumentsAsText(argc, argv);
    if (RefuseUnknownCommand(app, arguments)) {
        return 2;
    }
    try {
        // CLI11 takes the arguments after the program's name, last first.
        std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
        if (!reversed.empty()) {
            reversed.pop_back();  // the program's name
        }
        app.parse(std::move(reversed));
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }

    if (*checkRelease) {
        return velmorin::cli::FinishOutput(velmorin::cli::RunCheckReleaseCommand());
    }
    if (*catalogue) {
        return velmorin::cli::FinishOutput(velmorin::cli::RunCatalogueCommand(catalogueJson));
    }
    if (*download) {
        return velmorin::cli::RunDownloadCommand(downloadIndex, downloadPath);
    }
    // The commands that record upgrades refuse a history that is no regular
    // file (a FIFO would hold the first record) before touching a charger.
    if (*update || *station) {
        const std::string problem = velmorin::LedgerPathProblem(velmorin::DefaultLedgerPath());
        if (!problem.empty()) {
            std::cerr << "velmorin-cli: " << velmorin::cli::TerminalSafe(problem) << '\n';
            return 2;
        }
    }
    if (*update) {
        if (!updateOptions.all && updateOptions.devices.empty()) {
            std::cerr << "velmorin-cli update: name the charger with --device NAME (again for "
                         "several), or give --all\n"
                      << "Run with --help for more information.\n";
            return 2;
        }
        if (!updateOptions.all && updateOptions.devices.size() == 1) {
            return velmorin::cli::RunUpdateCommand(
                updateOptions.path, updateOptions.devices.front(), updateOptions.json,
                updateOptions.operatorName, updateOptions.tracePath,
                updateOptions.traceFormat == "json");
        }
        return velmorin::cli::RunBatchUpdateCommand(updateOptions);
    }
    if (*station) {
        return velmorin::cli::RunStationCommand(stationOptions);
    }
    if (*history) {
        if (historySinceOption->count() > 0) {
            historyOptions.since = historySince;
        }
        return velmorin::cli::RunHistoryCommand(historyOptions);
    }
    if (*doctor) {
        return velmorin::cli::RunDoctorCommand(doctorDevice, doctorIncludeCom, doctorJson);
    }
    if (*list) {
        return velmorin::cli::RunListCommand(includeComPorts, listJson);
    }
    if (*info) {
        return velmorin::cli::RunInfoCommand(infoPath, infoJson);
    }
    return 2;
}
