// SPDX-License-Identifier: MIT
// The main dialog on Qt Widgets.
#include "gui/main_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMetaObject>
#include <utility>
#include <vector>

#include "gui/dialog_units.h"
#include "gui/download_dialog.h"
#include "gui/ending_requests.h"
#include "gui/message_box.h"
#include "gui/pictures.h"
#include "ui_main_dialog.h"

namespace velmorin {
namespace {

QString ToQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The one filter of the file choosers: its text shown once, its pattern *.bin.
constexpr char kUpdateFileFilter[] = "Kestrion Update File(*.bin)";

}  // namespace

void QtViewThread::Post(std::function<void()> work) {
    QMetaObject::invokeMethod(m_context, std::move(work), Qt::QueuedConnection);
}

MainDialog::MainDialog(QWidget* parent, MainWindowServices services)
    : QDialog(parent), m_ui(std::make_unique<Ui::MainDialog>()) {
    m_ui->setupUi(this);
    // Save trace... sits where the progress bar is, beside Update: the bar
    // shows only while a run goes on, the button only after one that failed.
    m_saveTraceButton = new QPushButton(QStringLiteral("Save trace..."), this);
    m_saveTraceButton->setObjectName(QStringLiteral("m_saveTraceButton"));
    m_saveTraceButton->setGeometry(116, 168, 50, 16);  // dialog units, as the form's
    m_saveTraceButton->hide();
    // Versions, types, memos, reasons and status lines come from files,
    // devices and the network: they are shown as they stand, never as markup.
    for (QLabel* label : findChildren<QLabel*>()) {
        label->setTextFormat(Qt::PlainText);
    }
    ApplyDialogUnits(*this);
    // Frames under the controls they hold, as in a dialog template.
    for (QWidget* frame :
         {static_cast<QWidget*>(m_ui->m_fileGroup), static_cast<QWidget*>(m_ui->m_infoGroup)}) {
        frame->lower();
    }
    m_ui->m_picture->setPixmap(RenderPicture(QStringLiteral(":/velmorin/charger.svg"),
                                             m_ui->m_picture->contentsRect().size()));
    m_ui->m_picture->setScaledContents(true);
    m_ui->m_newReleaseLink->SetUp();
    m_icon = QIcon(RenderPicture(QStringLiteral(":/velmorin/velmorin.svg"), QSize(64, 64)));
    setWindowIcon(m_icon);

    MainWindowView& view = *this;
    m_logic = std::make_unique<MainWindowLogic>(
        view, m_runner, QApplication::applicationName().toStdString(), std::move(services));
    m_logic->Start();

    MainWindowLogic& logic = *m_logic;
    // The runs' threads leave the requests to end the program to this one.
    connect(m_ui->m_updateButton, &QPushButton::clicked, this, [&logic] {
        const EndingRequestsKeptFromNewThreads keptFromRuns;
        logic.OnUpdate();
    });
    connect(m_ui->m_exitButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui->m_openButton, &QPushButton::clicked, this, &MainDialog::OnOpenFile);
    connect(m_ui->m_pathEdit, &QLineEdit::textChanged, this, [&logic] { logic.OnPathEdited(); });
    connect(m_ui->m_includeComCheck, &QCheckBox::clicked, this,
            [&logic](bool checked) { logic.OnIncludeComClicked(checked); });
    connect(m_ui->m_setSerialNumberButton, &QPushButton::clicked, this, [&logic] {
        const EndingRequestsKeptFromNewThreads keptFromRuns;
        logic.OnSetSerialNumber();
    });
    connect(m_ui->m_downloadButton, &QPushButton::clicked, this, [&logic] { logic.OnDownload(); });
    connect(m_saveTraceButton, &QPushButton::clicked, this, [&logic] { logic.OnSaveTrace(); });
    if (m_logic->DeviceWatcherFd() >= 0) {
        m_deviceNotifier =
            std::make_unique<QSocketNotifier>(m_logic->DeviceWatcherFd(), QSocketNotifier::Read);
        connect(m_deviceNotifier.get(), &QSocketNotifier::activated, this,
                [&logic] { logic.OnDeviceChange(); });
    }
}

MainDialog::~MainDialog() {
    // The worker's calls are served by this thread: it turns until the run
    // has posted its end.
    while (m_logic && m_logic->Upgrading()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

std::string MainDialog::PathText() {
    return QFile::encodeName(m_ui->m_pathEdit->text()).toStdString();
}

void MainDialog::SetPathText(const std::string& path) {
    m_ui->m_pathEdit->setText(QFile::decodeName(QByteArray::fromStdString(path)));
}

void MainDialog::SetIncludeComChecked(bool checked) {
    m_ui->m_includeComCheck->setChecked(checked);
}

void MainDialog::SetDeviceLines(const std::vector<std::string>& lines) {
    m_ui->m_deviceList->clear();
    for (const std::string& line : lines) {
        m_ui->m_deviceList->addItem(QString::fromStdString(line));
    }
}

void MainDialog::SelectDeviceLine(int line) {
    m_ui->m_deviceList->setCurrentRow(line);
}

int MainDialog::SelectedDeviceLine() {
    return m_ui->m_deviceList->currentRow();
}

void MainDialog::EnableDeviceList(bool enabled) {
    m_ui->m_deviceList->setEnabled(enabled);
}

void MainDialog::EnableUpdateButton(bool enabled) {
    m_ui->m_updateButton->setEnabled(enabled);
}

void MainDialog::ShowStatus(bool visible) {
    m_ui->m_statusLabel->setVisible(visible);
}

void MainDialog::SetStatusText(const std::string& text) {
    m_ui->m_statusLabel->setText(QString::fromUtf8(text.c_str()));
}

void MainDialog::ShowProgress(bool visible) {
    m_ui->m_progress->setVisible(visible);
}

void MainDialog::SetProgressRange(int maximum) {
    m_ui->m_progress->setRange(0, maximum);
}

void MainDialog::SetProgressPosition(int position) {
    m_ui->m_progress->setValue(position);
}

void MainDialog::ShowFileInfo(const FileInfoText& info) {
    m_ui->m_versionText->setText(QString::fromStdString(info.version));
    m_ui->m_typeText->setText(QString::fromStdString(info.type));
    m_ui->m_memoText->setText(QString::fromStdString(info.memo));
    m_ui->m_fileMessage->hide();
    for (QWidget* label : {m_ui->m_versionLabel, m_ui->m_typeLabel, m_ui->m_memoLabel}) {
        label->show();
    }
}

void MainDialog::ClearFileInfo() {
    for (QWidget* label : {m_ui->m_versionLabel, m_ui->m_typeLabel, m_ui->m_memoLabel}) {
        label->hide();
    }
    m_ui->m_versionText->clear();
    m_ui->m_typeText->clear();
    m_ui->m_memoText->clear();
}

void MainDialog::SetFileMessage(std::string_view text, bool visible) {
    m_ui->m_fileMessage->setText(ToQString(text));
    m_ui->m_fileMessage->setVisible(visible);
}

void MainDialog::ShowReleaseLink(const std::string& address) {
    m_ui->m_newReleaseLink->SetUrl(QString::fromStdString(address));
    m_ui->m_newReleaseLink->DisableUnderline();
    m_ui->m_newReleaseLink->show();
}

void MainDialog::HideReleaseLink() {
    m_ui->m_newReleaseLink->hide();
}

void MainDialog::ShowSerialNumberControls(bool visible) {
    m_ui->m_serialNumberCheck->setVisible(visible);
    m_ui->m_serialNumberEdit->setVisible(visible);
    m_ui->m_setSerialNumberButton->setVisible(visible);
}

void MainDialog::HoldControls(bool held) {
    if (held) {
        // A modal chooser opened during a run would sit over a transfer that
        // carries on, and a closed window would hide it.
        m_held.clear();
        for (QWidget* control : std::initializer_list<QWidget*>{
                 m_ui->m_exitButton, m_ui->m_openButton, m_ui->m_downloadButton, m_ui->m_pathEdit,
                 m_ui->m_includeComCheck, m_ui->m_newReleaseLink}) {
            m_held.emplace_back(control, control->isEnabledTo(this));
            control->setEnabled(false);
        }
        return;
    }
    for (const auto& [control, enabled] : m_held) {
        if (control != nullptr) {
            control->setEnabled(enabled);
        }
    }
    m_held.clear();
}

void MainDialog::CopyDataToControls() {
    // The only data that the dialog keeps apart from its controls is the
    // hidden serial number, limited to 10 characters.
    m_ui->m_serialNumberEdit->setMaxLength(10);
}

void MainDialog::ShowSaveTraceButton(bool visible) {
    m_saveTraceButton->setVisible(visible);
}

std::string MainDialog::AskTracePath() {
    const QString chosen = m_tracePathChooser
                               ? m_tracePathChooser()
                               : QFileDialog::getSaveFileName(this, QStringLiteral("Save trace"),
                                                              QStringLiteral("velmorin-trace.txt"),
                                                              QStringLiteral("Trace (*.txt)"));
    return QFile::encodeName(chosen).toStdString();
}

void MainDialog::ShowMessageBox(std::string_view text, std::string_view caption, MessageIcon icon) {
    const QString message = ToQString(text);
    const QString title = ToQString(caption);
    if (m_messageBoxHandler) {
        m_messageBoxHandler(message, title, icon);
        return;
    }
    ShowModalMessageBox(this, message, title, icon);
}

void MainDialog::RunDownloadDialog(CatalogueContents contents) {
    MainWindowLogic& logic = *m_logic;
    DownloadDialog dialog(this, std::move(contents),
                          [&logic](const std::string& path) { logic.TakeDownloadedFile(path); });
    if (m_beforeDownloadDialog) {
        m_beforeDownloadDialog(dialog);
    }
    dialog.exec();
}

void MainDialog::done(int result) {
    if (m_logic->Upgrading()) {
        return;
    }
    QDialog::done(result);
}

void MainDialog::closeEvent(QCloseEvent* event) {
    if (m_logic->Upgrading()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void MainDialog::OnOpenFile() {
    QFileDialog chooser(this, QString(), QString(), QString::fromLatin1(kUpdateFileFilter));
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setFileMode(QFileDialog::ExistingFile);
    chooser.setDefaultSuffix(QStringLiteral("bin"));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) {
        return;
    }
    m_ui->m_pathEdit->setText(chooser.selectedFiles().front());
    m_logic->CheckFile();
}

}  // namespace velmorin
