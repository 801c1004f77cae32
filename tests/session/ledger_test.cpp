// SPDX-License-Identifier: MIT
// The upgrade history: lines that read back as written, a file that only
// grows and survives a torn last line, unreadable lines skipped with their
// numbers, a folder that cannot be made, and the CSV form.
#include "session/ledger.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "image/file_path.h"
#include "support/test_files.h"

namespace velmorin {
namespace {

LedgerEntry FullEntry() {
    LedgerEntry entry;
    entry.runId = "0123456789abcdef0123456789abcdef";
    entry.time = "2026-12-10T16:45:03Z";
    entry.station = "bench-2";
    entry.operatorName = "kim";
    entry.device = "COM3";
    entry.slot = "Slot 2";
    entry.model = "KC-40";
    entry.serialNumber = "A1234";
    entry.file = "kc40_v2.bin";
    entry.fileSha256 = std::string(64, 'a');
    entry.fileVersion = "2.01";
    entry.fileType = "Firmware";
    entry.outcome = LedgerOutcome::Completed;
    entry.message = "Upgrade completion!";
    entry.errorCode = 0;
    entry.attempts = 1;
    entry.frames = 4096;
    entry.resends = 3;
    entry.timeouts = 1;
    entry.elapsedMs = 41250;
    entry.bytesPerSecond = 1588;
    entry.toolVersion = "0.1.0";
    return entry;
}

TEST(Ledger, LineNamesEveryFieldInOrder) {
    EXPECT_EQ(LedgerLine(FullEntry()),
              R"({"run_id":"0123456789abcdef0123456789abcdef",)"
              R"("time":"2026-12-10T16:45:03Z","station":"bench-2","operator":"kim",)"
              R"("device":"COM3","slot":"Slot 2","model":"KC-40","serial_number":"A1234",)"
              R"("file":"kc40_v2.bin","file_sha256":")" +
                  std::string(64, 'a') +
                  R"(","file_version":"2.01","file_type":"Firmware","outcome":"completed",)"
                  R"("message":"Upgrade completion!","error_code":0,"attempts":1,"frames":4096,)"
                  R"("resends":3,"timeouts":1,"elapsed_ms":41250,"bytes_per_second":1588,)"
                  R"("tool_version":"0.1.0"})");
}

TEST(Ledger, LinesReadBackAsWritten) {
    struct Case {
        const char* name;
        LedgerEntry entry;
    };
    std::vector<Case> cases;
    cases.push_back({"defaults", LedgerEntry{}});
    cases.push_back({"full", FullEntry()});
    LedgerEntry awkward = FullEntry();
    awkward.operatorName = "Jürgen Øster";
    awkward.file = "C:\\Firmware\\\"new\", v2\r\n.bin";
    awkward.message = "The file \"x\" is not for this charger.\nTry another.\t\u00e9\u4e2d";
    awkward.outcome = LedgerOutcome::Mismatch;
    awkward.errorCode = -5;
    awkward.slot = "";
    cases.push_back({"quotes, line ends, non-ASCII", awkward});
    LedgerEntry large = FullEntry();
    large.frames = UINT64_MAX;
    large.elapsedMs = 1ull << 40;
    large.errorCode = INT32_MIN;
    large.attempts = INT32_MAX;
    cases.push_back({"extreme numbers", large});
    for (const LedgerOutcome outcome : {LedgerOutcome::FileRejected, LedgerOutcome::OpenFailed,
                                        LedgerOutcome::Failed, LedgerOutcome::Interrupted}) {
        LedgerEntry entry = FullEntry();
        entry.outcome = outcome;
        cases.push_back({"outcome", entry});
    }
    for (const Case& c : cases) {
        const std::string line = LedgerLine(c.entry);
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << c.name;
        const auto parsed = ParseLedgerLine(line);
        ASSERT_TRUE(parsed.has_value()) << c.name << ": " << line;
        EXPECT_EQ(*parsed, c.entry) << c.name << ": " << line;
    }
}

