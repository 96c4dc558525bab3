#include "ostraui/devicerow.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QStyleOptionButton>
#include <QStylePainter>

#include <algorithm>

#include "ostraui/elidingcombo.h"
#include "ostraui/monogram.h"
#include "ostraui/pill.h"
#include "ostraui/theme.h"
#include "ostraui/toast.h"

namespace ostra {

namespace {

// A one-line label that asks for its whole text's width but gives way down to an ellipsis,
// with the whole text in its tool tip while it is cut.
class ElidingLabel : public QLabel
{
public:
    using QLabel::QLabel;

    QSize minimumSizeHint() const override
    {
        const QSize hint = QLabel::minimumSizeHint();
        return QSize(fontMetrics().horizontalAdvance(QStringLiteral("\u2026")), hint.height());
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        const bool cut = fontMetrics().horizontalAdvance(text()) > contentsRect().width();
        setToolTip(cut ? text() : QString());
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        const QRect r = contentsRect();
        const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, r.width());
        style()->drawItemText(&p, r, Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(), shown,
                              foregroundRole());
    }
};

// A device list shows a typical device name whole: 40 characters.
constexpr int TypicalNameLength = 40;
constexpr qreal FadedOpacity = 0.5;

} // namespace

// A button drawn see-through while it has nothing to do. Drawn through a picture of itself, not
// a graphics effect: each repaint of a widget with an effect hands every widget of its window
// (and of the dialogs the window owns) the sizes it waits for, laying out in that pass whatever
// was built out of sight since.
class FadingButton : public QPushButton
{
public:
    using QPushButton::QPushButton;

    void setFaded(bool faded)
    {
        if (faded == m_faded)
            return;
        m_faded = faded;
        update();
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        if (!m_faded) {
            QPushButton::paintEvent(event);
            return;
        }
        const qreal ratio = devicePixelRatioF();
        QPixmap picture(size() * ratio);
        picture.setDevicePixelRatio(ratio);
        picture.fill(Qt::transparent);
        {
            QStylePainter painter(&picture, this);
            QStyleOptionButton option;
            initStyleOption(&option);
            painter.drawControl(QStyle::CE_PushButton, option);
        }
        QPainter painter(this);
        painter.setOpacity(FadedOpacity);
        painter.drawPixmap(0, 0, picture);
    }

private:
    bool m_faded = false;
};

DeviceRow::DeviceRow(const QString &monogram, const QString &title, const QString &subtitle,
                     QWidget *parent)
    : QFrame(parent)
    , m_grid(new QGridLayout(this))
    , m_title(new QLabel(title, this))
    , m_subtitle(new ElidingLabel(subtitle, this))
    , m_combo(new ElidingCombo(this))
    , m_pill(new Pill(this, Pill::Plain))
    , m_button(new FadingButton(tr("Connect"), this))
{
    setProperty("row", true);
    m_grid->setContentsMargins(14, 14, 14, 14);
    m_grid->setHorizontalSpacing(14);
    m_grid->setVerticalSpacing(12);

    if (!monogram.isEmpty()) {
        m_monogram = new Monogram(monogram, Monogram::Plain, 40, this);
        m_monogram->setRadius(12);
        m_monogram->setTextColor(ThemeColors::dangerText);
    }

    m_title->setFont(uiFont(14.5, 600));
    m_subtitle->setFont(uiFont(12.5, 400));
    m_subtitle->setStyleSheet(QStringLiteral("color: %1;").arg(colorHex(ThemeColors::textMuted)));

    m_combo->setCursor(Qt::PointingHandCursor);
    m_combo->setSizePolicy(QSizePolicy::Expanding, m_combo->sizePolicy().verticalPolicy());
    m_combo->setMinimumContentsLength(18);
    m_combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

    m_pill->setHeight(26);
    m_button->setCursor(Qt::PointingHandCursor);
    m_button->setMinimumWidth(104);

    connect(m_combo, &QComboBox::currentIndexChanged, this, &DeviceRow::updateControls);
    // The "Choose…" entry the owner puts in may ask for more room than the row had.
    connect(m_combo->model(), &QAbstractItemModel::rowsInserted, this, &DeviceRow::chooseLayout);
    connect(m_combo->model(), &QAbstractItemModel::modelReset, this, &DeviceRow::chooseLayout);
    connect(m_button, &QPushButton::clicked, this, &DeviceRow::onActionClicked);

    setStatus(DeviceNotConnected);
    buildLayout();
}

void DeviceRow::buildLayout()
{
    while (QLayoutItem *item = m_grid->takeAt(0))
        delete item;
    for (int column = 0; column <= 5; ++column) {
        m_grid->setColumnStretch(column, 0);
        m_grid->setColumnMinimumWidth(column, 0);
    }

    auto *text = new QVBoxLayout;
    text->setSpacing(1);
    text->addWidget(m_title);
    text->addWidget(m_subtitle);

    const int m = m_monogram ? 1 : 0;
    if (m_monogram)
        m_grid->addWidget(m_monogram, 0, 0, Qt::AlignVCenter);
    m_grid->addLayout(text, 0, m);

    // Side by side the list keeps room for its whole "Choose…" entry and a typical device name (the
    // row goes narrow before it would cut them); on a line of its own it keeps its full minimum.
    m_combo->setMinimumWidth(m_wide ? listWidth() : 180);
    if (m_wide) {
        m_grid->addWidget(m_combo, 0, m + 1);
        m_grid->addWidget(m_pill, 0, m + 2, Qt::AlignVCenter);
        m_grid->addWidget(m_button, 0, m + 3);
        m_grid->setColumnMinimumWidth(m, 150);
        m_grid->setColumnStretch(m + 1, 1);
    } else {
        m_grid->addWidget(m_pill, 0, m + 1, Qt::AlignRight | Qt::AlignVCenter);
        m_grid->addWidget(m_button, 0, m + 2);
        m_grid->addWidget(m_combo, 1, 0, 1, 3 + m);
        m_grid->setColumnStretch(m, 1);
    }
}

