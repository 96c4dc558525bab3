#include "ostraui/titlebar.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWindow>

#include "ostraui/alphacolor.h"
#include "ostraui/hoverbutton.h"
#include "ostraui/theme.h"

namespace ostra {

// Minimise (0), maximise or restore (1) and close (2).
class WinButton : public HoverButton
{
public:
    WinButton(int kind, QWidget *parent)
        : HoverButton(parent)
        , m_kind(kind)
    {
        setFixedSize(46, 38);
        setFocusPolicy(Qt::NoFocus);
    }

    void setMaximized(bool maximized)
    {
        m_maximized = maximized;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QColor ink = ThemeColors::textSecondary;
        if (isHovered()) {
            if (m_kind == 2) {
                p.fillRect(rect(), QColor(0xE5, 0x26, 0x2B));
                ink = Qt::white;
            } else {
                p.fillRect(rect(), withAlpha(ThemeColors::ink, 0.06));
            }
        }
        p.setBrush(Qt::NoBrush);
        const QPointF c = QRectF(rect()).center();
        switch (m_kind) {
        case 0:
            p.setPen(QPen(ink, 1));
            p.drawLine(QPointF(c.x() - 5, c.y() + 0.5), QPointF(c.x() + 5, c.y() + 0.5));
            break;
        case 1:
            p.setPen(QPen(ink, 1));
            if (!m_maximized) {
                p.drawRoundedRect(QRectF(c.x() - 4.5, c.y() - 4.5, 9, 9), 2, 2);
            } else {
                p.drawRoundedRect(QRectF(c.x() - 4.5, c.y() - 2.5, 7.5, 7.5), 1.5, 1.5);
                QPainterPath back(QPointF(c.x() - 2.5, c.y() - 4.5));
                back.lineTo(c.x() + 3.5, c.y() - 4.5);
                back.quadTo(QPointF(c.x() + 5, c.y() - 4.5), QPointF(c.x() + 5, c.y() - 3));
                back.lineTo(c.x() + 5, c.y() + 3);
                p.drawPath(back);
            }
            break;
        default:
            p.setPen(QPen(ink, 1.1));
            p.drawLine(QPointF(c.x() - 5, c.y() - 5), QPointF(c.x() + 5, c.y() + 5));
            p.drawLine(QPointF(c.x() + 5, c.y() - 5), QPointF(c.x() - 5, c.y() + 5));
            break;
        }
    }

private:
    int m_kind;
    bool m_maximized = false;
};

TitleBar::TitleBar(QWidget *window, QWidget *parent)
    : QWidget(parent)
    , m_window(window)
{
    setFixedHeight(38);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addStretch();
    const char *const tips[] = {QT_TRANSLATE_NOOP("ostra::TitleBar", "Minimize"),
                                QT_TRANSLATE_NOOP("ostra::TitleBar", "Maximize"),
                                QT_TRANSLATE_NOOP("ostra::TitleBar", "Close")};
    for (int kind = 0; kind < 3; ++kind) {
        auto *button = new WinButton(kind, this);
        button->setToolTip(tr(tips[kind]));
        layout->addWidget(button);
        m_buttons.append(button);
    }
    connect(m_buttons[0], &WinButton::clicked, this, &TitleBar::minimizeRequested);
    connect(m_buttons[1], &WinButton::clicked, this, &TitleBar::maximizeRequested);
    connect(m_buttons[2], &WinButton::clicked, this, &TitleBar::closeRequested);
    if (m_window)
        m_window->installEventFilter(this);
}

bool TitleBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::WindowTitleChange)
        update();
    return QWidget::eventFilter(watched, event);
}

bool TitleBar::hitsButton(const QPoint &p) const
{
    for (const WinButton *button : m_buttons) {
        if (button->isVisibleTo(this) && button->geometry().contains(p))
            return true;
    }
    return false;
}

void TitleBar::updateMaximizeButton()
{
    if (m_buttons.size() < 2)
        return;
    const bool maximized = m_window && m_window->isMaximized();
    m_buttons[1]->setMaximized(maximized);
    m_buttons[1]->setToolTip(maximized ? tr("Restore") : tr("Maximize"));
}

void TitleBar::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_pressed = true;
        m_pressPos = event->globalPosition().toPoint();
    }
    QWidget::mousePressEvent(event);
}

void TitleBar::mouseMoveEvent(QMouseEvent *event)
{
    if (m_pressed && (event->buttons() & Qt::LeftButton)
        && (event->globalPosition().toPoint() - m_pressPos).manhattanLength() >= QApplication::startDragDistance()) {
        m_pressed = false;
        if (m_window && m_window->windowHandle())
            m_window->windowHandle()->startSystemMove();
    }
    QWidget::mouseMoveEvent(event);
}

void TitleBar::mouseReleaseEvent(QMouseEvent *event)
{
    m_pressed = false;
    QWidget::mouseReleaseEvent(event);
}

void TitleBar::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit maximizeRequested();
    QWidget::mouseDoubleClickEvent(event);
}

void TitleBar::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xE5, 0x26, 0x2B));
    p.drawRoundedRect(QRectF(16, height() / 2.0 - 4, 8, 8), 2, 2);
    if (!m_window)
        return;
    p.setFont(uiFont(12.5, 500));
    p.setPen(ThemeColors::textSecondary);
    p.drawText(QRectF(34, 0, width() - 200, height()), Qt::AlignLeft | Qt::AlignVCenter,
               m_window->windowTitle());
}

} // namespace ostra
