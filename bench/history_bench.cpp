// SPDX-License-Identifier: MIT
// `velmorin-cli history --serial` over a history of 200 000 runs (each a
// started line and its outcome line, as the journal writes them, with some
// runs cut off), timed, with the command's peak memory. The figures come
// last, one `name=value` per line: history_serial_s_200k (the median of
// three runs) and history_peak_mb_200k. The `--csv` export of the whole
// history is timed too.
// Usage: history_bench PATH-TO-velmorin-cli [one-line-per-run]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "session/ledger.h"
#include "session/run_journal.h"

namespace {

using namespace velmorin;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 200000;

// Writes the history: chargers S000000..S009999 upgraded in turn, one run
// in fifty without an outcome line. With `oneLinePerRun`, as histories
// were written before the journal: one line per run, without run_id.
void WriteHistory(const std::filesystem::path& path, bool oneLinePerRun) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    LedgerEntry entry;
    entry.station = "line-7";
    entry.operatorName = "bench";
    entry.device = "COM201";
    entry.slot = "Slot 3";
    entry.model = "Varno Kestrion X";
    entry.file = "kestrion-x-v2.10.bin";
    entry.fileSha256 = std::string(64, 'a');
    entry.fileVersion = "V2.10";
    entry.fileType = "1010B";
    entry.toolVersion = "0.1.0";
    char serial[16];
    for (int run = 0; run < kRuns; ++run) {
        std::snprintf(serial, sizeof serial, "S%06d", run % 10000);
        entry.runId = oneLinePerRun ? std::string() : NewRunId();
        entry.serialNumber = serial;
        entry.time = "2026-12-10T08:00:00Z";
        entry.outcome = LedgerOutcome::Started;
        entry.message.clear();
        entry.frames = 0;
        if (!oneLinePerRun) {
            out << LedgerLine(entry) << '\n';
        }
        if (run % 50 == 49 && !oneLinePerRun) {
            continue;
        }
        entry.outcome = run % 7 == 0 ? LedgerOutcome::Failed : LedgerOutcome::Completed;
        entry.message = run % 7 == 0 ? "Error communication 2" : "Upgrade completion!";
        entry.frames = 32736;
        entry.elapsedMs = 36120;
        entry.bytesPerSecond = 14500;
        out << LedgerLine(entry) << '\n';
    }
}

struct Measured {
    double seconds = 0;
    double peakMegabytes = 0;
    bool ok = false;
};

// Runs the command with its output thrown away; its time and peak memory.
Measured Run(const std::vector<std::string>& args) {
    std::fflush(stdout);
    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::vector<char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    ::wait4(child, &status, 0, &usage);
    Measured measured;
    measured.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    measured.peakMegabytes = static_cast<double>(usage.ru_maxrss) / 1024.0;
    measured.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return measured;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: history_bench PATH-TO-velmorin-cli [one-line-per-run]\n");
        return 2;
    }
    const bool oneLinePerRun = argc == 3 && std::string(argv[2]) == "one-line-per-run";
    const std::string cli = argv[1];
    const std::filesystem::path state = std::filesystem::temp_directory_path() /
                                        ("velmorin-history-bench-" + std::to_string(::getpid()));
    ::setenv("XDG_STATE_HOME", state.c_str(), 1);
    const std::filesystem::path history = state / "velmorin" / "history.jsonl";
    WriteHistory(history, oneLinePerRun);
    std::printf("history: %d runs, %.1f MB\n", kRuns,
                static_cast<double>(std::filesystem::file_size(history)) / (1024.0 * 1024.0));

    std::vector<double> serialSeconds;
    double serialPeak = 0;
    bool ok = true;
    for (int i = 0; i < 3; ++i) {
        const Measured serial = Run({cli, "history", "--serial", "S004242"});
        ok = ok && serial.ok;
        serialSeconds.push_back(serial.seconds);
        serialPeak = std::max(serialPeak, serial.peakMegabytes);
    }
    const Measured csv = Run({cli, "history", "--csv"});
    ok = ok && csv.ok;
    std::printf("history --csv: %.2f s, peak %.1f MB\n", csv.seconds, csv.peakMegabytes);
    std::filesystem::remove_all(state);
    if (!ok) {
        std::fprintf(stderr, "history_bench: velmorin-cli history failed\n");
        return 1;
    }
    std::printf("history_serial_s_200k=%.3f\n", Median(serialSeconds));
    std::printf("history_peak_mb_200k=%.1f\n", serialPeak);
    return 0;
}
