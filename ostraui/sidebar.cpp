#include "ostraui/sidebar.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include "ostraui/alphacolor.h"
#include "ostraui/brandlogo.h"
#include "ostraui/dot.h"
#include "ostraui/focusring.h"
#include "ostraui/hoverbutton.h"
#include "ostraui/navbutton.h"
#include "ostraui/shadowlayer.h"
#include "ostraui/theme.h"

namespace ostra {

namespace {

constexpr int kExpandedWidth = 236;
constexpr int kCollapsedWidth = 76;
// Room around an entry for the highlight's shadow.
constexpr int kHighlightMargin = 14;

QString trSidebar(const char *text)
{
    return QCoreApplication::translate("ostra::Sidebar", text);
}

} // namespace

// The collapse button in the sidebar's footer.
class Hamburger : public HoverButton
{
public:
    explicit Hamburger(QWidget *parent)
        : HoverButton(parent)
    {
        setFixedSize(28, 28);
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = rect();
        paintShadow(&p, r, 8, 1, 2, 0, withAlpha(ThemeColors::shadow, 0.08));
        p.setPen(Qt::NoPen);
        p.setBrush(isHovered() ? ThemeColors::hairline : ThemeColors::surface);
        p.drawRoundedRect(r, 8, 8);
        p.setBrush(ThemeColors::textHover);
        for (int k = -1; k <= 1; ++k)
            p.drawRoundedRect(QRectF(8, 13.25 + 4.5 * k, 12, 1.5), 1, 1);
        if (showsFocusRing(this))
            paintFocusRing(&p, r, 8);
    }
};

// The sliding block under the current entry.
class Highlight : public QWidget
{
public:
    explicit Highlight(QWidget *parent)
        : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(kHighlightMargin, kHighlightMargin, -kHighlightMargin,
                                                 -kHighlightMargin);
        paintShadow(&p, r, 10, 6, 16, -6, withAlpha(ThemeColors::shadow, 0.35));
        p.setPen(Qt::NoPen);
        p.setBrush(ThemeColors::ink);
        p.drawRoundedRect(r, 10, 10);
    }
};

Sidebar::Sidebar(const QString &versionText, QWidget *parent)
    : QFrame(parent)
    , m_highlightAnimation(new QVariantAnimation(this))
    , m_widthAnimation(new QVariantAnimation(this))
{
    setObjectName(QStringLiteral("sidebar"));
    setFixedWidth(kExpandedWidth);
    setAttribute(Qt::WA_TranslucentBackground);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    auto *brand = new QWidget(this);
    auto *brandLayout = new QVBoxLayout(brand);
    brandLayout->setContentsMargins(20, 22, 20, 18);
    brandLayout->setSpacing(4);
    m_logo = new QLabel(brand);
    m_logo->setPixmap(brandLogoPixmap(150, false));
    m_mark = new QLabel(brand);
    m_mark->setPixmap(brandLogoPixmap(36, true));
    m_mark->setAlignment(Qt::AlignCenter);
    m_mark->hide();
    m_wordmark = new QLabel(QStringLiteral("OSTRA"), brand);
    m_wordmark->setFont(uiFont(12, 500));
    m_wordmark->setStyleSheet(
        QStringLiteral("color: %1; letter-spacing: 2px;").arg(colorHex(ThemeColors::textMuted)));
    brandLayout->addWidget(m_logo);
    brandLayout->addWidget(m_mark);
    brandLayout->addWidget(m_wordmark);
    outer->addWidget(brand);

    m_navContainer = new QWidget(this);
    auto *navLayout = new QVBoxLayout(m_navContainer);
    navLayout->setContentsMargins(10, 6, 10, 6);
    navLayout->setSpacing(2);
    m_highlight = new Highlight(m_navContainer);
    const char *const pages[] = {QT_TRANSLATE_NOOP("ostra::Sidebar", "Dashboard"),
                                 QT_TRANSLATE_NOOP("ostra::Sidebar", "Motion System"),
                                 QT_TRANSLATE_NOOP("ostra::Sidebar", "Corvane"),
                                 QT_TRANSLATE_NOOP("ostra::Sidebar", "Race control")};
    for (const char *page : pages) {
        auto *item = new NavButton(trSidebar(page), m_navContainer);
        const int index = int(m_items.size());
        connect(item, &NavButton::clicked, this, [this, index] { emit navigate(index); });
        navLayout->addWidget(item);
        m_items.append(item);
    }
    m_navContainer->installEventFilter(this);
    outer->addWidget(m_navContainer);
    outer->addStretch(1);

    auto *bottom = new QWidget(this);
    auto *bottomLayout = new QVBoxLayout(bottom);
    bottomLayout->setContentsMargins(10, 10, 10, 10);
    bottomLayout->setSpacing(6);
    const bool dark = isDarkTheme();
    m_themeToggle = new NavButton(dark ? trSidebar("Light mode") : trSidebar("Dark mode"), bottom);
    m_themeToggle->setToolTip(dark ? trSidebar("Switch to the light theme") : trSidebar("Switch to the dark theme"));
    m_themeToggle->setIconKind(dark ? NavButton::Sun : NavButton::Moon);
    connect(m_themeToggle, &NavButton::clicked, this, &Sidebar::themeToggleRequested);
    m_info = new NavButton(trSidebar("Info"), bottom);
    m_info->setIconKind(NavButton::InfoIcon);
    connect(m_info, &NavButton::clicked, this, &Sidebar::infoRequested);

    auto *footer = new QFrame(bottom);
    footer->setStyleSheet(QStringLiteral("QFrame { background: %1; border-radius: 12px; }")
                              .arg(colorHex(ThemeColors::windowBg)));
    auto *footerLayout = new QHBoxLayout(footer);
    footerLayout->setContentsMargins(12, 12, 12, 12);
    footerLayout->setSpacing(10);
    auto *hamburger = new Hamburger(footer);
    hamburger->setToolTip(trSidebar("Collapse / expand the sidebar"));
    connect(hamburger, &Hamburger::clicked, this, [this] { setCollapsed(!m_collapsed, true); });
    m_versionLabel = new QLabel(versionText, footer);
    m_versionLabel->setFont(monoFont(12, 400));
    m_versionLabel->setStyleSheet(
        QStringLiteral("color: %1; background: transparent;").arg(colorHex(ThemeColors::textMuted)));
    footerLayout->addWidget(hamburger);
    footerLayout->addWidget(m_versionLabel, 1);

    bottomLayout->addWidget(m_themeToggle);
    bottomLayout->addWidget(m_info);
    bottomLayout->addWidget(footer);
    outer->addWidget(bottom);

    m_highlightAnimation->setEasingCurve(motionCurve());
    connect(m_highlightAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { m_highlight->setGeometry(value.toRect()); });

    QEasingCurve widthCurve(QEasingCurve::BezierSpline);
    widthCurve.addCubicBezierSegment(QPointF(0.2, 0.7), QPointF(0.2, 1.0), QPointF(1.0, 1.0));
    m_widthAnimation->setEasingCurve(widthCurve);
    connect(m_widthAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { setFixedWidth(value.toInt()); });
    connect(m_widthAnimation, &QVariantAnimation::finished, this, &Sidebar::onCollapseFinished);

    m_items.first()->setActive(true);
    moveHighlight(false);
}

