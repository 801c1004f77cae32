// SPDX-License-Identifier: MIT
// The download dialog on Qt Widgets.
#include "online/download_dialog.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>

#include "app/dialog_units.h"
#include "app/pictures.h"
#include "image/code_page.h"
#include "online/catalogue.h"
#include "ui_download_dialog.h"

namespace velmorin {
namespace {

QString FromCatalogue(const std::string& text) {
    return QString::fromStdString(CodePageToUtf8(text));
}

// Columns of the update list: heading and initial width in pixels.
constexpr std::pair<const char*, int> kColumns[] = {
    {"Type", 70}, {"File name", 135}, {"Ver", 50}, {"Updated", 70}, {"URL", 300}, {"Note", 100}};
constexpr int kFileNameColumn = 1;
constexpr int kUrlColumn = 4;

// The one filter of the save chooser: its text shown once, its pattern *.bin.
constexpr char kUpdateFileFilter[] = "Kestrion Update File(*.bin)";

QString DefaultReleaseNotesAddress() {
    return QString::fromStdString("http://" + WebSite() + std::string(kReleaseNotesPath));
}

}  // namespace

CDownLoad::CDownLoad(QWidget* parent, std::function<void(const QString&)> deliverPath)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::DownloadDialog>()),
      m_deliverPath(std::move(deliverPath)) {
    m_ui->setupUi(this);
    // Captions and addresses come from the catalogue: shown as they stand.
    for (QLabel* label : findChildren<QLabel*>()) {
        label->setTextFormat(Qt::PlainText);
    }
    ApplyDialogUnits(*this);
    m_chooseSaveFile = [this](const QString& proposed) -> std::optional<QString> {
        // The chooser opens where it would anyway; the proposal is a plain
        // name in it, never a directory of the catalogue's choosing.
        QFileDialog chooser(this, QString(), QString(), QString::fromLatin1(kUpdateFileFilter));
        chooser.setAcceptMode(QFileDialog::AcceptSave);
        chooser.setDefaultSuffix(QStringLiteral("bin"));
        if (!proposed.isEmpty()) {
            chooser.selectFile(proposed);
        }
        if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        return chooser.selectedFiles().front();
    };
    // The download flow's boxes carry no icon.
    m_messageBox = [this](const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                        this);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    };

    if (parent != nullptr) {
        setWindowIcon(parent->windowIcon());
    }
    m_ui->m_picture->setPixmap(
        RenderPicture(QStringLiteral(":/velmorin/charger.svg"), m_ui->m_picture->size()));
    m_ui->m_staticStatus->hide();
    m_ui->m_linkReleaseNotes->SetUp();

    QStringList headings;
    for (const auto& [heading, width] : kColumns) {
        headings << QString::fromLatin1(heading);
    }
    m_ui->m_listUpdates->setHeaderLabels(headings);
    for (int column = 0; column < static_cast<int>(std::size(kColumns)); ++column) {
        m_ui->m_listUpdates->header()->resizeSection(column, kColumns[column].second);
    }
    connect(m_ui->m_listUpdates, &QTreeWidget::itemSelectionChanged, this,
            &CDownLoad::OnItemChanged);
    connect(m_ui->m_btnBrowse, &QPushButton::clicked, this, &CDownLoad::OnBrowse);
    connect(m_ui->m_btnDownload, &QPushButton::clicked, this, &CDownLoad::OnDownload);
    connect(m_ui->m_btnExit, &QPushButton::clicked, this, &QDialog::reject);

    for (const UpdateEntry& entry : LoadCatalogue()) {
        auto* row = new QTreeWidgetItem(m_ui->m_listUpdates);
        const std::string* texts[] = {&entry.type,    &entry.fileName, &entry.version,
                                      &entry.updated, &entry.url,      &entry.note};
        for (int column = 0; column < 6; ++column) {
            row->setText(column, FromCatalogue(*texts[column]));
        }
    }
    if (m_ui->m_listUpdates->topLevelItemCount() > 0) {
        m_ui->m_listUpdates->setCurrentItem(m_ui->m_listUpdates->topLevelItem(0));
    }
    m_ui->m_linkReleaseNotes->SetUrl(DefaultReleaseNotesAddress());
    m_ui->m_linkReleaseNotes->DisableUnderline();
    m_ui->m_linkReleaseNotes->show();
}

