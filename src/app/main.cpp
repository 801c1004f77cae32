// SPDX-License-Identifier: MIT
// The operator's window. For now an empty dialog; the controls come with the
// main dialog.
#include <QApplication>
#include <QDialog>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Kestrion Firmware Update"));
    dialog.resize(480, 320);
    dialog.show();
    return app.exec();
}