TEST(Ledger, BrokenUtf8BecomesReplacementCharacter) {
    LedgerEntry entry = FullEntry();
    entry.message = "bad \xff\xfe byte";
    const auto parsed = ParseLedgerLine(LedgerLine(entry));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->message, "bad \xef\xbf\xbd\xef\xbf\xbd byte");
}

TEST(Ledger, UnreadableLinesGiveNothingAndMissingFieldsDefaults) {
    for (const char* line :
         {"", "  ", R"({"time":"2026-12-10T16:4)", "garbage", "[1,2]", "42", R"({"slot":3})",
          R"({"outcome":"exploded"})", R"({"outcome":3})", R"({"frames":-1})",
          R"({"attempts":1.5})", R"({"attempts":4294967296})", R"({"message":null})"}) {
        EXPECT_FALSE(ParseLedgerLine(line).has_value()) << line;
    }
    const auto sparse = ParseLedgerLine(R"({"device":"HID1","outcome":"interrupted","extra":1})");
    ASSERT_TRUE(sparse.has_value());
    LedgerEntry expected;
    expected.device = "HID1";
    expected.outcome = LedgerOutcome::Interrupted;
    EXPECT_EQ(*sparse, expected);
}

TEST(Ledger, TimeIsUtcWholeSeconds) {
    using namespace std::chrono;
    const sys_days day = year{2026} / December / 10;
    EXPECT_EQ(LedgerTime(day + 16h + 45min + 3s + 999ms), "2026-12-10T16:45:03Z");
    EXPECT_EQ(LedgerTime(sys_days{year{1999} / January / 2}), "1999-01-02T00:00:00Z");
}

LedgerEntry Numbered(int number) {
    LedgerEntry entry = FullEntry();
    entry.attempts = number;
    entry.message = "run " + std::to_string(number);
    return entry;
}

TEST(Ledger, AppendsMakeFoldersAndReadBackInOrder) {
    testing::TempDirectory directory;
    const auto path = directory.Path() / "state" / "velmorin" / "history.jsonl";
    EXPECT_TRUE(ReadLedger(path).entries.empty());
    EXPECT_TRUE(ReadLedger(path).warnings.empty());
    for (int number = 1; number <= 3; ++number) {
        EXPECT_EQ(AppendToLedger(path, Numbered(number)), "");
    }
    const LedgerContents contents = ReadLedger(path);
    EXPECT_TRUE(contents.warnings.empty());
    EXPECT_EQ(contents.entries, (std::vector<LedgerEntry>{Numbered(1), Numbered(2), Numbered(3)}));
    EXPECT_EQ(testing::ReadText(path), LedgerLine(Numbered(1)) + "\n" + LedgerLine(Numbered(2)) +
                                           "\n" + LedgerLine(Numbered(3)) + "\n");
}

TEST(Ledger, TornLastLineIsSkippedAndTheNextAppendStartsAFreshLine) {
    testing::TempDirectory directory;
    const auto path = directory.Path() / "history.jsonl";
    const std::string whole = LedgerLine(Numbered(1)) + "\n" + LedgerLine(Numbered(2)) + "\n";
    const std::string torn = LedgerLine(Numbered(3)).substr(0, 90);
    testing::WriteBytes(path, std::vector<std::uint8_t>(whole.begin(), whole.end()));
    {
        std::vector<std::uint8_t> bytes = testing::ReadBytes(path);
        bytes.insert(bytes.end(), torn.begin(), torn.end());
        testing::WriteBytes(path, bytes);
    }
    LedgerContents contents = ReadLedger(path);
    EXPECT_EQ(contents.entries, (std::vector<LedgerEntry>{Numbered(1), Numbered(2)}));
    EXPECT_EQ(contents.warnings,
              std::vector<std::string>{"history.jsonl line 3 cannot be read; skipped"});

    ASSERT_EQ(AppendToLedger(path, Numbered(4)), "");
    EXPECT_EQ(testing::ReadText(path), whole + torn + "\n" + LedgerLine(Numbered(4)) + "\n");
    contents = ReadLedger(path);
    EXPECT_EQ(contents.entries, (std::vector<LedgerEntry>{Numbered(1), Numbered(2), Numbered(4)}));
    EXPECT_EQ(contents.warnings,
              std::vector<std::string>{"history.jsonl line 3 cannot be read; skipped"});
}

