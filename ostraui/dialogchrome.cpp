#include "ostraui/dialogchrome.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <QWindow>

#include <algorithm>
#include <cmath>

#include "ostraui/alphacolor.h"
#include "ostraui/shadowlayer.h"
#include "ostraui/theme.h"

namespace ostra {

namespace {

// Room around the card for its shadow, and the header's height allowance.
constexpr int kExtraWidth = 56;
constexpr int kExtraHeight = 124;
// The dialog's own content, inset as the header's title is.
const QMargins kContentInset(24, 10, 24, 20);

} // namespace

// Dims the parent window while a dressed dialog is visible.
class DimOverlay : public QWidget
{
public:
    explicit DimOverlay(QWidget *window)
        : QWidget(window)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setGeometry(window->rect());
    }

    void setLevel(double level)
    {
        m_level = level;
        update();
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize && watched == parentWidget())
            setGeometry(parentWidget()->rect());
        return QWidget::eventFilter(watched, event);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), withAlpha(ThemeColors::shadow, (isDarkTheme() ? 0.5 : 0.28) * m_level));
    }

private:
    double m_level = 0.0;
};

// Paints the card behind a dressed dialog, drags it by its header and fades it in.
class DialogChrome : public QObject
{
public:
    DialogChrome(QDialog *dialog, QWidget *header, QLabel *titleLabel)
        : QObject(dialog)
        , m_dialog(dialog)
        , m_header(header)
        , m_titleLabel(titleLabel)
        , m_fade(new QVariantAnimation(this))
    {
        dialog->installEventFilter(this);
        header->installEventFilter(this);
        m_fade->setStartValue(0.0);
        m_fade->setEndValue(1.0);
        m_fade->setEasingCurve(motionCurve());
        connect(m_fade, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
            const double v = value.toDouble();
            m_dialog->setWindowOpacity(v);
            m_dialog->move(m_restPos.x(), m_restPos.y() + int(std::lround((1.0 - v) * 12.0)));
            if (m_overlay)
                m_overlay->setLevel(v);
        });
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_header && event->type() == QEvent::MouseButtonPress
            && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton && m_dialog->windowHandle()) {
            m_dialog->windowHandle()->startSystemMove();
            return true;
        }
        if (watched == m_dialog) {
            switch (event->type()) {
            case QEvent::Paint:
                paintCard();
                break;
            case QEvent::Show:
                onShow();
                break;
            case QEvent::Hide:
                if (m_overlay)
                    m_overlay->deleteLater();
                m_overlay = nullptr;
                break;
            case QEvent::WindowTitleChange:
                m_titleLabel->setText(m_dialog->windowTitle());
                break;
            default:
                break;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void paintCard()
    {
        QPainter p(m_dialog);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF card = QRectF(m_dialog->rect()).adjusted(28, 18, -28, -44);
        const QColor shadow = ThemeColors::shadow;
        paintShadow(&p, card, 20, 20, 44, -14, withAlpha(shadow, isDarkTheme() ? 0.6 : 0.3));
        paintShadow(&p, card, 20, 1, 3, 0, withAlpha(shadow, 0.06));
        p.setPen(QPen(ThemeColors::borderLight, 1));
        p.setBrush(ThemeColors::surface);
        p.drawRoundedRect(card.adjusted(0.5, 0.5, -0.5, -0.5), 20, 20);
    }

    void onShow()
    {
        QWidget *parent = m_dialog->parentWidget();
        QWidget *window = parent ? parent->window() : nullptr;
        if (window && !window->property("ostraDialog").toBool() && !m_overlay) {
            m_overlay = new DimOverlay(window);
            window->installEventFilter(m_overlay);
            m_overlay->show();
            m_overlay->raise();
        }
        m_restPos = m_dialog->pos();
        m_fade->stop();
        if (animationsEnabled()) {
            m_dialog->setWindowOpacity(0.0);
            m_fade->setDuration(animDuration(180));
            m_fade->start();
        } else if (m_overlay) {
            m_overlay->setLevel(1.0);
        }
    }

    QDialog *m_dialog;
    QWidget *m_header;
    QLabel *m_titleLabel;
    QPointer<DimOverlay> m_overlay;
    QVariantAnimation *m_fade;
    QPoint m_restPos;
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

void applyDialogChrome(QDialog *dialog, const QString &subtitle)
{
    if (!dialog || dialog->property("ostraDialog").toBool())
        return;
    dialog->setProperty("ostraDialog", true);

    const bool wasResized = dialog->testAttribute(Qt::WA_Resized);
    const QSize size = dialog->size();
    const QSize minSize = dialog->minimumSize();
    const QSize maxSize = dialog->maximumSize();

    dialog->setWindowFlags((dialog->windowFlags() & ~Qt::WindowContextHelpButtonHint)
                           | Qt::FramelessWindowHint | Qt::Dialog);
    dialog->setAttribute(Qt::WA_TranslucentBackground);
    setStyleState(dialog, "ostraChrome", true);

    auto *content = new QWidget(dialog);
    content->setObjectName(QStringLiteral("ostraDialogContent"));
    if (QLayout *existing = dialog->layout()) {
        // Margins the dialog chose stay; the style's defaults give way to the header's inset, so
        // the content lines up with the title and keeps clear of the card's edges.
        const QMargins own = existing->contentsMargins();
        existing->unsetContentsMargins();
        const bool chosen = existing->contentsMargins() != own;
        content->setLayout(existing);
        existing->setContentsMargins(chosen ? own : kContentInset);
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
    titleLabel->setFont(uiFont(19, 600));
    titleLabel->setCursor(Qt::SizeAllCursor);
    auto *subtitleLabel = new QLabel(subtitle, header);
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
    QObject::connect(closeButton, &QPushButton::clicked, dialog, &QDialog::reject);
    headerLayout->addWidget(closeButton, 0, Qt::AlignTop);

    auto *outer = new QVBoxLayout(dialog);
    outer->setContentsMargins(28, 18, 28, 44);
    outer->setSpacing(0);
    outer->addWidget(header, 0);
    outer->addWidget(content, 1);

    new DialogChrome(dialog, header, titleLabel);

    const QList<QDialogButtonBox *> boxes = dialog->findChildren<QDialogButtonBox *>();
    for (QDialogButtonBox *box : boxes) {
        const QList<QAbstractButton *> buttons = box->buttons();
        for (QAbstractButton *button : buttons) {
            button->setCursor(Qt::PointingHandCursor);
            const QDialogButtonBox::ButtonRole role = box->buttonRole(button);
            if (role == QDialogButtonBox::AcceptRole || role == QDialogButtonBox::YesRole
                || role == QDialogButtonBox::ApplyRole)
                setStyleState(button, "primary", true);
        }
    }

    if (minSize.width() >= 1 || minSize.height() >= 1)
        dialog->setMinimumSize(minSize.width() + kExtraWidth, minSize.height() + kExtraHeight);
    if (maxSize != QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX))
        dialog->setMaximumSize(std::min(maxSize.width() + kExtraWidth, QWIDGETSIZE_MAX),
                               std::min(maxSize.height() + kExtraHeight, QWIDGETSIZE_MAX));
    if (wasResized)
        dialog->resize(size.width() + kExtraWidth, size.height() + kExtraHeight);

    if (!dialog->styleSheet().isEmpty())
        dialog->setStyleSheet(dialog->styleSheet()
                              + QStringLiteral("\nQDialog { background: transparent; }\n"
                                               "#ostraDialogHeader, #ostraDialogContent { background: transparent; }"));
}

} // namespace ostra
