// SPDX-License-Identifier: MIT
// The main window logic's tests' fixture: a recording view, runners and a
// view thread of the tests' own, and injected discovery, release check and
// catalogue fetch.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "device/virtual/virtual_devices.h"
#include "image/update_sealer.h"
#include "session/main_window_logic.h"
#include "support/test_files.h"

namespace velmorin {
namespace {

constexpr char kApplicationName[] = "velmorin-test";

struct Box {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::None;
    bool operator==(const Box&) const = default;
};

inline void PrintTo(const Box& box, std::ostream* out) {
    *out << '"' << box.text << "\" captioned \"" << box.caption << "\" icon "
         << static_cast<int>(box.icon);
}

// A view that records every call as text (with the thread it came on) and
// keeps the state its controls would show. An edit of the path reaches the
// logic as a toolkit's change signal would: only when the text changes.
class RecordingWindow : public MainWindowView {
public:
    MainWindowLogic* logic = nullptr;
    // Runs while the download dialog is open.
    std::function<void()> duringDownloadDialog;

    std::vector<std::string> calls;
    std::vector<std::thread::id> callThreads;

    // Each control starts in the state opposite to the one Start must set.
    std::string path;
    bool includeComChecked = true;
    std::vector<std::string> lines{"stale line"};
    int selectedLine = -1;
    bool listEnabled = true;
    bool updateEnabled = true;
    bool statusVisible = true;
    std::string statusText;
    bool progressVisible = true;
    int progressMaximum = -1;
    int progressPosition = -1;
    std::optional<FileInfoText> fileInfo = FileInfoText{"stale", "stale", "stale"};
    std::string fileMessage = "stale";
    bool fileMessageVisible = true;
    std::optional<std::string> releaseLink = "stale";
    bool serialNumberControlsVisible = true;
    bool held = false;
    bool saveTraceVisible = true;
    // What the file dialog of Save trace... answers (empty: cancelled).
    std::string tracePathAnswer;
    std::vector<Box> boxes;
    std::vector<CatalogueContents> downloadDialogs;

    std::string PathText() override {
        Record("read:path");
        return path;
    }
    void SetPathText(const std::string& text) override {
        Record("set-path:" + text);
        if (text != path) {
            path = text;
            if (logic != nullptr) {
                logic->OnPathEdited();
            }
        }
    }
    void SetIncludeComChecked(bool checked) override {
        Record(std::string("include-com:") + (checked ? "on" : "off"));
        includeComChecked = checked;
    }
    void SetDeviceLines(const std::vector<std::string>& newLines) override {
        std::string text = "lines:";
        for (const std::string& line : newLines) {
            text += line + ";";
        }
        Record(text);
        lines = newLines;
        selectedLine = -1;  // a list box emptied and filled has no selection
    }
    void SelectDeviceLine(int line) override {
        Record("select:" + std::to_string(line));
        selectedLine = line;
    }
    int SelectedDeviceLine() override {
        Record("read:selection");
        return selectedLine;
    }
    void EnableDeviceList(bool enabled) override {
        Record(std::string("list:") + (enabled ? "on" : "off"));
        listEnabled = enabled;
    }
    void EnableUpdateButton(bool enabled) override {
        Record(std::string("update:") + (enabled ? "on" : "off"));
        updateEnabled = enabled;
    }
    void ShowStatus(bool visible) override {
        Record(std::string("status-shown:") + (visible ? "yes" : "no"));
        statusVisible = visible;
    }
    void SetStatusText(const std::string& text) override {
        Record("status:" + text);
        statusText = text;
    }
    void ShowProgress(bool visible) override {
        Record(std::string("progress-shown:") + (visible ? "yes" : "no"));
        progressVisible = visible;
    }
    void SetProgressRange(int maximum) override {
        Record("progress-range:" + std::to_string(maximum));
        progressMaximum = maximum;
    }
    void SetProgressPosition(int position) override {
        Record("progress:" + std::to_string(position));
        progressPosition = position;
    }
    void ShowFileInfo(const FileInfoText& info) override {
        Record("file-info:" + info.version);
        fileInfo = info;
        fileMessageVisible = false;
    }
    void ClearFileInfo() override {
        Record("file-info-cleared");
        fileInfo.reset();
    }
    void SetFileMessage(std::string_view text, bool visible) override {
        Record("file-message:" + std::string(text) + (visible ? " (shown)" : " (hidden)"));
        fileMessage = text;
        fileMessageVisible = visible;
    }
    void ShowReleaseLink(const std::string& address) override {
        Record("release-link:" + address);
        releaseLink = address;
    }
    void HideReleaseLink() override {
        Record("release-link-hidden");
        releaseLink.reset();
    }
    void ShowSerialNumberControls(bool visible) override {
        Record(std::string("serial-number:") + (visible ? "shown" : "hidden"));
        serialNumberControlsVisible = visible;
    }
    void HoldControls(bool hold) override {
        Record(std::string("hold:") + (hold ? "on" : "off"));
        held = hold;
    }
    void CopyDataToControls() override { Record("copy-data"); }
    void ShowSaveTraceButton(bool visible) override {
        Record(std::string("save-trace:") + (visible ? "shown" : "hidden"));
        saveTraceVisible = visible;
    }
    std::string AskTracePath() override {
        Record("ask-trace-path");
        return tracePathAnswer;
    }
    void ShowMessageBox(std::string_view text, std::string_view caption,
                        MessageIcon icon) override {
        Record("box:" + std::string(text));
        boxes.push_back({std::string(text), std::string(caption), icon});
    }
    void RunDownloadDialog(CatalogueContents contents) override {
        Record("download-dialog");
        downloadDialogs.push_back(std::move(contents));
        if (duringDownloadDialog) {
            duringDownloadDialog();
        }
    }