// Garbage is named by its line; a blank line holds nothing and goes unsaid
// (a line written where the file might end in a torn one starts afresh).
TEST(Ledger, GarbageAndEmptyLinesInTheMiddleAreSkippedWithTheirNumbers) {
    testing::TempDirectory directory;
    const auto path = directory.Path() / "history.jsonl";
    const std::string text = LedgerLine(Numbered(1)) + "\nnot json at all\n\n" +
                             LedgerLine(Numbered(2)) + "\r\n" + LedgerLine(Numbered(3)) + "\n";
    testing::WriteBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
    const LedgerContents contents = ReadLedger(path);
    EXPECT_EQ(contents.entries, (std::vector<LedgerEntry>{Numbered(1), Numbered(2), Numbered(3)}));
    EXPECT_EQ(contents.warnings,
              (std::vector<std::string>{"history.jsonl line 2 cannot be read; skipped"}));
}

TEST(Ledger, FolderBlockedByAFileGivesTheReason) {
    testing::TempDirectory directory;
    const auto blocker = directory.Path() / "state";
    testing::WriteBytes(blocker, {'x'});
    const auto path = blocker / "velmorin" / "history.jsonl";
    std::string reason;
    EXPECT_NO_THROW(reason = AppendToLedger(path, FullEntry()));
    EXPECT_EQ(reason,
              "cannot write the history to " + TextOfPath(path) + ": " + std::strerror(ENOTDIR));
    EXPECT_EQ(testing::ReadText(blocker), "x");
}

TEST(Ledger, CsvQuotesWhereNeededAndKeepsTextFromBecomingFormulas) {
    const std::string header =
        "run_id,time,station,operator,device,slot,model,serial_number,file,file_sha256,file_"
        "version,"
        "file_type,outcome,message,error_code,attempts,frames,resends,timeouts,elapsed_ms,"
        "bytes_per_second,tool_version\r\n";
    EXPECT_EQ(LedgerCsv({}), header);

    // A serial number and error code as a charger and a run may give them,
    // and the cells a spreadsheet must read back as that text and number.
    struct Case {
        std::string serialNumber;
        int errorCode;
        std::string serialCell;
        std::string errorCell;
    };
    const std::vector<Case> cases = {
        {"A1234", 0, "A1234", "0"},
        {"A,1", 0, "\"A,1\"", "0"},
        {"A\"1", 0, "\"A\"\"1\"", "0"},
        {"say \"no\", twice\nthen", 0, "\"say \"\"no\"\", twice\nthen\"", "0"},
        {"A\r1", 0, "\"A\r1\"", "0"},
        {"=1+2", 0, "'=1+2", "0"},
        {"+1", 0, "'+1", "0"},
        {"-3", 0, "'-3", "0"},
        {"@SUM(A1)", 0, "'@SUM(A1)", "0"},
        {"\tA1", 0, "'\tA1", "0"},
        {"\rA1", 0, "\"'\rA1\"", "0"},
        {"=HYPERLINK(\"x\",1)", 0, "\"'=HYPERLINK(\"\"x\"\",1)\"", "0"},
        {"A=1+2", 0, "A=1+2", "0"},
        {"A1234", -3, "A1234", "-3"},
    };
    for (const Case& c : cases) {
        LedgerEntry entry = FullEntry();
        entry.serialNumber = c.serialNumber;
        entry.errorCode = c.errorCode;
        entry.outcome = LedgerOutcome::FileRejected;
        EXPECT_EQ(LedgerCsv({entry}), header +
                                          "0123456789abcdef0123456789abcdef,"
                                          "2026-12-10T16:45:03Z,bench-2,kim,COM3,Slot 2,KC-40," +
                                          c.serialCell + ",kc40_v2.bin," + std::string(64, 'a') +
                                          ",2.01,Firmware,file-rejected,Upgrade completion!," +
                                          c.errorCell + ",1,4096,3,1,41250,1588,0.1.0\r\n")
            << c.serialNumber;
    }
}

}  // namespace
}  // namespace velmorin
