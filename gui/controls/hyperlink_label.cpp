// SPDX-License-Identifier: MIT
// The hyperlink control.
#include "gui/controls/hyperlink_label.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QTextDocument>
#include <QUrl>

namespace velmorin {
namespace {

// The system's handler, then xdg-open as a program of its own (the address
// is one argument, never read by a shell).
int OpenWithSystem(const QString& url) {
    // Addresses come from the maker's catalogue: only web pages are opened
    // (a bare host name is one), never files or other programs' schemes.
    const QUrl address = QUrl::fromUserInput(url);
    if (address.scheme() != QStringLiteral("http") && address.scheme() != QStringLiteral("https")) {
        return 5;  // access denied
    }
    if (QDesktopServices::openUrl(address)) {
        return kHyperlinkOpened;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()) {
        return 31;  // no application to open it with
    }
    return QProcess::startDetached(QStringLiteral("xdg-open"), {url}) ? kHyperlinkOpened : 2;
}

// The address as the tooltip shows it: as it stands, never read as markup
// (addresses come from the catalogue), on one line.
QString AddressTip(const QString& url) {
    return url.isEmpty() ? QString() : Qt::convertFromPlainText(url, Qt::WhiteSpaceNoWrap);
}

}  // namespace

HyperlinkLabel::HyperlinkLabel(QWidget* parent)
    : QLabel(parent),
      m_hoverColor(QApplication::palette().color(QPalette::Highlight)),
      m_opener(OpenWithSystem) {
    // Captions come from the catalogue: shown as they stand, and measured
    // as shown.
    setTextFormat(Qt::PlainText);
    m_reporter = [this](const QString& text) {
        QMessageBox::warning(window(), QApplication::applicationName(), text);
    };
}

void HyperlinkLabel::SetUp() {
    if (m_url.isEmpty()) {
        m_url = text();
    }
    if (text().isEmpty()) {
        setText(m_url);
    }
    QFont underlined = font();
    underlined.setUnderline(m_underline);
    setFont(underlined);
    setCursor(Qt::PointingHandCursor);
    setToolTip(AddressTip(m_url));
    m_setUp = true;
    FitToText();
    UpdateColor();
}

void HyperlinkLabel::SetUrl(const QString& url) {
    m_url = url;
    if (m_setUp) {
        FitToText();
        setToolTip(AddressTip(m_url));
    }
}

void HyperlinkLabel::DisableUnderline() {
    m_underline = false;
    if (m_setUp) {
        QFont plain = font();
        plain.setUnderline(false);
        setFont(plain);
        update();
    }
}

QColor HyperlinkLabel::CurrentColor() const {
    return m_mouseOver ? m_hoverColor : m_visited ? m_visitedColor : m_linkColor;
}

void HyperlinkLabel::UpdateColor() {
    QPalette colors = palette();
    colors.setColor(QPalette::WindowText, CurrentColor());
    setPalette(colors);
    update();
}

// Shrinks or grows the control to its text, keeping its alignment's anchor:
// a centred control stays on its centre, a right-aligned one on its right.
void HyperlinkLabel::FitToText() {
    if (!m_autoSize) {
        return;
    }
    const QFontMetrics metrics(font());
    const int textWidth = metrics.horizontalAdvance(text());
    const int textHeight = metrics.height();
    QRect area = geometry();
    if ((alignment() & Qt::AlignVCenter) != 0) {
        const int shrink = (area.height() - textHeight) / 2;
        area.adjust(0, shrink, 0, -shrink);
    } else {
        area.setHeight(textHeight);
    }
    if ((alignment() & Qt::AlignHCenter) != 0) {
        const int shrink = (area.width() - textWidth) / 2;
        area.adjust(shrink, 0, -shrink, 0);
    } else if ((alignment() & Qt::AlignRight) != 0) {
        area.setLeft(area.right() - textWidth + 1);
    } else {
        area.setWidth(textWidth);
    }
    setGeometry(area);
}

bool HyperlinkLabel::OpenAddress() {
    const int result = m_opener(m_url);
    m_visited = result > kHyperlinkFailureCodes;
    UpdateColor();
    if (!m_visited) {
        QApplication::beep();
        m_reporter(QString::fromStdString(HyperlinkFailureText(result)));
    }
    return m_visited;
}

void HyperlinkLabel::UseSystemOpener() {
    m_opener = OpenWithSystem;
}

void HyperlinkLabel::enterEvent(QEnterEvent* event) {
    QLabel::enterEvent(event);
    m_mouseOver = true;
    UpdateColor();
}

void HyperlinkLabel::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    m_mouseOver = false;
    UpdateColor();
}

void HyperlinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        OpenAddress();
    }
}

}  // namespace velmorin
