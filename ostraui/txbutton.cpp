#include "ostraui/txbutton.h"

#include "ostraui/dot.h"
#include "ostraui/theme.h"

namespace ostra {

TxButton::TxButton(QWidget *parent)
    : QPushButton(parent)
    , m_dot(new Dot(this, 8))
{
    setProperty("big", true);
    m_dot->setColor(Qt::white);
    m_dot->hide();
    setState(TxLocked);
}

void TxButton::setState(int state)
{
    m_state = state;
    switch (state) {
    case TxLocked:
    case TxGo:
        setText(tr("Start transmission"));
        setEnabled(state == TxGo);
        setStyleState(this, "txState", state == TxGo ? QStringLiteral("go") : QStringLiteral("locked"));
        m_dot->setPulsing(false);
        m_dot->hide();
        break;
    case TxStop:
        setText(QStringLiteral("     ") + tr("Stop transmission"));
        setEnabled(true);
        setStyleState(this, "txState", QStringLiteral("stop"));
        m_dot->show();
        m_dot->setPulsing(true, 1200);
        break;
    default:
        break;
    }
    setCursor(state > TxLocked ? Qt::PointingHandCursor : Qt::ForbiddenCursor);
    placeDot();
}

void TxButton::resizeEvent(QResizeEvent *event)
{
    QPushButton::resizeEvent(event);
    placeDot();
}

void TxButton::placeDot()
{
    const int w = QFontMetrics(uiFont(15, 600)).horizontalAdvance(text().trimmed());
    m_dot->move((width() - w) / 2 - 12, (height() - m_dot->height()) / 2);
}

} // namespace ostra
