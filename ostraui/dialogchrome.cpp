#include "ostraui/dialogchrome.h"

#include <QAbstractButton>
#include <QBackingStore>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QGuiApplication>
#include <QHash>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <QWindow>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "ostraui/alphacolor.h"
#include "ostraui/compositing.h"
#include "ostraui/dialogkeyboard.h"
#include "ostraui/focusring.h"
#include "ostraui/screenfit.h"
#include "ostraui/shadowlayer.h"
#include "ostraui/theme.h"
#include "ostraui/tickpace.h"

namespace ostra {

namespace {

// Room around the card for its shadow, and the header's height allowance.
constexpr int kExtraWidth = 56;
constexpr int kExtraHeight = 124;
const QMargins kShadowRoom(28, 18, 28, 44);
// The dialog's own content, inset as the header's title is.
const QMargins kContentInset(24, 10, 24, 20);
// The least of the content a tiny screen still shows above the footer; the rest scrolls.
constexpr int kMinVisibleContent = 96;
// How far the dialog rises into place while it fades in.
constexpr int kRise = 12;

bool isButtonRow(QLayout *layout)
{
    bool hasButton = false;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->spacerItem())
            continue;
        if (!qobject_cast<QAbstractButton *>(item->widget()))
            return false;
        hasButton = true;
    }
    return hasButton;
}

// Takes the dialog's bottom button bar out of its layout, so that it stays in view below the
// scrolling content: a button box, a bar named "dlgFooter", or a row of buttons only.
QLayoutItem *takeFooter(QLayout *layout)
{
    auto *box = qobject_cast<QBoxLayout *>(layout);
    if (!box || box->direction() != QBoxLayout::TopToBottom || box->count() < 2)
        return nullptr;
    QLayoutItem *last = box->itemAt(box->count() - 1);
    QWidget *widget = last->widget();
    const bool footer = (widget && (qobject_cast<QDialogButtonBox *>(widget)
                                    || widget->objectName() == QLatin1String("dlgFooter")))
                        || (last->layout() && isButtonRow(last->layout()));
    return footer ? box->takeAt(box->count() - 1) : nullptr;
}

// The card's content: it keeps its natural height and scrolls when the card is shorter.
class CardScroll : public QScrollArea
{
public:
    CardScroll(QWidget *content, QWidget *parent)
        : QScrollArea(parent)
        , m_content(content)
    {
        setObjectName(QStringLiteral("ostraDialogScroll"));
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setWidgetResizable(false);
        setWidget(content);
        makeScrollBody(this);
        content->installEventFilter(this);
    }

    QSize sizeHint() const override
    {
        const int width = std::max(m_content->sizeHint()
                                       .expandedTo(m_content->minimumSizeHint())
                                       .expandedTo(m_content->minimumSize())
                                       .width(),
                                   dialogLeastWidth());
        return QSize(width, naturalHeight(width));
    }

    QSize minimumSizeHint() const override
    {
        const int least = m_content->minimumSizeHint().expandedTo(m_content->minimumSize()).width();
        const int width = least + verticalScrollBar()->sizeHint().width();
        // Short content never scrolls (a message box takes its minimum size); taller content
        // gives way down to half the screen, below which the screen itself is too short.
        const int room = std::max(kMinVisibleContent, availableArea(this).height() / 2);
        return QSize(width, std::min(room, naturalHeight(std::max(width, dialogLeastWidth()))));
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const bool handled = QScrollArea::eventFilter(watched, event);
        if (watched == m_content && event->type() == QEvent::LayoutRequest) {
            updateGeometry();
            // Measuring all the content takes milliseconds, and a dialog being built asks for it
            // again and again: while hidden, once as it shows.
            if (isVisible())
                layoutContent();
            else
                m_contentStale = true;
        }
        return handled;
    }

    // The dialog chose its own least width, wider than its content may ask.
    void setDialogSetsWidth(bool sets) { m_dialogSetsWidth = sets; }

