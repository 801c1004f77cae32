// SPDX-License-Identifier: MIT
// A run between its host and its procedure, with its journal lines.
#include "session/recorded_run.h"

#include <cerrno>
#include <chrono>
#include <utility>

#include "protocol/upgrade_texts.h"

namespace velmorin {
namespace {

// Stands between the procedure and the front end's host: hands the pinned
// bytes to the load, writes the started line as the run reaches the
// charger, follows its progress for the journal, keeps the load's words on a
// rejected file, and writes the outcome line as the run ends. Everything else goes to the front
// end's host as it comes.
class RecordingHost : public UpgradeHost {
public:
    RecordingHost(UpgradeHost& host, RunJournal& journal, RunRecord& record)
        : m_host(host), m_journal(journal), m_record(record) {}

    bool Recorded() const { return m_recorded; }
    const std::string& Rejection() const { return m_rejection; }

    // Writes the run's outcome line once. A run that found its charger held
    // by another run, and is to leave no record for that, leaves none.
    void Record(const UpgradeReport& report) {
        if (m_recorded) {
            return;
        }
        m_recorded = true;
        if (m_quietWhenBusy && !m_reached && report.outcome == UpgradeOutcome::OpenFailed &&
            report.openErrno == EBUSY) {
            m_journal.Drop(m_record.runId);
            return;
        }
        const UpgradedFile& file = m_record.file->Description();
        const std::string message = FinalMessage(report, m_rejection, file.path);
        const std::string error = m_journal.Finish(
            m_record.runId,
            LedgerEntryFor(report, m_record.device, m_slot, file, m_operatorName, message));
        if (m_record.ledgerError.empty()) {
            m_record.ledgerError = error;
        }
    }
    void SetPlan(const RunPlan& plan) {
        m_slot = plan.slot;
        m_operatorName = plan.operatorName;
        m_quietWhenBusy = plan.quietWhenBusy;
    }

    std::string PathText() override { return m_host.PathText(); }
    DeviceEntry SelectedEntry() override { return m_host.SelectedEntry(); }
    std::vector<DeviceEntry> ListedEntries() override { return m_host.ListedEntries(); }
    void ShowStatus(bool visible) override { m_host.ShowStatus(visible); }
    void SetStatusText(const std::string& text) override {
        if (text == kStatusConnecting || text == kStatusConnectingAgain) {
            ++m_progress.attempts;
            NoteProgress();
        } else if (text == kStatusUpgrading) {
            m_progress.transferBegun = true;
            NoteProgress();
        }
        m_host.SetStatusText(text);
    }
    void ShowProgress(bool visible) override { m_host.ShowProgress(visible); }
    void SetProgressRange(std::uint16_t maximum) override { m_host.SetProgressRange(maximum); }
    void SetProgressPosition(int position) override {
        if (position > 0 && static_cast<std::uint64_t>(position) != m_progress.frames) {
            m_progress.frames = static_cast<std::uint64_t>(position);
            NoteProgress();
        }
        m_host.SetProgressPosition(position);
    }
    void EnableUpdateButton(bool enabled) override { m_host.EnableUpdateButton(enabled); }
    void CopyDataToControls() override { m_host.CopyDataToControls(); }
    void PumpMessages() override { m_host.PumpMessages(); }
    WireTrace* Trace() override { return m_host.Trace(); }
    const UpdateFileBytes* FileBytes() override { return &m_record.file->Bytes(); }
    void ChargerReached() override {
        if (!m_reached) {
            m_reached = true;
            const std::string error = m_journal.Begin(m_record.runId);
            if (m_record.ledgerError.empty()) {
                m_record.ledgerError = error;
            }
        }
        m_host.ChargerReached();
    }
    void RunEnding(const UpgradeReport& report) override {
        Record(report);
        m_host.RunEnding(report);
    }
    void ResetFileInfo(std::string_view reason) override {
        m_rejection = reason;
        m_host.ResetFileInfo(reason);
    }
    void ShowFileInfo(const FileInfoText& info) override { m_host.ShowFileInfo(info); }
    void ShowMessageBox(std::string_view text, std::string_view caption,
                        MessageIcon icon) override {
        m_host.ShowMessageBox(text, caption, icon);
    }

private:
    void NoteProgress() {
        m_progress.elapsedMs =
            static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - m_start)
                                           .count());
        m_journal.Progress(m_record.runId, m_progress);
    }

    UpgradeHost& m_host;
    RunJournal& m_journal;
    RunRecord& m_record;
    std::string m_slot;
    std::string m_operatorName;
    std::string m_rejection;
    RunProgress m_progress;
    const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    bool m_quietWhenBusy = false;
    bool m_reached = false;
    bool m_recorded = false;
};

}  // namespace

std::string FinalMessage(const UpgradeReport& report, const std::string& rejection,
                         const std::string& path) {
    if (!report.message.empty()) {
        return report.message;
    }
    if (!rejection.empty()) {
        return rejection;
    }
    if (!report.openError.empty()) {
        return report.openError;
    }
    if (!report.fileCheck.openError.empty()) {
        return report.fileCheck.openError;
    }
    if (report.outcome == UpgradeOutcome::FileRejected &&
        report.fileCheck.result == ImageLoadResult::Empty) {
        return "The file is empty: " + path;
    }
    return {};
}

RunRecord RunRecordedUpgrade(UpgradeHost& host, const UpgradeProcedure& procedure, RunPlan plan,
                             RunJournal& journal) {
    RunRecord record;
    record.device = plan.device.deviceName.empty() ? host.SelectedEntry() : plan.device;
    record.file = plan.file != nullptr ? std::move(plan.file)
                                       : std::make_shared<const PinnedFile>(host.PathText());
    RecordingHost recording(host, journal, record);
    recording.SetPlan(plan);

    // The run is open from here on (an ending request records it as
    // interrupted); its started line is written as it reaches the charger.
    UpgradeReport starting;
    starting.deviceName = record.device.deviceName;
    record.runId = journal.Open(LedgerEntryFor(starting, record.device, plan.slot,
                                               record.file->Description(), plan.operatorName));

    record.report = procedure(recording);
    // A run that the load ended, or that ended without a final message box,
    // is recorded now.
    recording.Record(record.report);
    record.message =
        FinalMessage(record.report, recording.Rejection(), record.file->Description().path);
    return record;
}

}  // namespace velmorin
