// SPDX-License-Identifier: MIT
// The main dialog on Qt Widgets.
#include "app/main_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <utility>
#include <vector>

#include "app/device_list.h"
#include "app/device_table.h"
#include "app/dialog_units.h"
#include "app/pictures.h"
#include "app/update_command.h"
#include "image/update_image.h"
#include "online/catalogue.h"
#include "online/download_dialog.h"
#include "protocol/hid_upgrade.h"
#include "ui_main_dialog.h"

namespace velmorin {
namespace {

QString ToQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The one filter of the file choosers: its text shown once, its pattern *.bin.
constexpr char kUpdateFileFilter[] = "Kestrion Update File(*.bin)";

}  // namespace

CvelmorinDlg::CvelmorinDlg(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::MainDialog>()) {
    m_ui->setupUi(this);
    // Versions, types, memos, reasons and status lines come from files,
    // devices and the network: they are shown as they stand, never as markup.
    for (QLabel* label : findChildren<QLabel*>()) {
        label->setTextFormat(Qt::PlainText);
    }
    ApplyDialogUnits(*this);
    // Frames under the controls they hold, as in a dialog template.
    for (QWidget* frame :
         {static_cast<QWidget*>(m_ui->m_groupFile), static_cast<QWidget*>(m_ui->m_groupInfo)}) {
        frame->lower();
    }
    m_ui->m_picture->setPixmap(RenderPicture(QStringLiteral(":/velmorin/charger.svg"),
                                             m_ui->m_picture->contentsRect().size()));
    m_ui->m_picture->setScaledContents(true);

    // Initialisation, in the dialog's order.
    m_ui->m_linkNewRelease->SetUp();
    m_icon = QIcon(RenderPicture(QStringLiteral(":/velmorin/velmorin.svg"), QSize(64, 64)));
    setWindowIcon(m_icon);
    m_ui->m_checkIncludeCom->setChecked(false);
    m_ui->m_btnUpdate->setEnabled(false);
    m_ui->m_progress->hide();
    m_ui->m_staticStatus->hide();
    for (QWidget* label : {m_ui->m_labelVersion, m_ui->m_labelType, m_ui->m_labelMemo}) {
        label->hide();
    }
    m_ui->m_staticVersion->clear();
    m_ui->m_staticType->clear();
    m_ui->m_staticMemo->clear();
    m_ui->m_staticFileMessage->setText(QStringLiteral("The format of the file is error!"));
    m_ui->m_staticFileMessage->hide();
    RefreshDeviceList();
    // The release check fetches the catalogue before the window is first
    // shown (3 s at most).
    std::string releaseAddress;
    if (CheckForNewRelease(releaseAddress)) {
        m_ui->m_linkNewRelease->SetUrl(QString::fromStdString(releaseAddress));
        m_ui->m_linkNewRelease->DisableUnderline();
        m_ui->m_linkNewRelease->show();
    } else {
        m_ui->m_linkNewRelease->hide();
    }
    m_ui->m_checkSerialNumber->hide();
    m_ui->m_editSerialNumber->hide();
    m_ui->m_btnSetSerialNumber->hide();

    connect(m_ui->m_btnUpdate, &QPushButton::clicked, this, &CvelmorinDlg::OnUpdateCommand);
    connect(m_ui->m_btnExit, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui->m_btnOpen, &QPushButton::clicked, this, &CvelmorinDlg::OnOpenFile);
    connect(m_ui->m_editPath, &QLineEdit::textChanged, this, &CvelmorinDlg::OnPathChanged);
    connect(m_ui->m_checkIncludeCom, &QCheckBox::clicked, this, &CvelmorinDlg::OnIncludeComPort);
    connect(m_ui->m_btnSetSerialNumber, &QPushButton::clicked, this,
            &CvelmorinDlg::OnSetSerialNumber);
    connect(m_ui->m_btnDownload, &QPushButton::clicked, this, &CvelmorinDlg::OnDownload);
    if (m_watcher.Fd() >= 0) {
        m_deviceNotifier = std::make_unique<QSocketNotifier>(m_watcher.Fd(), QSocketNotifier::Read);
        connect(m_deviceNotifier.get(), &QSocketNotifier::activated, this,
                &CvelmorinDlg::OnDeviceChange);
    }
}

CvelmorinDlg::~CvelmorinDlg() = default;

std::string CvelmorinDlg::PathText() {
    return QFile::encodeName(m_ui->m_editPath->text()).toStdString();
}

int CvelmorinDlg::SelectedIndex() {
    return m_ui->m_listDevices->currentRow();
}

void CvelmorinDlg::ShowStatus(bool visible) {
    m_ui->m_staticStatus->setVisible(visible);
}

void CvelmorinDlg::SetStatusText(const std::string& text) {
    m_ui->m_staticStatus->setText(QString::fromUtf8(text.c_str()));
}

void CvelmorinDlg::ShowProgress(bool visible) {
    m_ui->m_progress->setVisible(visible);
}

void CvelmorinDlg::SetProgressRange(std::uint16_t maximum) {
    m_ui->m_progress->setRange(0, maximum);
}

void CvelmorinDlg::SetProgressPosition(int position) {
    m_ui->m_progress->setValue(position);
}

void CvelmorinDlg::EnableUpdateButton(bool enabled) {
    m_ui->m_btnUpdate->setEnabled(enabled);
}

void CvelmorinDlg::CopyDataToControls() {
    // The only data that the dialog keeps apart from its controls is the
    // hidden serial number, limited to 10 characters.
    m_ui->m_editSerialNumber->setMaxLength(10);
}

void CvelmorinDlg::PumpMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void CvelmorinDlg::ResetFileInfo(std::string_view reason) {
    for (QWidget* label : {m_ui->m_labelVersion, m_ui->m_labelType, m_ui->m_labelMemo}) {
        label->hide();
    }
    m_ui->m_staticVersion->clear();
    m_ui->m_staticType->clear();
    m_ui->m_staticMemo->clear();
    m_ui->m_staticFileMessage->setText(ToQString(reason));
    m_ui->m_staticFileMessage->setVisible(!reason.empty());
    m_ui->m_btnUpdate->setEnabled(false);
}

void CvelmorinDlg::ShowFileInfo(const FileInfoText& info, bool updateEnabled) {
    m_ui->m_staticVersion->setText(QString::fromStdString(info.version));
    m_ui->m_staticType->setText(QString::fromStdString(info.type));
    m_ui->m_staticMemo->setText(QString::fromStdString(info.memo));
    m_ui->m_staticFileMessage->hide();
    for (QWidget* label : {m_ui->m_labelVersion, m_ui->m_labelType, m_ui->m_labelMemo}) {
        label->show();
    }
    m_ui->m_btnUpdate->setEnabled(updateEnabled);
}

void CvelmorinDlg::ShowMessageBox(std::string_view text, std::string_view caption,
                                  MessageIcon icon) {
    const QString message = ToQString(text);
    const QString title = ToQString(caption);
    if (m_messageBoxHandler) {
        m_messageBoxHandler(message, title, icon);
        return;
    }
    QMessageBox box(icon == MessageIcon::Error         ? QMessageBox::Critical
                    : icon == MessageIcon::Exclamation ? QMessageBox::Warning
                                                       : QMessageBox::NoIcon,
                    title, message, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool CvelmorinDlg::CheckUpdateFile() {
    return velmorin::CheckUpdateFile(PathText(), *this).Accepted();
}

void CvelmorinDlg::RefreshDeviceList() {
    const DeviceListRefresh refresh = RefreshDeviceTable(m_ui->m_checkIncludeCom->isChecked());
    if (!refresh.discoveryError.empty()) {
        ShowMessageBox(refresh.discoveryError, QApplication::applicationName().toStdString(),
                       MessageIcon::Exclamation);
    }
    if (refresh.rewriteList) {
        m_ui->m_listDevices->clear();
        for (const std::string& line : refresh.lines) {
            m_ui->m_listDevices->addItem(QString::fromStdString(line));
        }
    }
    if (refresh.updateButton == UpdateButtonChange::Enable) {
        m_ui->m_btnUpdate->setEnabled(true);
    } else if (refresh.updateButton == UpdateButtonChange::Disable) {
        m_ui->m_btnUpdate->setEnabled(false);
    }
    if (refresh.selectFirst) {
        m_ui->m_listDevices->setCurrentRow(0);
    }
}

void CvelmorinDlg::RunHeld(const std::function<void()>& upgrade) {
    // The upgrade pumps this window's events: a modal chooser opened from
    // them would hold the transfer until it closed, and a closed window would
    // hide an upgrade that carries on.
    std::vector<std::pair<QPointer<QWidget>, bool>> held;
    for (QWidget* control : std::initializer_list<QWidget*>{
             m_ui->m_btnExit, m_ui->m_btnOpen, m_ui->m_btnDownload, m_ui->m_editPath,
             m_ui->m_checkIncludeCom, m_ui->m_linkNewRelease}) {
        held.emplace_back(control, control->isEnabledTo(this));
        control->setEnabled(false);
    }
    struct Release {
        CvelmorinDlg& dialog;
        std::vector<std::pair<QPointer<QWidget>, bool>>& held;
        ~Release() {
            for (const auto& [control, enabled] : held) {
                if (control != nullptr) {
                    control->setEnabled(enabled);
                }
            }
            dialog.m_upgrading = false;
        }
    } release{*this, held};
    m_upgrading = true;
    upgrade();
}

void CvelmorinDlg::done(int result) {
    if (m_upgrading) {
        return;
    }
    QDialog::done(result);
}

void CvelmorinDlg::closeEvent(QCloseEvent* event) {
    if (m_upgrading) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CvelmorinDlg::OnUpdateCommand() {
    RunHeld([this] {
        g_bListBoxLive = false;
        m_ui->m_listDevices->setEnabled(false);
        RunUpgradeForSelection(*this);
        g_bListBoxLive = true;
        m_ui->m_listDevices->setEnabled(true);
    });
    RefreshDeviceList();
}

void CvelmorinDlg::OnSetSerialNumber() {
    RunHeld([this] { UpgradeOverHid(*this); });
}

void CvelmorinDlg::OnOpenFile() {
    QFileDialog chooser(this, QString(), QString(), QString::fromLatin1(kUpdateFileFilter));
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setFileMode(QFileDialog::ExistingFile);
    chooser.setDefaultSuffix(QStringLiteral("bin"));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) {
        return;
    }
    m_ui->m_editPath->setText(chooser.selectedFiles().front());
    CheckUpdateFile();
}

void CvelmorinDlg::OnPathChanged() {
    CheckUpdateFile();
}

void CvelmorinDlg::OnIncludeComPort() {
    RefreshDeviceList();
}

void CvelmorinDlg::OnDeviceChange() {
    if (m_watcher.ConsumeChanges()) {
        RefreshDeviceList();
    }
}

void CvelmorinDlg::TakeDownloadedFile(const QString& path) {
    if (m_ui->m_editPath->text() == path) {
        // The same text raises no change: the file on disk is new all the same.
        CheckUpdateFile();
    } else {
        m_ui->m_editPath->setText(path);
    }
}

void CvelmorinDlg::OnDownload() {
    OpenDownloadDialog(
        this, [this](const QString& path) { TakeDownloadedFile(path); },
        [this](const QString& text) {
            ShowMessageBox(text.toStdString(), QApplication::applicationName().toStdString(),
                           MessageIcon::None);
        },
        m_beforeDownloadDialog);
}

}  // namespace velmorin
