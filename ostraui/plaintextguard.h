#pragma once

#include <QObject>
#include <QString>

namespace ostra {

// Shows text as written unless a widget asks for markup: labels, message boxes (their text and
// their informative text), input boxes and tool tips that hold a name, a port, a device's or the
// network's text would otherwise take `<b>` as bold and `<img src=…>` as a file to read on the GUI
// thread. A label or box that shows our own markup says so with Qt::RichText and escapes what it
// takes from outside. Installed on the application by the theme.
class PlainTextGuard : public QObject
{
    Q_OBJECT

public:
    explicit PlainTextGuard(QObject *parent);
    bool eventFilter(QObject *watched, QEvent *event) override;
};

// The text of a menu entry, a button or a tab that shows `text` as written: Qt takes '&' for the
// mark of a shortcut key there.
QString plainActionText(const QString &text);

// The tool tip text that shows `text` as written: Qt takes any tip that looks like markup for it.
// For tips shown by hand (QToolTip::showText, an item's tool tip); a widget's own tip needs none.
QString plainToolTip(const QString &text);

// `text` set apart for the program's own words after it: a direction override or embedding in a
// device's, a file's or the network's name ends with the name, and a right-to-left name keeps
// its own direction without turning what follows.
QString isolatedText(const QString &text);

} // namespace ostra
