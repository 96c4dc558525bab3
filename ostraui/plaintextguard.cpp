#include "ostraui/plaintextguard.h"

#include <QHelpEvent>
#include <QLabel>
#include <QMessageBox>
#include <QTextDocument>
#include <QToolTip>

namespace ostra {

PlainTextGuard::PlainTextGuard(QObject *parent)
    : QObject(parent)
{
}

bool PlainTextGuard::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Polish:
        // Before the first layout, which is when a label's markup would load its images.
        if (auto *box = qobject_cast<QMessageBox *>(watched)) {
            if (box->textFormat() == Qt::AutoText)
                box->setTextFormat(Qt::PlainText);
            // The box's format does not reach the label of its informative text.
            if (auto *informative = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
                informative->setTextFormat(box->textFormat());
        } else if (auto *label = qobject_cast<QLabel *>(watched)) {
            // A tool tip's label is Qt's own; tips are kept plain as they are shown.
            if (label->textFormat() == Qt::AutoText && label->windowType() != Qt::ToolTip)
                label->setTextFormat(Qt::PlainText);
        }
        break;
    case QEvent::ToolTip:
        if (auto *widget = qobject_cast<QWidget *>(watched)) {
            const QString tip = widget->toolTip();
            if (Qt::mightBeRichText(tip)) {
                QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), plainToolTip(tip), widget, QRect(),
                                   widget->toolTipDuration());
                return true;
            }
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

QString plainActionText(const QString &text)
{
    return QString(text).replace(QLatin1Char('&'), QLatin1String("&&"));
}

QString plainToolTip(const QString &text)
{
    // Kept on its lines, as a plain tip is.
    return Qt::mightBeRichText(text) ? QStringLiteral("<p style='white-space:pre'>%1</p>").arg(text.toHtmlEscaped())
                                     : text;
}

QString isolatedText(const QString &text)
{
    // First strong isolate ... pop directional isolate: the text takes the direction of its own
    // first letter, and whatever it opens ends with it. An isolate the text ends before opening it
    // gets an opening of its own, so that it cannot end ours; one it leaves open is ended too.
    int open = 0;
    int endedFirst = 0;
    for (const QChar c : text) {
        if (c.unicode() >= 0x2066 && c.unicode() <= 0x2068)
            ++open;
        else if (c.unicode() == 0x2069)
            open > 0 ? --open : ++endedFirst;
    }
    return QString(endedFirst + 1, QChar(0x2068)) + text + QString(open + 1, QChar(0x2069));
}

} // namespace ostra
