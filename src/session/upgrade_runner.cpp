// SPDX-License-Identifier: MIT
// The inline and worker runners, and the host that carries a worker's calls
// over to the view's thread.
#include "session/upgrade_runner.h"

#include <future>
#include <type_traits>

namespace velmorin {
namespace {

// The host as the worker sees it. What only changes the window is posted and
// the worker goes on; what returns something, or must be over before the
// procedure goes on (a message box), is called and waited for. Posts and
// calls run in the order the worker made them, so a device change that a
// posted pump handled is in the table when the next selected entry is read.
// A posted call holds the real host, never this one: it may run after the
// worker is done with it.
class ForwardingHost : public UpgradeHost {
public:
    ForwardingHost(UpgradeHost& host, ViewThread& view) : m_host(host), m_view(view) {}

    std::string PathText() override {
        return Ask([this] { return m_host.PathText(); });
    }
    DeviceEntry SelectedEntry() override {
        return Ask([this] { return m_host.SelectedEntry(); });
    }
    std::vector<DeviceEntry> ListedEntries() override {
        return Ask([this] { return m_host.ListedEntries(); });
    }
    void ShowStatus(bool visible) override {
        m_view.Post([host = &m_host, visible] { host->ShowStatus(visible); });
    }
    void SetStatusText(const std::string& text) override {
        m_view.Post([host = &m_host, text] { host->SetStatusText(text); });
    }
    void ShowProgress(bool visible) override {
        m_view.Post([host = &m_host, visible] { host->ShowProgress(visible); });
    }
    void SetProgressRange(std::uint16_t maximum) override {
        m_view.Post([host = &m_host, maximum] { host->SetProgressRange(maximum); });
    }
    void SetProgressPosition(int position) override {
        m_view.Post([host = &m_host, position] { host->SetProgressPosition(position); });
    }
    void EnableUpdateButton(bool enabled) override {
        m_view.Post([host = &m_host, enabled] { host->EnableUpdateButton(enabled); });
    }
    void CopyDataToControls() override {
        m_view.Post([host = &m_host] { host->CopyDataToControls(); });
    }
    void PumpMessages() override {
        m_view.Post([host = &m_host] { host->PumpMessages(); });
    }
    void ResetFileInfo(std::string_view reason) override {
        m_view.Post([host = &m_host, text = std::string(reason)] { host->ResetFileInfo(text); });
    }
    void ShowFileInfo(const FileInfoText& info) override {
        m_view.Post([host = &m_host, info] { host->ShowFileInfo(info); });
    }
    void ShowMessageBox(std::string_view text, std::string_view caption,
                        MessageIcon icon) override {
        m_view.Call([&] { m_host.ShowMessageBox(text, caption, icon); });
    }

private:
    template <typename Read>
    std::invoke_result_t<Read> Ask(Read read) {
        std::invoke_result_t<Read> answer;
        m_view.Call([&] { answer = read(); });
        return answer;
    }

    UpgradeHost& m_host;
    ViewThread& m_view;
};

}  // namespace

void ViewThread::Call(const std::function<void()>& work) {
    std::promise<void> done;
    Post([&] {
        work();
        done.set_value();
    });
    done.get_future().wait();
}

void InlineUpgradeRunner::Start(Procedure procedure, UpgradeHost& host, Finished finished) {
    const UpgradeReport report = procedure(host);
    finished(report);
}

WorkerUpgradeRunner::~WorkerUpgradeRunner() {
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void WorkerUpgradeRunner::Start(Procedure procedure, UpgradeHost& host, Finished finished) {
    if (m_worker.joinable()) {
        m_worker.join();  // the last run has posted its end already
    }
    m_worker = std::thread(
        [this, procedure = std::move(procedure), &host, finished = std::move(finished)] {
            ForwardingHost forwarding(host, m_view);
            const UpgradeReport report = procedure(forwarding);
            m_view.Post([finished, report] { finished(report); });
        });
}

}  // namespace velmorin