    // The narrowest a least width the dialog chose lets the content be: wrapped text laid out no
    // narrower takes no more lines, so heights asked at a narrower width leave an empty band.
    // A least width the layout derives from the content is the content's own.
    int dialogLeastWidth() const
    {
        const QWidget *dialog = parentWidget();
        if (!m_dialogSetsWidth || !dialog || !dialog->layout()
            || dialog->layout()->sizeConstraint() != QLayout::SetDefaultConstraint)
            return 0;
        const QMargins margins = dialog->layout()->contentsMargins();
        return dialog->minimumWidth() - margins.left() - margins.right();
    }

    // The height that shows all of the content at that width.
    int naturalHeight(int width) const
    {
        const int hinted = m_content->hasHeightForWidth() ? m_content->heightForWidth(width)
                                                           : m_content->sizeHint().height();
        return std::max({hinted, m_content->minimumSizeHint().height(), m_content->minimumHeight()});
    }

protected:
    bool viewportEvent(QEvent *event) override
    {
        if (event->type() == QEvent::Resize)
            layoutContent();
        return QScrollArea::viewportEvent(event);
    }

    void showEvent(QShowEvent *event) override
    {
        if (m_contentStale)
            layoutContent();
        QScrollArea::showEvent(event);
    }

private:
    void layoutContent()
    {
        m_contentStale = false;
        int width = viewport()->width();
        // Content that fits once the scroll bar has gone is laid out at the width it then has: at
        // the narrower width it would stay taller than the area and keep the bar for ever.
        if (QScrollBar *bar = verticalScrollBar(); bar->isVisible()) {
            const int wider = width + bar->width();
            if (naturalHeight(wider) <= viewport()->height())
                width = wider;
        }
        const QSize size(width, std::max(naturalHeight(width), viewport()->height()));
        if (m_content->size() != size)
            m_content->resize(size);
    }

    QWidget *m_content;
    bool m_dialogSetsWidth = false;
    bool m_contentStale = false;
};

void paintCardShadow(QPainter *painter, const QRectF &card)
{
    const QColor shadow = ThemeColors::shadow;
    paintShadow(painter, card, 20, 20, 44, -14, withAlpha(shadow, isDarkTheme() ? 0.6 : 0.3));
    paintShadow(painter, card, 20, 1, 3, 0, withAlpha(shadow, 0.06));
}

} // namespace

Qt::WindowFlags chromeFlags(Qt::WindowFlags flags)
{
    // Minimise and maximise buttons ask the window manager for decorations, and Qt drops the
    // frameless hint of a customised window that has title-bar buttons: openbox would draw a
    // title bar over the card.
    return (flags & ~(Qt::WindowContextHelpButtonHint | Qt::WindowMinMaxButtonsHint | Qt::CustomizeWindowHint))
           | Qt::FramelessWindowHint | Qt::Dialog;
}

void requestCardWindow(QDialog *dialog)
{
    if (dialog->testAttribute(Qt::WA_WState_Created))
        dialog->setWindowFlags(chromeFlags(dialog->windowFlags()));
    else
        dialog->overrideWindowFlags(chromeFlags(dialog->windowFlags()));
    // The card paints all of the window. A window with an alpha channel that no compositing
    // manager blends is blended by the X server itself: it then fills and blends the whole
    // window each time the dialog shows, and the program waits for that as the window maps.
    dialog->setAttribute(Qt::WA_NoSystemBackground);
    dialog->setAttribute(Qt::WA_TranslucentBackground, Compositing::instance()->active());
}

// Dims a window while dressed dialogs over it are visible. Each window keeps one, which paints
// nothing once no dialog holds it: taking it away would repaint the whole window at once.
// A new level reaches the window one band per tick's slack (per pass while nothing transmits),
// for the same reason: the whole window repainted under the dim at once would hold up the 7 ms
// channel tick as long.
class DimOverlay : public QWidget
{
public:
    static DimOverlay *of(QWidget *window)
    {
        for (QObject *child : window->children()) {
            if (auto *overlay = dynamic_cast<DimOverlay *>(child))
                return overlay;
        }
        auto *overlay = new DimOverlay(window);
        window->installEventFilter(overlay);
        overlay->show();
        return overlay;
    }

