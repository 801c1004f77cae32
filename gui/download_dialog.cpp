// SPDX-License-Identifier: MIT
// The download dialog on Qt Widgets.
#include "gui/download_dialog.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>

#include "gui/dialog_units.h"
#include "gui/pictures.h"
#include "ui_download_dialog.h"

namespace velmorin {
namespace {

// Columns of the update list: heading and initial width in pixels.
constexpr std::pair<const char*, int> kColumns[] = {
    {"Type", 70}, {"File name", 135}, {"Ver", 50}, {"Updated", 70}, {"URL", 300}, {"Note", 100}};

// The one filter of the save chooser: its text shown once, its pattern *.bin.
constexpr char kUpdateFileFilter[] = "Kestrion Update File(*.bin)";

QString FileNameText(const std::string& name) {
    return QFile::decodeName(QByteArray::fromStdString(name));
}

}  // namespace

DownloadDialog::DownloadDialog(QWidget* parent, CatalogueContents contents,
                               DownloadFlow::DeliverPath deliverPath)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::DownloadDialog>()),
      m_flow(static_cast<DownloadView&>(*this), std::move(contents), std::move(deliverPath)) {
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
    m_ui->m_statusLabel->hide();
    m_ui->m_releaseNotesLink->SetUp();

    QStringList headings;
    for (const auto& [heading, width] : kColumns) {
        headings << QString::fromLatin1(heading);
    }
    m_ui->m_updateList->setHeaderLabels(headings);
    for (int column = 0; column < static_cast<int>(std::size(kColumns)); ++column) {
        m_ui->m_updateList->header()->resizeSection(column, kColumns[column].second);
    }
    connect(m_ui->m_updateList, &QTreeWidget::itemSelectionChanged, this,
            [this] { m_flow.OnItemChanged(); });
    connect(m_ui->m_browseButton, &QPushButton::clicked, this, [this] { m_flow.OnBrowse(); });
    connect(m_ui->m_downloadButton, &QPushButton::clicked, this, [this] { m_flow.OnDownload(); });
    connect(m_ui->m_exitButton, &QPushButton::clicked, this, &QDialog::reject);
    m_flow.Start();
}

DownloadDialog::~DownloadDialog() = default;

void DownloadDialog::SetRows(const std::vector<std::vector<std::string>>& rows) {
    m_ui->m_updateList->clear();
    for (const auto& texts : rows) {
        auto* row = new QTreeWidgetItem(m_ui->m_updateList);
        for (std::size_t column = 0; column < texts.size(); ++column) {
            row->setText(static_cast<int>(column), QString::fromStdString(texts[column]));
        }
    }
}

void DownloadDialog::SelectRow(int row) {
    m_ui->m_updateList->setCurrentItem(m_ui->m_updateList->topLevelItem(row));
}

int DownloadDialog::SelectedRow() {
    const auto selected = m_ui->m_updateList->selectedItems();
    return selected.isEmpty() ? -1 : m_ui->m_updateList->indexOfTopLevelItem(selected.front());
}

std::string DownloadDialog::SaveAsText() {
    return QFile::encodeName(m_ui->m_saveAsEdit->text()).toStdString();
}

void DownloadDialog::SetSaveAsText(const std::string& text) {
    m_ui->m_saveAsEdit->setText(FileNameText(text));
}

void DownloadDialog::ShowReleaseLink(const std::optional<std::string>& caption,
                                     const std::string& address) {
    auto& link = *m_ui->m_releaseNotesLink;
    if (caption) {
        link.hide();
        link.setText(QString::fromStdString(*caption));
    }
    link.SetUrl(QString::fromStdString(address));
    link.DisableUnderline();
    link.show();
}

void DownloadDialog::EnableDownloadButton(bool enabled) {
    m_ui->m_downloadButton->setEnabled(enabled);
}

void DownloadDialog::ShowStatus(bool visible) {
    m_ui->m_statusLabel->setVisible(visible);
}

void DownloadDialog::SetStatusText(const std::string& text) {
    m_ui->m_statusLabel->setText(QString::fromStdString(text));
}

void DownloadDialog::Refresh() {
    QCoreApplication::processEvents();
}

std::optional<std::string> DownloadDialog::ChooseSaveFile(const std::string& proposedName) {
    const auto chosen = m_chooseSaveFile(FileNameText(proposedName));
    if (!chosen) {
        return std::nullopt;
    }
    return QFile::encodeName(*chosen).toStdString();
}

void DownloadDialog::ShowMessageBox(std::string_view text) {
    m_messageBox(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void DownloadDialog::Accept() {
    accept();
}

}  // namespace velmorin
