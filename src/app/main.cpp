// SPDX-License-Identifier: MIT
// velmorin: the operator's window.
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

#include "app/application.h"
#include "app/main_dialog.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QString baseName = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    QApplication::setApplicationName(baseName);

    velmorin::StartupHooks hooks;
    hooks.showMessage = [&](const QString& text) { QMessageBox::warning(nullptr, baseName, text); };
    hooks.runMainDialog = [] {
        velmorin::CvelmorinDlg dialog;
        dialog.exec();
    };
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    velmorin::RunStartup(arguments, baseName, hooks);
    return 0;
}