    // `holder`'s level; the window is dimmed as deeply as its deepest holder asks.
    void hold(const QObject *holder, double level)
    {
        m_holders[holder] = level;
        if (covered())
            raise();
        settleTowards(wanted());
    }

    void release(const QObject *holder)
    {
        m_holders.remove(holder);
        settleTowards(wanted());
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize && watched == parentWidget())
            setGeometry(parentWidget()->rect());
        return QWidget::eventFilter(watched, event);
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        // The next band waits until this one is on the window: bands marked in passes between
        // two repaints would be repainted together.
        if (m_awaitedBand >= 0 && paintsOnWindow() && event->rect().intersects(bandRect(m_awaitedBand))) {
            m_awaitedBand = -1;
            settleTowards(m_level);
        }
        QPainter p(this);
        for (int band = 0; band < bands(); ++band) {
            const QRect area = bandRect(band) & event->rect();
            if (m_painted[size_t(band)] > 0.0 && !area.isEmpty())
                p.fillRect(area, withAlpha(ThemeColors::shadow, (isDarkTheme() ? 0.5 : 0.28) * m_painted[size_t(band)]));
        }
    }

    void resizeEvent(QResizeEvent *) override
    {
        // All of it is repainted now: the bands take the level at once.
        m_painted.fill(m_level);
        m_awaitedBand = -1;
    }

private:
    explicit DimOverlay(QWidget *window)
        : QWidget(window)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setGeometry(window->rect());
    }

    // Raising repaints the whole window, even past a dialog among the window's children, which
    // is a window of its own: only a widget inside the window above it asks for that.
    bool covered() const
    {
        const QObjectList &siblings = parentWidget()->children();
        for (auto above = siblings.crbegin(); *above != this; ++above) {
            const auto *widget = qobject_cast<const QWidget *>(*above);
            if (widget && !widget->isWindow())
                return true;
        }
        return false;
    }

    double wanted() const
    {
        double level = 0.0;
        for (double held : m_holders)
            level = std::max(level, held);
        return level;
    }

    // A grab of the window paints the overlay into a picture of its own, not onto the window.
    bool paintsOnWindow() const
    {
        QBackingStore *store = backingStore();
        return store && redirected(nullptr) == store->paintDevice();
    }

    int bands() const { return slackBands(size()); }
    QRect bandRect(int band) const { return slackBand(rect(), band, bands()); }

    void settleTowards(double level)
    {
        m_level = level;
        // Not on screen, nothing is repainted: the levels are taken at once.
        if (!isVisible()) {
            m_painted.fill(level);
            m_awaitedBand = -1;
            return;
        }
        if (m_passQueued || m_awaitedBand >= 0)
            return;
        m_passQueued = true;
        TickPace::instance()->afterTick(this, [this] {
            m_passQueued = false;
            const int count = bands();
            for (int k = 0; k < count; ++k) {
                const int band = (m_nextBand + k) % count;
                if (m_painted[size_t(band)] != m_level) {
                    m_painted[size_t(band)] = m_level;
                    m_awaitedBand = band;
                    m_nextBand = (band + 1) % count;
                    update(bandRect(band));
                    return;
                }
            }
        });
    }

    QHash<const QObject *, double> m_holders;
    double m_level = 0.0;
    std::array<double, MaxSlackBands> m_painted{};
    int m_nextBand = 0;
    int m_awaitedBand = -1;
    bool m_passQueued = false;
};

void prepareDialogChrome(QWidget *window)
{
    // Blurring the card's shadow takes about 20 ms; the first dialog opened would pay it.
    QImage scratch(160, 160, QImage::Format_ARGB32_Premultiplied);
    scratch.fill(Qt::transparent);
    QPainter p(&scratch);
    p.setRenderHint(QPainter::Antialiasing);
    paintCardShadow(&p, QRectF(scratch.rect()).marginsRemoved(QMarginsF(kShadowRoom)));
    // Whether windows are blended is asked of the X server, and waited for, the first time.
    Compositing::instance();
    // The dim coming over the window repaints all of it: once now, not as the first dialog opens.
    if (window)
        DimOverlay::of(window);
}