int DeviceRow::listWidth() const
{
    const QFontMetrics metrics = m_combo->fontMetrics();
    const int placeholder = m_combo->count() > 0 ? metrics.horizontalAdvance(m_combo->itemText(0)) : 0;
    const int name = metrics.averageCharWidth() * TypicalNameLength;
    return static_cast<ElidingCombo *>(m_combo)->widthFor(std::max(placeholder, name));
}

// The width at which everything fits on one line: text, list, status and button.
int DeviceRow::wideWidth() const
{
    const QMargins margins = m_grid->contentsMargins();
    const int spacing = m_grid->horizontalSpacing();
    int width = margins.left() + margins.right();
    if (m_monogram)
        width += m_monogram->sizeHint().width() + spacing;
    width += std::max({150, m_title->minimumSizeHint().width()}) + spacing;
    width += listWidth() + spacing;
    width += m_pill->sizeHint().expandedTo(m_pill->minimumSize()).width() + spacing;
    width += std::max(m_button->minimumWidth(), m_button->sizeHint().width());
    return width;
}

void DeviceRow::chooseLayout()
{
    const bool wide = width() >= std::max(640, wideWidth());
    if (wide != m_wide) {
        m_wide = wide;
        buildLayout();
    } else if (m_wide) {
        m_combo->setMinimumWidth(listWidth());
    }
}

void DeviceRow::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    chooseLayout();
}

bool DeviceRow::event(QEvent *event)
{
    // A status, a button text or a pill width that changed may no longer fit beside the list.
    if (event->type() == QEvent::LayoutRequest)
        chooseLayout();
    return QFrame::event(event);
}

void DeviceRow::setStatus(int state, const QString &detail)
{
    switch (state) {
    case DeviceNotConnected:
        m_pill->setLevel(LevelNeutral);
        m_pill->setText(detail.isEmpty() ? tr("Not connected") : detail);
        m_pill->setPulsing(false);
        break;
    case DeviceConnecting:
        m_pill->setLevel(LevelWarning);
        m_pill->setText(detail.isEmpty() ? tr("Connecting") : detail);
        m_pill->setPulseDuration(900);
        m_pill->setPulsing(true);
        break;
    case DeviceConnected:
        m_pill->setLevel(LevelSuccess);
        m_pill->setText(detail.isEmpty() ? tr("Connected") : detail);
        m_pill->setPulsing(false);
        break;
    case DeviceNotAnswering:
        m_pill->setLevel(LevelWarning);
        m_pill->setText(detail.isEmpty() ? tr("No answer") : detail);
        m_pill->setPulsing(false);
        break;
    default:
        break;
    }
    m_status = state;
    if (m_monogram)
        m_monogram->setTextColor(state == DeviceConnected      ? ThemeColors::successText
                                 : state == DeviceNotAnswering ? ThemeColors::warningText
                                                               : ThemeColors::dangerText);
    const bool connected = state == DeviceConnected;
    if (property("connected").toBool() != connected)
        setStyleState(this, "connected", connected);
    updateControls();
}

void DeviceRow::setBusy(bool busy)
{
    m_busy = busy;
    m_combo->setEnabled(!busy);
    updateControls();
}

void DeviceRow::setConnectPredicate(const std::function<bool()> &predicate)
{
    m_connectPredicate = predicate;
    updateControls();
}

bool DeviceRow::deviceChosen() const
{
    if (m_connectPredicate)
        return m_connectPredicate();
    return m_combo->currentIndex() > 0 || (m_busy && m_combo->count() > 0);
}

void DeviceRow::updateControls()
{
    const bool chosen = deviceChosen();
    if (isOpen())
        m_button->setText(tr("Disconnect"));
    else if (m_status == DeviceConnecting)
        m_button->setText(tr("Connecting"));
    else
        m_button->setText(tr("Connect"));

    const bool primary = m_status != DeviceConnecting && !isOpen() && chosen;
    if (m_button->property("primary").toBool() != primary)
        setStyleState(m_button, "primary", primary);

    m_button->setFaded(!isOpen() && !chosen);

    const bool placeholder = !chosen && !m_busy;
    if (m_combo->property("placeholder").toBool() != placeholder)
        setStyleState(m_combo, "placeholder", placeholder);
}

void DeviceRow::onActionClicked()
{
    if (isOpen())
        emit disconnectRequested();
    else if (deviceChosen())
        emit connectRequested();
    else
        showToast(this, tr("Choose a device first"));
}

} // namespace ostra