QList<NavButton *> Sidebar::allEntries() const
{
    return m_items + QList<NavButton *>{m_info, m_themeToggle};
}

void Sidebar::setCurrentIndex(int index, bool animated)
{
    m_current = index;
    for (int i = 0; i < m_items.size(); ++i)
        m_items[i]->setActive(i == index);
    m_info->setActive(index < 0);
    moveHighlight(animated);
}

void Sidebar::setItemIndicator(int index, bool on)
{
    if (index < 0 || index >= m_items.size())
        return;
    Dot *dot = m_items[index]->dot();
    dot->setProperty("on", on);
    dot->setPulsing(on, 1200);
    dot->setVisible(on && !m_collapsed);
}

void Sidebar::setCollapsed(bool collapsed, bool animated)
{
    if (collapsed == m_collapsed)
        return;
    m_collapsed = collapsed;
    if (collapsed) {
        m_logo->hide();
        m_wordmark->hide();
        m_versionLabel->hide();
        for (NavButton *entry : allEntries()) {
            entry->setCollapsed(true);
            entry->dot()->hide();
        }
    }
    m_mark->setVisible(collapsed);

    m_widthAnimation->stop();
    const int target = collapsed ? kCollapsedWidth : kExpandedWidth;
    if (animated && animationsEnabled()) {
        m_widthAnimation->setDuration(animDuration(300));
        m_widthAnimation->setStartValue(width());
        m_widthAnimation->setEndValue(target);
        m_widthAnimation->start();
        return;
    }
    setFixedWidth(target);
    onCollapseFinished();
}

void Sidebar::onCollapseFinished()
{
    if (!m_collapsed) {
        m_logo->show();
        m_wordmark->show();
        m_versionLabel->show();
        for (NavButton *entry : allEntries()) {
            entry->setCollapsed(false);
            entry->dot()->setVisible(entry->dot()->property("on").toBool());
        }
    }
    moveHighlight(false);
}

void Sidebar::moveHighlight(bool animated)
{
    if (m_current < 0 || m_current >= m_items.size()) {
        m_highlightAnimation->stop();
        m_highlight->hide();
        return;
    }
    const QRect target = m_items[m_current]->geometry().adjusted(-kHighlightMargin, -kHighlightMargin,
                                                                 kHighlightMargin, kHighlightMargin);
    const bool wasVisible = m_highlight->isVisible();
    m_highlight->show();
    m_highlight->lower();
    m_highlightAnimation->stop();
    if (animated && wasVisible && animationsEnabled()) {
        m_highlightAnimation->setDuration(animDuration(360));
        m_highlightAnimation->setStartValue(m_highlight->geometry());
        m_highlightAnimation->setEndValue(target);
        m_highlightAnimation->start();
        return;
    }
    m_highlight->setGeometry(target);
}

bool Sidebar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_navContainer
        && (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest))
        moveHighlight(false);
    return QFrame::eventFilter(watched, event);
}

void Sidebar::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(ThemeColors::borderLight, 1));
    p.setBrush(withAlpha(ThemeColors::surface, 0.72));
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 18, 18);
}

} // namespace ostra