// Paints the card behind a dressed dialog, places it over its parent, drags it by its header
// and fades it in. Without a compositing manager the card fills the window, square and without
// a shadow, since the translucent margin would show black.
class DialogChrome : public QObject
{
public:
    DialogChrome(QDialog *dialog, QWidget *header, QLabel *titleLabel, QLayout *outer, CardScroll *scroll)
        : QObject(dialog)
        , m_dialog(dialog)
        , m_header(header)
        , m_titleLabel(titleLabel)
        , m_outer(outer)
        , m_scroll(scroll)
        , m_fade(new QVariantAnimation(this))
        , m_selfSizing(qobject_cast<QMessageBox *>(dialog) != nullptr)
    {
        dialog->installEventFilter(this);
        header->installEventFilter(this);
        m_fade->setStartValue(0.0);
        m_fade->setEndValue(1.0);
        m_fade->setEasingCurve(motionCurve());
        connect(m_fade, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
            const double v = value.toDouble();
            m_dialog->setWindowOpacity(v);
            if (rises())
                m_dialog->move(m_restPos.x(), m_restPos.y() + int(std::lround((1.0 - v) * kRise)));
            if (m_overlay)
                m_overlay->hold(this, v);
        });
        Compositing *compositing = Compositing::instance();
        connect(compositing, &Compositing::activeChanged, this, &DialogChrome::applyCompositing);
        applyCompositing(compositing->active());
    }

    ~DialogChrome() override
    {
        if (m_overlay)
            m_overlay->release(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_header && event->type() == QEvent::MouseButtonPress
            && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton && m_dialog->windowHandle()) {
            m_dialog->windowHandle()->startSystemMove();
            return true;
        }
        if (watched == m_dialog) {
            // A message box fixes its size from its top layout on every layout pass, which is
            // now the card's, and rebuilds that layout over the card on a style change. Object
            // filters run after the card's layout has seen the event, so keeping both from the
            // box leaves its sizing to the card; otherwise the two resize each other for ever.
            if (m_selfSizing && event->type() == QEvent::LayoutRequest) {
                settle();
                return true;
            }
            if (m_selfSizing && event->type() == QEvent::StyleChange) {
                // What the widget itself does on a style change.
                m_dialog->update();
                m_outer->invalidate();
                return true;
            }
            switch (event->type()) {
            case QEvent::Paint:
                paintCard();
                break;
            case QEvent::WinIdChange:
                // Sized as its native window is made, which can be ticks before it shows: the
                // window's drawing store is then made at the size it shows at.
                if (m_dialog->internalWinId() && !m_dialog->isVisible() && !m_selfSizing && !headlessPlatform())
                    place();
                break;
            case QEvent::Show:
                onShow();
                break;
            case QEvent::Resize:
                // A box that sizes itself as it is shown (QMessageBox) stays centred.
                if (m_showing)
                    centre();
                break;
            case QEvent::Hide:
                // A fade cut short by hiding must not leave the next showing see-through.
                if (m_fade->state() == QAbstractAnimation::Running) {
                    m_fade->stop();
                    m_dialog->setWindowOpacity(1.0);
                }
                if (m_overlay)
                    m_overlay->release(this);
                m_overlay = nullptr;
                break;
            case QEvent::WindowTitleChange:
                m_titleLabel->setText(m_dialog->windowTitle());
                break;
            case QEvent::KeyPress:
                if (pageThroughContent(static_cast<QKeyEvent *>(event)))
                    return true;
                break;
            default:
                break;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    // Page Up and Page Down that no control took, from the footer's or the header's buttons,
    // page through the content, which takes no Tab of its own: the card, or where that does not
    // scroll, the outermost area of the content that does (a dialog that scrolls its own).
    bool pageThroughContent(QKeyEvent *event)
    {
        const bool up = event->matches(QKeySequence::MoveToPreviousPage);
        if (!up && !event->matches(QKeySequence::MoveToNextPage))
            return false;
        QScrollBar *bar = m_scroll->verticalScrollBar();
        if (bar->maximum() == 0) {
            const QList<QAbstractScrollArea *> areas = m_scroll->widget()->findChildren<QAbstractScrollArea *>();
            const auto own = std::find_if(areas.cbegin(), areas.cend(), [](const QAbstractScrollArea *area) {
                return area->isVisible() && area->verticalScrollBar()->maximum() > 0;
            });
            if (own == areas.cend())
                return false;
            bar = (*own)->verticalScrollBar();
        }
        bar->triggerAction(up ? QAbstractSlider::SliderPageStepSub : QAbstractSlider::SliderPageStepAdd);
        return true;
    }

    void applyCompositing(bool active)
    {
        // A native window made without an alpha channel keeps the flat card.
        if (!m_dialog->testAttribute(Qt::WA_WState_Created))
            m_dialog->setAttribute(Qt::WA_TranslucentBackground, active);
        m_flat = !active || !m_dialog->testAttribute(Qt::WA_TranslucentBackground);
        m_outer->setContentsMargins(m_flat ? QMargins() : kShadowRoom);
        m_dialog->update();
    }

    void paintCard()
    {
        QPainter p(m_dialog);
        if (m_flat) {
            p.fillRect(m_dialog->rect(), ThemeColors::surface);
            p.setPen(ThemeColors::borderStrong);
            p.drawRect(m_dialog->rect().adjusted(0, 0, -1, -1));
            return;
        }
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF card = QRectF(m_dialog->rect()).marginsRemoved(QMarginsF(kShadowRoom));
        // The card covers most of its shadow: only what shows around it is filled.
        const QRect inside = card.toAlignedRect();
        p.setClipRegion(QRegion(m_dialog->rect()) - QRegion(inside.adjusted(20, 1, -20, -1))
                        - QRegion(inside.adjusted(1, 20, -1, -20)));
        paintCardShadow(&p, card);
        p.setClipping(false);
        p.setPen(QPen(ThemeColors::borderLight, 1));
        p.setBrush(ThemeColors::surface);
        p.drawRoundedRect(card.adjusted(0.5, 0.5, -0.5, -0.5), 20, 20);
    }

    // The size the dialog asks for, as Qt's own first sizing gives it but without its cap at
    // two thirds of the screen: the card scrolls only when the screen itself is too short.
    QSize wantedSize() const
    {
        if (m_dialog->testAttribute(Qt::WA_Resized))
            return m_dialog->size();
        QSize size = m_dialog->sizeHint();
        if (QLayout *layout = m_dialog->layout(); layout && layout->hasHeightForWidth())
            size.setHeight(layout->totalHeightForWidth(size.width()));
        return size.expandedTo(m_dialog->minimumSize()).boundedTo(m_dialog->maximumSize());
    }

    // Centres the dialog over its parent's window on that window's screen and keeps it within
    // the screen's available area. Where the compositor places windows itself (Wayland) the
    // dialog is only sized.
    void place()
    {
        QWidget *parent = m_dialog->parentWidget();
        const QRect area = availableArea(parent);
        if (!area.isEmpty()) {
            const QSize room = area.size();
            const QSize minimum = m_dialog->minimumSize();
            if (minimum.width() > room.width() || minimum.height() > room.height())
                m_dialog->setMinimumSize(minimum.boundedTo(room));
        }
        m_placed = !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
        m_dialog->resize(centredIn(wantedSize(), QRect(), area).size());
        centre();
    }

    void centre()
    {
        if (!m_placed)
            return;
        QWidget *parent = m_dialog->parentWidget();
        const QRect over = parent ? parent->window()->frameGeometry() : QRect();
        m_restPos = centredIn(m_dialog->size(), over, availableArea(parent)).topLeft();
        const bool rising = rises() && m_fade->state() == QAbstractAnimation::Running;
        m_dialog->move(m_restPos.x(), m_restPos.y() + (rising ? kRise : 0));
    }

    // Without a compositing manager the dialog shows at once, not fading, and stays in place: each
    // step of a rise would uncover a strip of the window beneath, which then repaints.
    bool rises() const { return m_placed && !m_flat; }

    // The card's least width and its height at a width that shows all of it without scrolling,
    // asked of the widgets themselves: the layout's cached hints lag behind a change of text.
    int leastWidth() const
    {
        const QMargins margins = m_outer->contentsMargins();
        int least = 0;
        for (int i = 0; i < m_outer->count(); ++i) {
            QLayoutItem *item = m_outer->itemAt(i);
            if (QWidget *widget = item->widget(); widget && !item->isEmpty())
                least = std::max({least, widget->minimumSizeHint().width(), widget->minimumWidth()});
        }
        return least + margins.left() + margins.right();
    }

    int heightFor(int width) const
    {
        const QMargins margins = m_outer->contentsMargins();
        const int inner = width - margins.left() - margins.right();
        int height = margins.top() + margins.bottom();
        for (int i = 0; i < m_outer->count(); ++i) {
            QLayoutItem *item = m_outer->itemAt(i);
            QWidget *widget = item->widget();
            if (!widget || item->isEmpty())
                continue;
            if (widget == m_scroll)
                height += m_scroll->naturalHeight(inner);
            else
                height += widget->hasHeightForWidth() ? widget->heightForWidth(inner) : widget->sizeHint().height();
        }
        return height;
    }

    // A self-sizing box shows its text on one line up to a comfortable width (Qt's own: half the
    // screen, at most 500 px for the card), wrapped at that width beyond it, and takes the height
    // that shows all of it, within the screen. Text is only ever switched to wrapping and an
    // unchanged size is left alone, so settling ends the layout passes.
    void settle()
    {
        if (!m_dialog->isVisible())
            return;
        const QRect area = availableArea(m_dialog);
        const QMargins margins = m_outer->contentsMargins();
        const int comfortable = std::min(area.isEmpty() ? 500 : area.width() / 2, 500) + margins.left() + margins.right();
        QList<QLabel *> texts;
        for (QLabel *label : m_scroll->widget()->findChildren<QLabel *>()) {
            if (!label->text().isEmpty() && !label->isHidden())
                texts.append(label);
        }
        const auto wraps = [&texts] {
            return std::any_of(texts.cbegin(), texts.cend(), [](const QLabel *label) { return label->wordWrap(); });
        };
        int width = leastWidth();
        if (width > comfortable && !wraps()) {
            for (QLabel *label : std::as_const(texts))
                label->setWordWrap(true);
            width = leastWidth();
        }
        if (wraps())
            width = std::max(width, comfortable);
        QSize size(width, heightFor(width));
        if (!area.isEmpty())
            size = size.boundedTo(area.size());
        if (m_dialog->size() != size || m_dialog->minimumSize() != size || m_dialog->maximumSize() != size)
            m_dialog->setFixedSize(size);
    }

    void onShow()
    {
        QWidget *parent = m_dialog->parentWidget();
        QWidget *window = parent ? parent->window() : nullptr;
        if (window && !window->property("ostraDialog").toBool() && !m_overlay)
            m_overlay = DimOverlay::of(window);
        m_fade->stop();
        // Headless renders keep the dialog's own size and place; no user sees their fixed screen.
        if (!headlessPlatform()) {
            place();
            m_showing = true;
        }
        // Settled once the box has sized itself for showing, while it is still centred on resizes.
        QTimer::singleShot(0, this, [this] {
            if (m_selfSizing)
                settle();
            m_showing = false;
        });
        if (animationsEnabled()) {
            m_dialog->setWindowOpacity(0.0);
            m_fade->setDuration(animDuration(180));
            m_fade->start();
        } else {
            m_dialog->setWindowOpacity(1.0);
            if (m_overlay)
                m_overlay->hold(this, 1.0);
        }
    }

    QDialog *m_dialog;
    QWidget *m_header;
    QLabel *m_titleLabel;
    QLayout *m_outer;
    CardScroll *m_scroll;
    QPointer<DimOverlay> m_overlay;
    QVariantAnimation *m_fade;
    QPoint m_restPos;
    bool m_selfSizing;
    bool m_placed = false;
    bool m_flat = false;
    bool m_showing = false;
};

QIcon closeIcon()
{
    static const QIcon *const icon = [] {
        auto *built = new QIcon;
        for (const double ratio : {1.0, 2.0}) {
            const int side = int(std::lround(12 * ratio));
            QPixmap pixmap(side, side);
            pixmap.setDevicePixelRatio(ratio);
            pixmap.fill(Qt::transparent);
            QPainter p(&pixmap);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QPen(ThemeColors::textSecondary, 1.6, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(2, 2), QPointF(10, 10));
            p.drawLine(QPointF(10, 2), QPointF(2, 10));
            p.end();
            built->addPixmap(pixmap);
        }
        return built;
    }();
    return *icon;
}

QWidget *dialogContent(QDialog *dialog)
{
    if (auto *content = dialog->findChild<QWidget *>(QStringLiteral("ostraDialogContent"), Qt::FindDirectChildrenOnly))
        return content;
    if (auto *scroll = dialog->findChild<CardScroll *>(QStringLiteral("ostraDialogScroll"), Qt::FindDirectChildrenOnly))
        return scroll->widget();
    auto *content = new QWidget(dialog);
    content->setObjectName(QStringLiteral("ostraDialogContent"));
    new CardScroll(content, dialog);
    return content;
}

void applyDialogChrome(QDialog *dialog, const QString &subtitle)
{
    if (!dialog || dialog->property("ostraDialog").toBool())
        return;
    dialog->setProperty("ostraDialog", true);

    const bool wasResized = dialog->testAttribute(Qt::WA_Resized);
    const QSize size = dialog->size();
    const QSize minSize = dialog->minimumSize();
    const QSize maxSize = dialog->maximumSize();

    // Setting the flags reparents the dialog onto its parent again, and a reparent polishes the
    // whole built tree once more under the application's style sheet: before the window exists
    // the flags are only recorded, as they would be.
    requestCardWindow(dialog);
    setStyleState(dialog, "ostraChrome", true);

    // In the card's scroll area while still empty: the dialog's widgets then move once, not twice,
    // and not at all when the dialog built them there.
    QWidget *content = dialogContent(dialog);
    auto *scroll = static_cast<CardScroll *>(content->parentWidget()->parentWidget());
    QWidget *footer = nullptr;
    QLayout *existing = dialog->layout() ? dialog->layout() : content->layout();
    if (existing) {
        // Margins the dialog chose stay; the style's defaults give way to the header's inset, so
        // the content lines up with the title and keeps clear of the card's edges.
        const QMargins own = existing->contentsMargins();
        existing->unsetContentsMargins();
        const bool chosen = existing->contentsMargins() != own;
        if (dialog->layout() == existing)
            content->setLayout(existing);
        const QMargins inset = chosen ? own : kContentInset;
        existing->setContentsMargins(inset);
        if (QLayoutItem *bar = takeFooter(existing)) {
            footer = new QWidget(dialog);
            footer->setObjectName(QStringLiteral("ostraDialogFooter"));
            auto *footerLayout = new QVBoxLayout(footer);
            footerLayout->setContentsMargins(inset.left(), 0, inset.right(), inset.bottom());
            if (QLayout *row = bar->layout())
                footerLayout->addLayout(row);
            else
                footerLayout->addWidget(bar->widget());
            if (!bar->layout())
                delete bar;
        }
    }

    auto *header = new QWidget(dialog);
    header->setObjectName(QStringLiteral("ostraDialogHeader"));
    header->setCursor(Qt::SizeAllCursor);
    auto *headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(24, 20, 18, 6);
    headerLayout->setSpacing(12);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(2);
    auto *titleLabel = new QLabel(dialog->windowTitle(), header);
    // Titles may name a car or a profile, and a dialog may measure itself before it is shown.
    titleLabel->setTextFormat(Qt::PlainText);
    titleLabel->setFont(uiFont(19, 600));
    titleLabel->setCursor(Qt::SizeAllCursor);
    auto *subtitleLabel = new QLabel(subtitle, header);
    subtitleLabel->setTextFormat(Qt::PlainText);
    subtitleLabel->setProperty("role", QStringLiteral("muted"));
    subtitleLabel->setWordWrap(true);
    subtitleLabel->setVisible(!subtitle.isEmpty());
    titles->addWidget(titleLabel);
    titles->addWidget(subtitleLabel);
    headerLayout->addLayout(titles, 1);
    auto *closeButton = new QPushButton(header);
    closeButton->setIcon(closeIcon());
    closeButton->setIconSize(QSize(12, 12));
    closeButton->setProperty("iconRound", true);
    closeButton->setCursor(Qt::PointingHandCursor);
    closeButton->setToolTip(QCoreApplication::translate("ostra::DialogChrome", "Close"));
    // As the window manager's close: a message box answers it with its Escape button, and a
    // dialog that refuses to close while busy refuses here too.
    QObject::connect(closeButton, &QPushButton::clicked, dialog, &QWidget::close);
    headerLayout->addWidget(closeButton, 0, Qt::AlignTop);
    // A box without a button cannot be answered (it waits for something to end): its close would
    // do nothing.
    const auto *messageBox = qobject_cast<QMessageBox *>(dialog);
    closeButton->setVisible(!messageBox || !messageBox->buttons().isEmpty());

    auto *outer = new QVBoxLayout(dialog);
    outer->setContentsMargins(kShadowRoom);
    outer->setSpacing(0);
    outer->addWidget(header, 0);
    outer->addWidget(scroll, 1);
    if (footer)
        outer->addWidget(footer, 0);

    new DialogChrome(dialog, header, titleLabel, outer, scroll);
    applyDialogKeyboard(dialog);

    const QList<QDialogButtonBox *> boxes = dialog->findChildren<QDialogButtonBox *>();
    for (QDialogButtonBox *box : boxes) {
        const QList<QAbstractButton *> buttons = box->buttons();
        // A default the dialog chose itself (No on a question that deletes) is the one drawn as
        // primary: the button that looks like the answer is the one Return presses.
        const auto chosen = std::find_if(buttons.cbegin(), buttons.cend(), [](QAbstractButton *button) {
            const auto *push = qobject_cast<QPushButton *>(button);
            return push && push->isDefault();
        });
        for (QAbstractButton *button : buttons) {
            button->setCursor(Qt::PointingHandCursor);
            const QDialogButtonBox::ButtonRole role = box->buttonRole(button);
            const bool primary = chosen != buttons.cend()
                                     ? button == *chosen
                                     : role == QDialogButtonBox::AcceptRole || role == QDialogButtonBox::YesRole
                                           || role == QDialogButtonBox::ApplyRole;
            if (primary)
                setStyleState(button, "primary", true);
        }
    }

    if (minSize.width() >= 1 || minSize.height() >= 1)
        dialog->setMinimumSize(minSize.width() + kExtraWidth, minSize.height() + kExtraHeight);
    scroll->setDialogSetsWidth(minSize.width() >= 1);
    if (maxSize != QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX))
        dialog->setMaximumSize(std::min(maxSize.width() + kExtraWidth, QWIDGETSIZE_MAX),
                               std::min(maxSize.height() + kExtraHeight, QWIDGETSIZE_MAX));
    if (wasResized)
        dialog->resize(size.width() + kExtraWidth, size.height() + kExtraHeight);

    if (!dialog->styleSheet().isEmpty())
        dialog->setStyleSheet(dialog->styleSheet()
                              + QStringLiteral("\nQDialog { background: transparent; }\n"
                                               "#ostraDialogHeader, #ostraDialogContent, #ostraDialogFooter { background: transparent; }"));
}

} // namespace ostra
