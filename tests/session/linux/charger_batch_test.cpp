// SPDX-License-Identifier: MIT
// Runs at once over one shared device table, against simulated chargers:
// two HID chargers that restart into their bootloaders at the same moment,
// one of them away for longer, so that the other comes back first under
// the first one's name. Each run must find its own charger again and each
// charger receive its own payload; the history gets one line per run.
#include "session/charger_batch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

#include "image/sha256.h"
#include "protocol/upgrade_fixture.h"
#include "session/ledger.h"

namespace velmorin {
namespace {

using testing::Bytes;

// Keeps every finished run and wakes the test when the last one ends.
class FinishedRuns : public BatchObserver {
public:
    void OnFinished(int /*run*/, const BatchResult& result) override {
        const std::lock_guard lock(m_mutex);
        results[result.device.serialText] = result;
    }

    std::mutex m_mutex;
    std::map<std::string, BatchResult> results;  // by serial number
};

struct HidCharger {
    std::string name;
    std::string serialNumber;
    std::string modelCode;
    std::string absenceMs;
    Bytes payload;
};

class ChargerBatchTest : public testing::UpgradeFixture {
protected:
    std::unique_ptr<testing::BackgroundProgram> Start(const HidCharger& charger) {
        auto program = std::make_unique<testing::BackgroundProgram>(std::vector<std::string>{
            VELMORIN_SIM, "hid", "--dir", Dir().string(), "--name", charger.name, "--serial-number",
            charger.serialNumber, "--model-code", charger.modelCode, "--absence-ms",
            charger.absenceMs, "--save", Saved(charger).string(), "--report",
            (Dir() / (charger.name + "-report.json")).string()});
        EXPECT_TRUE(testing::WaitForFile(Dir() / (charger.name + ".json")));
        return program;
    }
    std::filesystem::path Saved(const HidCharger& charger) const {
        return Dir() / (charger.name + "-saved.bin");
    }
};

TEST_F(ChargerBatchTest, HidChargersRestartingTogetherAreEachFoundAgain) {
    // charger1 is listed first (HID0). Both restart on their model command;
    // charger2 is back within 0.2 s and, while charger1 is away, is the only
    // HID device: HID0. A run that went by the name would reach the wrong
    // charger; a run that went by the old name alone would wait in vain.
    const std::vector<HidCharger> chargers = {
        {"charger1", "HA000001", "0x85", "1800", testing::Payload(6000, 3)},
        {"charger2", "HB000002", "0x86", "200", testing::Payload(9000, 91)},
    };
    std::vector<std::unique_ptr<testing::BackgroundProgram>> programs;
    for (const HidCharger& charger : chargers) {
        programs.push_back(Start(charger));
    }
    ASSERT_FALSE(HasFailure());

    LiveDeviceTable devices(false);
    const std::vector<DeviceEntry> listed = devices.Entries();
    ASSERT_EQ(listed.size(), 2u);
    const std::filesystem::path ledger = Dir() / "state" / "history.jsonl";
    RunJournal journal(ledger);
    FinishedRuns observer;
    {
        // One batch per file: each charger gets a payload of its own and
        // refuses the other's model code.
        std::vector<std::unique_ptr<ChargerBatch>> batches;
        for (std::size_t i = 0; i < chargers.size(); ++i) {
            const auto file =
                Seal(chargers[i].payload, SealedForm::HeaderOnly,
                     static_cast<std::uint8_t>(std::stoi(chargers[i].modelCode, nullptr, 16)));
            batches.push_back(std::make_unique<ChargerBatch>(
                BatchSettings{file.string(), "tester", nullptr, false}, devices, observer,
                journal));
        }
        for (std::size_t i = 0; i < chargers.size(); ++i) {
            const auto entry = std::find_if(listed.begin(), listed.end(), [&](const auto& e) {
                return e.serialText == chargers[i].serialNumber;
            });
            ASSERT_NE(entry, listed.end());
            batches[i]->Start(*entry);
        }
    }  // the batches wait for their runs

    ASSERT_EQ(observer.results.size(), 2u);
    for (const HidCharger& charger : chargers) {
        SCOPED_TRACE(charger.name);
        const BatchResult& result = observer.results[charger.serialNumber];
        EXPECT_EQ(result.report.outcome, UpgradeOutcome::Completed)
            << result.message << " " << result.report.openError;
        EXPECT_EQ(result.report.attempts, 1);
        EXPECT_TRUE(result.ledgerError.empty()) << result.ledgerError;
        EXPECT_EQ(testing::ReadBytes(Saved(charger)), charger.payload);
    }
    programs.clear();

    const LedgerContents history = ReadLedger(ledger);
    EXPECT_TRUE(history.warnings.empty());
    ASSERT_EQ(history.entries.size(), 2u);
    for (const LedgerEntry& entry : history.entries) {
        EXPECT_EQ(entry.outcome, LedgerOutcome::Completed);
        EXPECT_EQ(entry.operatorName, "tester");
        EXPECT_EQ(entry.fileSha256.size(), 64u);
        EXPECT_TRUE(entry.serialNumber == "HA000001" || entry.serialNumber == "HB000002");
    }
    EXPECT_NE(history.entries[0].serialNumber, history.entries[1].serialNumber);
}

// The file replaced on disk after the batch began: the charger gets the
// bytes the batch pinned, and the history describes exactly those (the
// digest of the whole file as it was, its version).
TEST_F(ChargerBatchTest, EveryRunSendsAndRecordsThePinnedBytes) {
    const HidCharger charger{"charger1", "HA000001", "0x85", "200", testing::Payload(6000, 3)};
    const auto program = Start(charger);
    ASSERT_FALSE(HasFailure());
    const auto file = Seal(charger.payload, SealedForm::HeaderOnly, 0x85, 0, "V1.00");
    const std::string pinnedDigest = Sha256Hex(testing::ReadBytes(file));
    const auto replacement =
        Seal(testing::Payload(6000, 77), SealedForm::HeaderOnly, 0x85, 0, "V2.00");

    LiveDeviceTable devices(false);
    ASSERT_EQ(devices.Entries().size(), 1u);
    const std::filesystem::path ledger = Dir() / "state" / "history.jsonl";
    RunJournal journal(ledger);
    FinishedRuns observer;
    {
        ChargerBatch batch({file.string(), "tester", nullptr, false}, devices, observer, journal);
        std::filesystem::copy_file(replacement, file,
                                   std::filesystem::copy_options::overwrite_existing);
        batch.Start(devices.Entries().front());
    }
    ASSERT_EQ(observer.results.size(), 1u);
    EXPECT_EQ(observer.results.begin()->second.report.outcome, UpgradeOutcome::Completed);
    EXPECT_EQ(testing::ReadBytes(Saved(charger)), charger.payload);

    const LedgerContents history = ReadLedger(ledger);
    ASSERT_EQ(history.entries.size(), 1u);
    EXPECT_EQ(history.entries[0].fileSha256, pinnedDigest);
    EXPECT_EQ(history.entries[0].fileVersion, "V1.00");
    EXPECT_EQ(history.entries[0].runId, observer.results.begin()->second.runId);
    // Its started line and its outcome line.
    std::ifstream in(ledger);
    const std::string lines((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2);
}

}  // namespace
}  // namespace velmorin