    // The position of the first call that begins with `prefix` at or after
    // `from`, or -1.
    int Find(std::string_view prefix, int from = 0) const {
        for (std::size_t i = static_cast<std::size_t>(from); i < calls.size(); ++i) {
            if (calls[i].rfind(prefix, 0) == 0) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

private:
    void Record(std::string call) {
        calls.push_back(std::move(call));
        callThreads.push_back(std::this_thread::get_id());
    }
};

// A runner whose run goes on until the test ends it.
class PendingRunner : public UpgradeRunner {
public:
    void Start(Procedure, UpgradeHost&, Finished finished) override {
        ++starts;
        m_finished = std::move(finished);
    }
    void Finish(const UpgradeReport& report) {
        ASSERT_TRUE(m_finished) << "no run is going on";
        const Finished finished = std::move(m_finished);
        m_finished = nullptr;
        finished(report);
    }

    int starts = 0;

private:
    Finished m_finished;
};

// The view's thread of a toolkit, made of a queue that the test's thread
// empties; it notes every thread that posted to it.
class QueuedViewThread : public ViewThread {
public:
    void Post(std::function<void()> work) override {
        {
            const std::lock_guard lock(m_mutex);
            m_queue.push_back(std::move(work));
            m_posters.insert(std::this_thread::get_id());
        }
        m_posted.notify_one();
    }

    // Runs posted work on the calling thread until `done` holds; false when
    // it does not within `limit`.
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            std::unique_lock lock(m_mutex);
            if (!m_posted.wait_until(lock, deadline, [this] { return !m_queue.empty(); })) {
                return done();
            }
            const std::function<void()> work = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            work();
        }
        return true;
    }

    std::set<std::thread::id> Posters() {
        const std::lock_guard lock(m_mutex);
        return m_posters;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<std::function<void()>> m_queue;
    std::set<std::thread::id> m_posters;
};

inline DiscoveredDevice Charger(const std::string& portName, const std::string& model,
                                const std::string& serial) {
    DiscoveredDevice record;
    record.isUsbDevice = 1;
    record.portName = portName;
    record.busDescription = model;
    record.devicePath = "\\\\?\\usb#vid_0483&pid_5750#" + serial + "#/dev/ttyACM0";
    record.friendlyName = model + " (" + portName + ")";
    record.description = "USB Serial Device";
    return record;
}

inline DiscoveredDevice PlainPort(const std::string& portName) {
    DiscoveredDevice record;
    record.portName = portName;
    record.friendlyName = "Communications Port (" + portName + ")";
    record.description = "Communications Port";
    return record;
}

class MainWindowLogicTest : public ::testing::Test {
protected:
    MainWindowServices Services() {
        MainWindowServices services;
        services.discover = [this](std::vector<DiscoveredDevice>& records, bool probe) {
            m_probes.push_back(probe);
            if (!m_discoveryError.empty()) {
                throw DiscoveryError(m_discoveryError);
            }
            records = m_devices;
        };
        services.checkRelease = [this] { return m_release; };
        services.fetchCatalogue = [this](const std::function<void(const std::string&)>& report) {
            return m_fetch(report);
        };
        services.watchDevices = false;
        services.ledgerPath = m_ledgerPath;
        return services;
    }

    // A fresh window over `runner`, started.
    MainWindowLogic& Open(UpgradeRunner& runner) {
        m_logic.reset();
        m_window = RecordingWindow();
        m_probes.clear();
        m_logic = std::make_unique<MainWindowLogic>(m_window, runner, kApplicationName, Services());
        m_window.logic = m_logic.get();
        m_logic->Start();
        return *m_logic;
    }
    MainWindowLogic& Open() { return Open(m_inline); }

    std::string Sealed(const std::string& name, const char* version = "V1.02",
                       std::uint8_t modelCode = 0x2A, std::size_t length = 64) {
        std::vector<std::uint8_t> payload(length);
        for (std::size_t i = 0; i < length; ++i) {
            payload[i] = static_cast<std::uint8_t>(i * 7 + 3);
        }
        UpdateHeader fields;
        fields.version = version;
        fields.type = "1010B";
        fields.memo = "Balancer update";
        fields.modelCode = modelCode;
        const auto path = Dir() / name;
        testing::WriteBytes(path, SealUpdateFile(fields, payload, SealedForm::WholeFile));
        return path.string();
    }

    // 600 bytes that are no update file.
    std::string Unrecognised(const std::string& name) {
        const auto path = Dir() / name;
        std::ofstream(path, std::ios::binary) << std::string(600, 'x');
        return path.string();
    }

    // One byte past the largest update file.
    std::string TooBig(const std::string& name) {
        const auto path = Dir() / name;
        std::ofstream(path, std::ios::binary).put('x');
        std::filesystem::resize_file(path, kMaxUpdateFileSize + 1);
        return path.string();
    }

    const std::filesystem::path& Dir() const { return m_directory.Path(); }

    // The virtual device directory is empty: COM250 and HID250 are no devices.
    testing::TempDirectory m_directory;
    testing::ScopedEnvironment m_virtualDevices{kVirtualDevicesVariable,
                                                m_directory.Path().string()};
    RecordingWindow m_window;
    std::vector<DiscoveredDevice> m_devices;
    std::string m_discoveryError;
    std::vector<bool> m_probes;
    ReleaseCheck m_release;
    std::function<CatalogueFetchResult(const std::function<void(const std::string&)>&)> m_fetch =
        [](const auto&) { return CatalogueFetchResult{}; };
    InlineUpgradeRunner m_inline;
    std::unique_ptr<MainWindowLogic> m_logic;
    std::filesystem::path m_ledgerPath = m_directory.Path() / "state" / "history.jsonl";
};

}  // namespace
}  // namespace velmorin
