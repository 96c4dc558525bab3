#include "ostraui/busybutton.h"

#include <QTimer>

#include "ostraui/spinner.h"

namespace ostra {

BusyButton::BusyButton(const QString &text, QWidget *parent)
    : QPushButton(text, parent)
    , m_spinner(new Spinner(this))
{
    m_spinner->hide();
}

void BusyButton::setBusy(bool busy, const QString &busyText)
{
    if (busy == m_busy)
        return;
    if (!busy) {
        leaveBusy();
        return;
    }
    m_busy = true;
    m_savedText = text();
    setText(QStringLiteral("      ") + (busyText.isEmpty() ? m_savedText : busyText));
    m_spinner->show();
    setEnabled(false);
    update();
}

void BusyButton::setBusyFor(const QString &busyText, int ms)
{
    setBusy(true, busyText);
    QTimer::singleShot(ms, this, [this] {
        if (m_busy)
            leaveBusy();
    });
}

void BusyButton::leaveBusy()
{
    m_busy = false;
    setText(m_savedText);
    m_spinner->hide();
    setEnabled(true);
    update();
}

void BusyButton::paintEvent(QPaintEvent *event)
{
    QPushButton::paintEvent(event);
    if (!m_busy)
        return;
    const QFontMetrics metrics(font());
    const int x = (width() - metrics.horizontalAdvance(text())) / 2
                  + metrics.horizontalAdvance(QStringLiteral("  "));
    m_spinner->move(x, (height() - m_spinner->height()) / 2);
}

} // namespace ostra
