#include "ostraui/channelcell.h"

#include <QLabel>
#include <QVBoxLayout>

#include "ostraui/theme.h"
#include "ostraui/vmeter.h"

namespace ostra {

namespace {

// The size of the value under the bar, in pixels.
constexpr double ValuePx = 11;

void setTextColor(QLabel *label, const QColor &color)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

} // namespace

ChannelCell::ChannelCell(int channel, QWidget *parent)
    : QFrame(parent)
    , m_name(new QLabel(QStringLiteral("CH%1").arg(channel), this))
    , m_bar(new VMeter(this, 10))
    , m_value(new QLabel(this))
{
    setProperty("tile", true);
    setFixedHeight(132);
    setMinimumWidth(60);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 12, 6, 10);
    layout->setSpacing(8);

    m_name->setAlignment(Qt::AlignCenter);
    m_name->setFont(uiFont(11.5, 600));
    m_bar->setRadius(5);
    m_bar->setTrackColor(ThemeColors::borderLight);
    m_bar->setColor(ThemeColors::accent);
    m_value->setAlignment(Qt::AlignCenter);
    m_value->setFont(monoFont(ValuePx, 400));
    // Rewritten on every tick while transmitting: at a fixed size a new number repaints the label
    // alone instead of laying out the whole page around the grid again.
    m_value->setFixedSize(48, m_value->fontMetrics().height());

    layout->addWidget(m_name);
    layout->addWidget(m_bar, 1, Qt::AlignHCenter);
    layout->addWidget(m_value, 0, Qt::AlignHCenter);

    setValue(-1);
}

void ChannelCell::setValue(int us)
{
    // The colours change with the signal, not with every value: palettes are set on that change only.
    const bool live = us >= 0;
    if (live != m_live) {
        m_live = live;
        setTextColor(m_name, live ? ThemeColors::ink : ThemeColors::textMuted);
        setTextColor(m_value, live ? ThemeColors::textSecondary : ThemeColors::textMuted);
    }
    if (!live) {
        setReadoutText(m_value, QStringLiteral("\u2014"), ValuePx, 400);
        m_bar->setValue(0);
        return;
    }
    setReadoutText(m_value, QString::number(us), ValuePx, 400);
    m_bar->setValue((us - 1000) / 1000.0);
}

} // namespace ostra