CDownLoad::~CDownLoad() = default;

int CDownLoad::SelectedRow() const {
    const auto selected = m_ui->m_listUpdates->selectedItems();
    return selected.isEmpty() ? -1 : m_ui->m_listUpdates->indexOfTopLevelItem(selected.front());
}

QString CDownLoad::ProposedName() const {
    const int row = SelectedRow();
    const QString fileName =
        row < 0 ? QString() : m_ui->m_listUpdates->topLevelItem(row)->text(kFileNameColumn);
    // The catalogue's name is reduced to a plain file name of this directory.
    return fileName.isEmpty() ? QString()
                              : QString::fromStdString(
                                    ProposedFileName(QFile::encodeName(fileName).toStdString()));
}

void CDownLoad::OnItemChanged() {
    const int row = SelectedRow();
    if (row < 0) {
        return;
    }
    m_ui->m_editSaveAs->setText(ProposedName());
    auto& link = *m_ui->m_linkReleaseNotes;
    link.hide();
    // Rows past the release table's 20 slots keep the default notes.
    if (static_cast<std::size_t>(row) < kReleaseSlots) {
        const ReleaseSlot& slot = ReleaseTable[static_cast<std::size_t>(row)];
        link.setText(FromCatalogue(slot.caption));
        link.SetUrl(FromCatalogue(slot.address));
    } else {
        link.setText(QStringLiteral("Kestrion Release Notes"));
        link.SetUrl(DefaultReleaseNotesAddress());
    }
    link.DisableUnderline();
    link.show();
}

void CDownLoad::OnBrowse() {
    if (const auto chosen = m_chooseSaveFile(ProposedName())) {
        m_ui->m_editSaveAs->setText(*chosen);
    }
}

void CDownLoad::OnDownload() {
    m_ui->m_btnDownload->setEnabled(false);
    const int row = SelectedRow();
    const QString address =
        row < 0 ? QString() : m_ui->m_listUpdates->topLevelItem(row)->text(kUrlColumn);
    const QString path = m_ui->m_editSaveAs->text();
    m_ui->m_staticStatus->setText(QStringLiteral("Download:") + address);
    m_ui->m_staticStatus->show();
    QCoreApplication::processEvents();  // the status shows before the transfer blocks

    // The downloaded bytes are checked before they replace the file at the path.
    const std::filesystem::path target = QFile::encodeName(path).toStdString();
    const TransferResult result =
        DownloadUpdateFile(QFile::encodeName(address).toStdString(), target);
    if (result.Rejected()) {
        // The file at the path stays as it was; the main window is given the
        // refused bytes, so that its file information shows the verdict.
        m_ui->m_staticStatus->setText(QStringLiteral("Download failed."));
        if (!result.keptAt.empty()) {
            m_deliverPath(QFile::decodeName(result.keptAt.c_str()));
        }
        m_messageBox(QString::fromStdString(RejectedDownloadText(result, target)));
        m_ui->m_btnDownload->setEnabled(true);
        m_ui->m_staticStatus->hide();
        return;
    }
    if (result.Succeeded()) {
        m_deliverPath(path);
        m_ui->m_btnDownload->setEnabled(true);
        m_ui->m_staticStatus->hide();
        accept();
        return;
    }
    m_ui->m_staticStatus->setText(QStringLiteral("Download failed."));
    m_messageBox(QString::fromStdString(TransferFailureText("Download failed.", result)));
    m_ui->m_btnDownload->setEnabled(true);
    m_ui->m_staticStatus->hide();
}

void OpenDownloadDialog(QWidget* owner, const std::function<void(const QString&)>& deliverPath,
                        const std::function<void(const QString&)>& report,
                        const std::function<void(CDownLoad&)>& beforeRun) {
    if (!FetchCatalogue([&](const std::string& text) { report(QString::fromStdString(text)); })) {
        return;
    }
    CDownLoad dialog(owner, deliverPath);
    if (beforeRun) {
        beforeRun(dialog);
    }
    dialog.exec();
}

}  // namespace velmorin
