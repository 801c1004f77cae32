// SPDX-License-Identifier: MIT
// A static text that works as a link: link, visited and hover colours, an
// optional underline, a hand cursor, the address as its tooltip, and a click
// that opens the address (with the system's handler, else xdg-open started
// without a shell), reporting a failure in a message box. Only http and
// https addresses (or bare host names) are opened. The caption and the
// address are shown as plain text, never as markup.
#pragma once

#include <QColor>
#include <QLabel>
#include <QString>
#include <functional>

#include "session/hyperlink_texts.h"

namespace velmorin {

class HyperlinkLabel : public QLabel {
    Q_OBJECT

public:
    explicit HyperlinkLabel(QWidget* parent = nullptr);

    // Takes over the control as the dialog built it: the address from the
    // text or the text from the address, the font's underline, the size
    // fitted to the text, the hand cursor and the tooltip.
    void SetUp();
    void SetUrl(const QString& url);
    void DisableUnderline();

    const QString& Url() const { return m_url; }
    bool IsVisited() const { return m_visited; }
    bool IsMouseOver() const { return m_mouseOver; }
    QColor CurrentColor() const;

    // Opens the address; false after the failure has been reported.
    bool OpenAddress();
    // Restores the system's way of opening addresses.
    void UseSystemOpener();

    // How an address is opened: a result above kHyperlinkFailureCodes is
    // success, others are failure codes (HyperlinkFailureText). Replaceable
    // for tests.
    using Opener = std::function<int(const QString& url)>;
    void SetOpener(Opener opener) { m_opener = std::move(opener); }
    // How a failure is shown (a message box with the exclamation icon).
    using FailureReporter = std::function<void(const QString& text)>;
    void SetFailureReporter(FailureReporter reporter) { m_reporter = std::move(reporter); }

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void UpdateColor();
    void FitToText();

    QColor m_linkColor{0, 0, 238};
    QColor m_visitedColor{85, 26, 139};
    QColor m_hoverColor;
    bool m_mouseOver = false;
    bool m_visited = false;
    bool m_underline = true;
    bool m_autoSize = true;
    bool m_setUp = false;
    QString m_url;
    Opener m_opener;
    FailureReporter m_reporter;
};

}  // namespace velmorin
