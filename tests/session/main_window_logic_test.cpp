// SPDX-License-Identifier: MIT
// The main window's rules without a toolkit, through a recording view and
// injected discovery, release check and catalogue fetch: the initial states,
// the file check on every edit, the device list's rebuild and the Update
// button, the Update command's dispatch and its held controls, one run at a
// time, and the Download... button (a run on a worker thread against the
// simulator is in linux/worker_run_test.cpp).
#include <gtest/gtest.h>

#include "session/main_window_logic_fixture.h"

namespace velmorin {
namespace {

TEST_F(MainWindowLogicTest, StartSetsTheInitialStates) {
    struct Row {
        const char* name;
        ReleaseCheck check;
        std::optional<std::string> link;
    };
    const Row rows[] = {
        {"newer release",
         {ReleaseCheckOutcome::Newer, "http://get.example/velmorin", ""},
         "http://get.example/velmorin"},
        {"same release", {ReleaseCheckOutcome::NotNewer, "http://get.example/old", ""}, {}},
        {"no server", {ReleaseCheckOutcome::CouldNotCheck, "", "update.example: refused"}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m_release = row.check;
        const MainWindowLogic& logic = Open();
        EXPECT_FALSE(m_window.updateEnabled);
        EXPECT_FALSE(m_window.includeComChecked);
        EXPECT_FALSE(m_window.progressVisible);
        EXPECT_FALSE(m_window.statusVisible);
        EXPECT_FALSE(m_window.fileInfo.has_value());
        EXPECT_EQ(m_window.fileMessage, "The format of the file is error!");
        EXPECT_FALSE(m_window.fileMessageVisible);
        EXPECT_EQ(m_window.lines, std::vector<std::string>{"Device not found!"});
        EXPECT_EQ(m_window.selectedLine, 0);
        EXPECT_EQ(m_window.releaseLink, row.link);
        EXPECT_FALSE(m_window.serialNumberControlsVisible);
        EXPECT_FALSE(m_window.saveTraceVisible);
        EXPECT_TRUE(m_window.boxes.empty());
        // Without "Include COMx Port" the ports are not probed.
        EXPECT_EQ(m_probes, std::vector<bool>{false});
        EXPECT_FALSE(logic.FileAccepted());
        EXPECT_FALSE(logic.Upgrading());
        EXPECT_EQ(logic.Devices().Count(), 0);
    }
}

TEST_F(MainWindowLogicTest, EveryEditOfThePathIsChecked) {
    enum class Kind { Accepted, Unrecognised, TooBig, Missing };
    struct Row {
        const char* name;
        bool withDevice;
        Kind kind;
        const char* message;  // the file message, shown when not empty
        bool updateEnabled;
    };
    const Row rows[] = {
        {"accepted, no device", false, Kind::Accepted, "", false},
        {"accepted, a device", true, Kind::Accepted, "", true},
        {"unrecognised", true, Kind::Unrecognised, "File format error!", false},
        {"too big", true, Kind::TooBig, "The file is big!", false},
        {"missing: no reason", true, Kind::Missing, "", false},
    };
    const std::string earlierAccepted = Sealed("earlier.bin");
    const std::string earlierRefused = Unrecognised("earlier-refused.bin");
    const std::string later = Sealed("later.bin", "V2.07");
    const std::string unrecognised = Unrecognised("bad.bin");
    const std::string tooBig = TooBig("big.bin");
    const std::string missing = (Dir() / "missing.bin").string();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m_devices.clear();
        if (row.withDevice) {
            m_devices.push_back(Charger("COM7", "Varno Kestrion X", "HX1"));
        }
        const MainWindowLogic& logic = Open();
        const bool accepted = row.kind == Kind::Accepted;
        // From the opposite verdict: an accepted file before a refused one
        // and the other way round.
        m_window.SetPathText(accepted ? earlierRefused : earlierAccepted);
        ASSERT_EQ(logic.FileAccepted(), !accepted);
        ASSERT_EQ(m_window.updateEnabled, !accepted && row.withDevice);

        const std::string path = row.kind == Kind::Accepted       ? later
                                 : row.kind == Kind::Unrecognised ? unrecognised
                                 : row.kind == Kind::TooBig       ? tooBig
                                                                  : missing;
        m_window.SetPathText(path);
        EXPECT_EQ(logic.FileAccepted(), accepted);
        EXPECT_EQ(m_window.updateEnabled, row.updateEnabled);
        // An accepted file hides the message, whatever its text.
        EXPECT_EQ(m_window.fileMessageVisible, *row.message != '\0');
        if (!accepted) {
            EXPECT_EQ(m_window.fileMessage, row.message);
        }
        ASSERT_EQ(m_window.fileInfo.has_value(), accepted);
        if (accepted) {
            EXPECT_EQ(m_window.fileInfo->version, "V2.07");
            EXPECT_EQ(m_window.fileInfo->type, "1010B");
            EXPECT_EQ(m_window.fileInfo->memo, "Balancer update");
        }
        EXPECT_TRUE(m_window.boxes.empty());
    }
}

TEST_F(MainWindowLogicTest, DownloadedFileIsCheckedUnderEitherPath) {
    struct Row {
        const char* name;
        bool samePath;
    };
    for (const Row row : {Row{"the path shown already", true}, Row{"another path", false}}) {
        SCOPED_TRACE(row.name);
        m_devices = {Charger("COM7", "Varno Kestrion X", "HX1")};
        MainWindowLogic& logic = Open();
        const std::string shown = Unrecognised("abc.bin");
        m_window.SetPathText(shown);
        ASSERT_FALSE(logic.FileAccepted());

        // The download replaced the file or came under a name of its own.
        const std::string downloaded = row.samePath ? Sealed("abc.bin") : Sealed("other.bin");
        m_window.calls.clear();
        logic.TakeDownloadedFile(downloaded);
        EXPECT_EQ(m_window.Find("set-path:") >= 0, !row.samePath);
        EXPECT_EQ(m_window.path, downloaded);
        EXPECT_TRUE(logic.FileAccepted());
        ASSERT_TRUE(m_window.fileInfo.has_value());
        EXPECT_EQ(m_window.fileInfo->version, "V1.02");
        EXPECT_FALSE(m_window.fileMessageVisible);
        EXPECT_TRUE(m_window.updateEnabled);
    }
}

TEST_F(MainWindowLogicTest, IncludeComListsAndProbesPlainPorts) {
    // The charger's model is in the devices' code page (0xE9 is e acute).
    m_devices = {PlainPort("COM1"), Charger("COM7", "Varno Kestrion \xE9", "HX1"),
                 PlainPort("COM3")};
    MainWindowLogic& logic = Open();
    m_window.SetPathText(Sealed("update.bin"));
    const std::string chargerLine = "Type: Varno Kestrion \xC3\xA9, S/N:HX1";
    EXPECT_EQ(m_window.lines, std::vector<std::string>{chargerLine});

    struct Step {
        const char* name;
        std::vector<DiscoveredDevice> records;
        bool checked;
        std::vector<std::string> lines;
        bool updateEnabled;
    };
    const Step steps[] = {
        {"checked",
         m_devices,
         true,
         {"Communications Port (COM1)", chargerLine, "Communications Port (COM3)"},
         true},
        {"unchecked", m_devices, false, {chargerLine}, true},
        {"plain port only, unchecked", {PlainPort("COM1")}, false, {"Device not found!"}, false},
        // A plain port counts as a device for the Update button.
        {"plain port only, checked",
         {PlainPort("COM1")},
         true,
         {"Communications Port (COM1)"},
         true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        m_devices = step.records;
        m_probes.clear();
        m_window.selectedLine = 2;
        logic.OnIncludeComClicked(step.checked);
        EXPECT_EQ(m_probes, std::vector<bool>{step.checked});
        EXPECT_EQ(m_window.lines, step.lines);
        EXPECT_EQ(m_window.selectedLine, 0);
        EXPECT_EQ(m_window.updateEnabled, step.updateEnabled);
        EXPECT_EQ(logic.Devices().Count(), step.lines.front() == "Device not found!"
                                               ? 0
                                               : static_cast<int>(step.lines.size()));
    }
}

TEST_F(MainWindowLogicTest, DiscoveryErrorIsShownAndCountsAsEmpty) {
    m_discoveryError = "cannot list the serial ports: udev is not running";
    MainWindowLogic& logic = Open();
    const Box expected{m_discoveryError, kApplicationName, MessageIcon::Exclamation};
    EXPECT_EQ(m_window.boxes, std::vector<Box>{expected});
    EXPECT_EQ(m_window.lines, std::vector<std::string>{"Device not found!"});

    // Discovery works again: a charger and an accepted file enable Update.
    m_discoveryError.clear();
    m_devices = {Charger("COM7", "Varno Kestrion X", "HX1")};
    m_window.SetPathText(Sealed("update.bin"));
    logic.RefreshDeviceList();
    ASSERT_EQ(logic.Devices().Count(), 1);
    ASSERT_TRUE(m_window.updateEnabled);

    // It fails once more: the charger is gone from the list and the table.
    m_discoveryError = "cannot list the serial ports: out of memory";
    logic.RefreshDeviceList();
    EXPECT_EQ(m_window.boxes.size(), 2u);
    EXPECT_EQ(m_window.boxes.back(),
              (Box{m_discoveryError, kApplicationName, MessageIcon::Exclamation}));
    EXPECT_EQ(m_window.lines, std::vector<std::string>{"Device not found!"});
    EXPECT_EQ(m_window.selectedLine, 0);
    EXPECT_EQ(logic.Devices().Count(), 0);
    EXPECT_FALSE(m_window.updateEnabled);
    EXPECT_TRUE(logic.FileAccepted());
}

// What a refresh does to the Update button and the list, by whether devices
// are listed, the file is accepted and the list is live (it is not while an
// upgrade runs).
TEST_F(MainWindowLogicTest, RefreshSetsUpdateByDevicesFileAndLiveList) {
    enum class Button { Enable, Disable, Leave };
    struct Row {
        bool devicesListed;
        bool fileAccepted;
        bool listLive;
        Button button;
    };
    const Row rows[] = {
        {true, true, true, Button::Enable},    {true, false, true, Button::Leave},
        {false, true, true, Button::Disable},  {false, false, true, Button::Disable},
        {true, true, false, Button::Leave},    {true, false, false, Button::Leave},
        {false, true, false, Button::Disable}, {false, false, false, Button::Disable},
    };
    const std::string accepted = Sealed("update.bin");
    const std::string refused = Unrecognised("bad.bin");
    const std::vector<DiscoveredDevice> two = {Charger("COM7", "Varno Kestrion X", "HX1"),
                                               Charger("HID3", "Varno Kestrion Y", "HX2")};
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "devices " << row.devicesListed << ", accepted "
                                          << row.fileAccepted << ", live " << row.listLive);
        PendingRunner runner;
        m_devices = {Charger("COM9", "Varno Kestrion Z", "HX9")};
        MainWindowLogic& logic = Open(runner);
        m_window.SetPathText(row.fileAccepted ? accepted : refused);
        if (!row.listLive) {
            logic.OnUpdate();
            ASSERT_EQ(runner.starts, 1);
        }
        m_devices = row.devicesListed ? two : std::vector<DiscoveredDevice>{};
        m_window.calls.clear();
        logic.RefreshDeviceList();

        const std::vector<std::string> updateCalls = [&] {
            std::vector<std::string> found;
            std::copy_if(m_window.calls.begin(), m_window.calls.end(), std::back_inserter(found),
                         [](const std::string& call) { return call.rfind("update:", 0) == 0; });
            return found;
        }();
        switch (row.button) {
        case Button::Enable:
            EXPECT_EQ(updateCalls, std::vector<std::string>{"update:on"});
            break;
        case Button::Disable:
            EXPECT_EQ(updateCalls, std::vector<std::string>{"update:off"});
            break;
        case Button::Leave:
            EXPECT_EQ(updateCalls, std::vector<std::string>{});
            break;
        }
        // The table follows the devices in every case; the list only while live.
        EXPECT_EQ(logic.Devices().Count(), row.devicesListed ? 2 : 0);
        const std::vector<std::string> expectedLines =
            !row.listLive       ? std::vector<std::string>{"Type: Varno Kestrion Z, S/N:HX9"}
            : row.devicesListed ? std::vector<std::string>{"Type: Varno Kestrion X, S/N:HX1",
                                                           "Type: Varno Kestrion Y, S/N:HX2"}
                                : std::vector<std::string>{"Device not found!"};
        EXPECT_EQ(m_window.lines, expectedLines);
        EXPECT_EQ(m_window.Find("select:") >= 0, row.listLive);
        if (!row.listLive) {
            runner.Finish({});
        }
    }
}

TEST_F(MainWindowLogicTest, OneRunAtATimeWithTheListHeld) {
    PendingRunner runner;
    m_devices = {Charger("COM7", "Varno Kestrion X", "HX1")};
    MainWindowLogic& logic = Open(runner);
    m_window.SetPathText(Sealed("update.bin"));
    ASSERT_TRUE(m_window.updateEnabled);

    logic.OnUpdate();
    EXPECT_EQ(runner.starts, 1);
    EXPECT_TRUE(logic.Upgrading());
    EXPECT_TRUE(m_window.held);
    EXPECT_FALSE(m_window.listEnabled);

    // A second Update or Set serial number while the run goes on starts nothing.
    m_window.calls.clear();
    logic.OnUpdate();
    logic.OnSetSerialNumber();
    EXPECT_EQ(runner.starts, 1);
    EXPECT_EQ(m_window.calls, std::vector<std::string>{});

    // A device change rebuilds the table the upgrade reads, not the list.
    m_devices = {Charger("COM8", "Varno Kestrion Y", "HX2")};
    logic.RefreshDeviceList();
    EXPECT_EQ(m_window.lines, std::vector<std::string>{"Type: Varno Kestrion X, S/N:HX1"});
    EXPECT_EQ(logic.Devices().At(0).deviceName, "COM8");

    // The run ends: controls released, the list live again and rebuilt.
    UpgradeReport report;
    report.outcome = UpgradeOutcome::Failed;
    report.message = "Device not found.";
    m_window.calls.clear();
    runner.Finish(report);
    EXPECT_FALSE(logic.Upgrading());
    EXPECT_FALSE(m_window.held);
    EXPECT_TRUE(m_window.listEnabled);
    EXPECT_EQ(logic.LastReport().message, "Device not found.");
    EXPECT_EQ(m_window.lines, std::vector<std::string>{"Type: Varno Kestrion Y, S/N:HX2"});
    EXPECT_EQ(m_window.selectedLine, 0);
    EXPECT_TRUE(m_window.updateEnabled);
    EXPECT_LT(m_window.Find("hold:off"), m_window.Find("lines:"));

    logic.OnUpdate();
    EXPECT_EQ(runner.starts, 2);
    runner.Finish({});
}

// The Update command runs the HID procedure for a name that begins with
// "HID" and the serial procedure for any other; Set serial number always
// the HID one. Against devices that do not exist each run ends at its open
// failure, whose text tells the procedures apart.
TEST_F(MainWindowLogicTest, UpdateRunsTheProcedureOfTheDeviceName) {
    enum class Command { Update, SetSerialNumber };
    struct Row {
        const char* name;
        std::string deviceName;
        Command command;
        std::string box;
        bool listHeld;  // the list disabled and rebuilt afterwards
    };
    const std::string serial = "Error opening COM port";
    const std::string hid = "8001: Error opening USB HID";
    const Row rows[] = {
        {"serial port", "COM250", Command::Update, serial, true},
        {"HID charger", "HID250", Command::Update, hid, true},
        {"case counts", "hid250", Command::Update, serial, true},
        {"no name", "", Command::Update, serial, true},
        {"set serial number", "COM250", Command::SetSerialNumber, hid, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DiscoveredDevice charger = Charger(row.deviceName, "Varno Kestrion X", "HX1");
        charger.friendlyName = "Varno Kestrion X";
        m_devices = {charger};
        MainWindowLogic& logic = Open();
        const std::string file = Sealed("update.bin");
        m_window.SetPathText(file);
        ASSERT_TRUE(m_window.updateEnabled);
        m_window.calls.clear();
        if (row.command == Command::Update) {
            logic.OnUpdate();
        } else {
            logic.OnSetSerialNumber();
        }

        EXPECT_FALSE(logic.Upgrading());
        EXPECT_EQ(m_window.boxes, (std::vector<Box>{{row.box, "Error", MessageIcon::Error}}));
        EXPECT_EQ(logic.LastReport().outcome, UpgradeOutcome::OpenFailed);
        EXPECT_EQ(logic.LastReport().deviceName, row.deviceName);
        EXPECT_GE(m_window.Find("status:Connecting..."), 0);
        EXPECT_GE(m_window.Find("status:Open file: " + file), 0);

        // Held from before the procedure's first step until after its box.
        const int held = m_window.Find("hold:on");
        const int box = m_window.Find("box:");
        const int released = m_window.Find("hold:off");
        EXPECT_EQ(held, 0);
        EXPECT_LT(held, m_window.Find("update:off"));
        EXPECT_LT(box, released);
        EXPECT_EQ(m_window.Find("hold:", held + 1), released);
        EXPECT_FALSE(m_window.held);
        EXPECT_EQ(m_window.Find("list:off") >= 0, row.listHeld);
        EXPECT_EQ(m_window.Find("lines:", released) >= 0, row.listHeld);
        EXPECT_TRUE(m_window.listEnabled);
        EXPECT_FALSE(m_window.statusVisible);
        EXPECT_FALSE(m_window.progressVisible);
        EXPECT_TRUE(m_window.updateEnabled);

        // Every run adds its line to the history.
        const LedgerContents history = ReadLedger(m_ledgerPath);
        ASSERT_FALSE(history.entries.empty());
        const LedgerEntry& line = history.entries.back();
        EXPECT_EQ(line.outcome, LedgerOutcome::OpenFailed);
        EXPECT_EQ(line.device, row.deviceName);
        EXPECT_EQ(line.serialNumber, "HX1");
        EXPECT_EQ(line.file, "update.bin");
        EXPECT_EQ(line.fileVersion, "V1.02");
        EXPECT_EQ(line.message, row.box);
    }
    EXPECT_EQ(ReadLedger(m_ledgerPath).entries.size(), std::size(rows));
}

TEST_F(MainWindowLogicTest, HistoryThatCannotBeWrittenIsShownAndKeepsTheOutcome) {
    // A regular file where the history's folder should be.
    testing::WriteBytes(Dir() / "blocked", {'x'});
    m_ledgerPath = Dir() / "blocked" / "history.jsonl";
    m_devices = {Charger("COM250", "Varno Kestrion X", "HX1")};
    MainWindowLogic& logic = Open();
    m_window.SetPathText(Sealed("update.bin"));
    logic.OnUpdate();

    ASSERT_EQ(m_window.boxes.size(), 2u);
    EXPECT_EQ(m_window.boxes[0].text, "Error opening COM port");
    EXPECT_NE(m_window.boxes[1].text.find("cannot write the history"), std::string::npos)
        << m_window.boxes[1].text;
    EXPECT_EQ(m_window.boxes[1].icon, MessageIcon::Exclamation);
    EXPECT_EQ(logic.LastReport().outcome, UpgradeOutcome::OpenFailed);
    EXPECT_FALSE(logic.Upgrading());
}

// A run that did not complete leaves its wire trace for Save trace...; a
// completed run, or the next run's start, takes the offer away.
TEST_F(MainWindowLogicTest, SaveTraceWritesTheLastFailedRunsTrace) {
    m_devices = {Charger("COM250", "Varno Kestrion X", "HX1")};
    MainWindowLogic& logic = Open();
    m_window.SetPathText(Sealed("update.bin"));
    logic.OnUpdate();
    ASSERT_EQ(logic.LastReport().outcome, UpgradeOutcome::OpenFailed);
    EXPECT_TRUE(m_window.saveTraceVisible);
    ASSERT_NE(logic.LastFailedTrace(), nullptr);

    // Cancelled: nothing written.
    const std::filesystem::path tracePath = Dir() / "run.trace";
    logic.OnSaveTrace();
    EXPECT_GE(m_window.Find("ask-trace-path"), 0);
    EXPECT_FALSE(std::filesystem::exists(tracePath));

    m_window.tracePathAnswer = tracePath.string();
    logic.OnSaveTrace();
    const std::string trace = testing::ReadText(tracePath);
    EXPECT_NE(trace.find(" ms  COM250 open failed: "), std::string::npos) << trace;
    EXPECT_NE(trace.find("COM250 outcome: open failed: Error opening COM port\n"),
              std::string::npos)
        << trace;
    EXPECT_EQ(trace, logic.LastFailedTrace()->Format(TraceFormat::Text));

    // A file that cannot be written: said in a box.
    m_window.boxes.clear();
    m_window.tracePathAnswer = (Dir() / "no-such-folder" / "run.trace").string();
    logic.OnSaveTrace();
    ASSERT_EQ(m_window.boxes.size(), 1u);
    EXPECT_EQ(m_window.boxes[0].text.rfind(
                  "cannot write the trace to " + m_window.tracePathAnswer + ": ", 0),
              0u)
        << m_window.boxes[0].text;
    EXPECT_EQ(m_window.boxes[0].icon, MessageIcon::Exclamation);

    // The next run hides the offer as it starts; a completion leaves it hidden.
    PendingRunner runner;
    MainWindowLogic& pending = Open(runner);
    m_window.SetPathText(Sealed("update.bin"));
    pending.OnUpdate();
    UpgradeReport failed;
    failed.outcome = UpgradeOutcome::Failed;
    runner.Finish(failed);
    EXPECT_TRUE(m_window.saveTraceVisible);
    pending.OnUpdate();
    EXPECT_FALSE(m_window.saveTraceVisible);
    UpgradeReport completed;
    completed.outcome = UpgradeOutcome::Completed;
    runner.Finish(completed);
    EXPECT_FALSE(m_window.saveTraceVisible);
    EXPECT_EQ(pending.LastFailedTrace(), nullptr);
    m_window.calls.clear();
    pending.OnSaveTrace();
    EXPECT_EQ(m_window.Find("ask-trace-path"), -1);
}

TEST_F(MainWindowLogicTest, DownloadOpensTheDialogOnlyOverAFetchedCatalogue) {
    const std::string failure =
        "Connecting server failed.\n\nError = 0x800C0007\n\nupdate.example: Connection refused";
    const auto catalogueDirectory = Dir() / "fetched";
    const auto catalogueFile = catalogueDirectory / kTemporaryCatalogue;
    struct Row {
        const char* name;
        std::function<CatalogueFetchResult(const std::function<void(const std::string&)>&)> fetch;
        std::vector<Box> boxes;
        bool dialog;
    };
    const Row rows[] = {
        {"no server",
         [&](const auto& report) {
             report(failure);
             return CatalogueFetchResult{};
         },
         {{failure, kApplicationName, MessageIcon::None}},
         false},
        {"stopped",
         [](const auto&) {
             CatalogueFetchResult stopped;
             stopped.stopped = true;
             return stopped;
         },
         {},
         false},
        {"fetched",
         [&](const auto&) {
             std::filesystem::create_directories(catalogueDirectory);
             std::ofstream(catalogueFile)
                 << "[File List]\nCountEx=2\nType0=1010B\nFileName0=abc\nVer0=V1.02\n"
                    "Updated0=2024-01-02\nURL0=http://files.example/abc.bin\nNote0=first\n"
                    "Release0=Notes for abc\nReleaseURL0=http://r/abc\n"
                    "FileName1=../up/def\nURL1=http://files.example/def.bin\nRelease1=R1\n";
             CatalogueFetchResult fetched;
             fetched.fetched = true;
             fetched.catalogue = TemporaryCatalogue(catalogueFile);
             return fetched;
         },
         {},
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m_devices = {Charger("COM7", "Varno Kestrion X", "HX1")};
        m_fetch = row.fetch;
        MainWindowLogic& logic = Open();
        // A file the dialog downloads comes to the path field and is checked.
        const std::string downloaded = Sealed("abc.bin", "V3.01");
        m_window.duringDownloadDialog = [&] { logic.TakeDownloadedFile(downloaded); };
        logic.OnDownload();
        EXPECT_EQ(m_window.boxes, row.boxes);
        ASSERT_EQ(m_window.downloadDialogs.size(), row.dialog ? 1u : 0u);
        if (!row.dialog) {
            EXPECT_EQ(m_window.path, "");
            continue;
        }
        const CatalogueContents& contents = m_window.downloadDialogs.front();
        ASSERT_EQ(contents.entries.size(), 2u);
        EXPECT_EQ(contents.entries[0].type, "1010B");
        EXPECT_EQ(contents.entries[0].version, "V1.02");
        EXPECT_EQ(contents.entries[0].updated, "2024-01-02");
        EXPECT_EQ(contents.entries[0].note, "first");
        EXPECT_EQ(contents.entries[1].fileName, "../up/def");
        EXPECT_EQ(contents.entries[1].url, "http://files.example/def.bin");
        EXPECT_EQ(contents.releases[0].caption, "Notes for abc");
        EXPECT_EQ(contents.releases[0].address, "http://r/abc");
        EXPECT_EQ(contents.releases[1].caption, "R1");
        // The fetched catalogue is gone once read.
        EXPECT_FALSE(std::filesystem::exists(catalogueDirectory));
        EXPECT_EQ(m_window.path, downloaded);
        ASSERT_TRUE(m_window.fileInfo.has_value());
        EXPECT_EQ(m_window.fileInfo->version, "V3.01");
        EXPECT_TRUE(m_window.updateEnabled);
    }
}

}  // namespace
}  // namespace velmorin
