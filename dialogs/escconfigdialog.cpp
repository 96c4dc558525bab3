#include "dialogs/escconfigdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include "bridge/corvanecontroller.h"
#include "dialogs/currentpagetabwidget.h"
#include "dialogs/crsfrangepreview.h"
#include "dialogs/laterpage.h"
#include "dialogs/steeringrangepreview.h"
#include "ostraui/dialogcards.h"
#include "ostraui/dialogchrome.h"
#include "ostraui/focusring.h"
#include "ostraui/passbuilder.h"

namespace corvane {

namespace {

constexpr int CenterValue = 1024;

const char *const SliderSpinStyle =
    "QSpinBox { color: #0F1720; font-family: 'Geist Mono'; font-size: 10pt; background: #F7F9FB; "
    "border: 1px solid #E6EAF0; border-radius: 4px; padding: 2px 4px; }"
    "QSpinBox:focus { border-color: #4CC2FF; }"
    "QSpinBox:disabled { color: #A7B0BC; background: #F3F5F8; border-color: #EEF1F5; }"
    "QSpinBox::up-button, QSpinBox::down-button { width: 0; height: 0; }";
const char *const TrimButtonStyle =
    "QPushButton { background:#E6EAF0; color:#0F1720; border:none; border-radius:4px; padding:4px; "
    "font-weight:bold; }QPushButton:hover { background:#CFD6DF; }";

} // namespace

EscConfigDialog::EscConfigDialog(CorvaneController *controller, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
{
    setWindowTitle(tr("Drive Settings"));
    setWindowFlags((windowFlags() | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
                   & ~Qt::WindowSystemMenuHint);
    setMinimumSize(780, 600);
    resize(820, 650);

    const AxisSettings running = m_controller->axisSettings();
    m_savedLeft = running.steeringLeft;
    m_savedCenter = running.steeringCenter;
    m_savedRight = running.steeringRight;
    holdCarPositions(m_settings);

    auto *layout = new QVBoxLayout(ostra::dialogContent(this));
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto *scroll = new QScrollArea(ostra::dialogContent(this));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    // The tabs follow the dialog's width; only the height scrolls, with the scroll bar kept off
    // the card's edge.
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setStyleSheet(QStringLiteral("QScrollArea { padding: 0px 4px 0px 0px; }"));
    ostra::makeScrollBody(scroll);
    auto *content = new QWidget(scroll);
    auto *contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(24, 16, 24, 16);
    contentLayout->setSpacing(12);
    scroll->setWidget(content);
    layout->addWidget(scroll, 1);
    auto *tabs = new CurrentPageTabWidget(content);
    contentLayout->addWidget(tabs);
    buildThrottleTab(tabs);
    // The Steering and Car tabs are filled one per pass after the dialog shows, or at once when
    // turned to.
    QVBoxLayout *steeringLayout = nullptr;
    QWidget *steering = makeTabPage(tabs, tr("Steering"), &steeringLayout);
    QVBoxLayout *carLayout = nullptr;
    QWidget *car = makeTabPage(tabs, tr("Car"), &carLayout);
    m_passes = new ostra::PassBuilder(this);
    m_steeringPart = m_passes->add([this, steering, steeringLayout] {
        buildSteeringTab(steering, steeringLayout);
        settleLaterPage(steering);
    });
    m_carPart = m_passes->add([this, car, carLayout] {
        buildCarTab(car, carLayout);
        settleLaterPage(car);
    });
    connect(tabs, &QTabWidget::currentChanged, this, [this](int index) {
        m_passes->ensure(index == 1 ? m_steeringPart : index == 2 ? m_carPart : -1);
    });

    auto *footer = new QWidget(ostra::dialogContent(this));
    footer->setObjectName(QStringLiteral("dlgFooter"));
    footer->setAttribute(Qt::WA_StyledBackground);
    auto *footerLayout = new QHBoxLayout(footer);
    footerLayout->setContentsMargins(24, 10, 24, 10);
    auto *reset = new QPushButton(tr("Reset to defaults"), footer);
    reset->setProperty("ghost", true);
    connect(reset, &QPushButton::clicked, this, &EscConfigDialog::onResetToDefaults);
    footerLayout->addWidget(reset);
    footerLayout->addStretch(1);
    auto *cancel = new QPushButton(tr("Cancel"), footer);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    footerLayout->addWidget(cancel);
    auto *apply = new QPushButton(tr("Apply"), footer);
    apply->setProperty("primary", true);
    connect(apply, &QPushButton::clicked, this, &EscConfigDialog::onApply);
    footerLayout->addWidget(apply);
    layout->addWidget(footer);

    m_crsfValuesCard->show();
    refreshEscEnableStates();
    refreshCarEnableStates();
    updatePresetButtons();

    ostra::applyDialogChrome(this, QString());
    m_passes->startAfterFirstPaint(this);
}

QFrame *EscConfigDialog::makeCard(QWidget *page, QVBoxLayout *pageLayout, const QString &title,
                                  const QString &subtitle, QVBoxLayout **cardLayout, bool escModeCard)
{
    auto *card = new QFrame(page);
    card->setProperty("dlgCard", true);
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(16, 12, 16, 14);
    layout->setSpacing(escModeCard ? 6 : 8);
    auto *titleLabel = ostra::makeStyledLabel(title,
                                   escModeCard ? "color: #0F1720; font-weight: bold; font-size: 12pt; border: none;"
                                               : "color: #0F1720; font-weight: bold; font-size: 11pt; border: none;",
                                   card);
    auto *subtitleLabel = ostra::makeStyledLabel(subtitle, "color: #8A94A3; font-size: 9pt; border: none;", card);
    subtitleLabel->setWordWrap(true);
    auto *column = new QVBoxLayout;
    column->setSpacing(0);
    column->addWidget(titleLabel);
    column->addWidget(subtitleLabel);
    auto *header = new QHBoxLayout;
    header->setSpacing(10);
    header->addLayout(column, 1);
    header->addStretch();
    layout->addLayout(header);
    if (!escModeCard)
        layout->addSpacing(4);
    pageLayout->addWidget(card);
    *cardLayout = layout;
    return card;
}

QSlider *EscConfigDialog::makeSliderRow(QWidget *parent, const QString &label, int minimum, int maximum, int value,
                                        const QString &color, QVBoxLayout *target)
{
    auto *row = new QHBoxLayout;
    row->setSpacing(4);
    auto *text = new QLabel(label, parent);
    text->setFixedWidth(110);
    text->setStyleSheet(QStringLiteral("color: %1; font-size: 10pt; border: none;").arg(color));
    row->addWidget(text);
    auto *slider = new QSlider(Qt::Horizontal, parent);
    slider->setRange(minimum, maximum);
    slider->setValue(value);
    row->addWidget(slider, 1);
    auto *spin = new QSpinBox(parent);
    spin->setRange(minimum, maximum);
    spin->setValue(value);
    spin->setFixedWidth(65);
    spin->setAlignment(Qt::AlignRight);
    spin->setButtonSymbols(QAbstractSpinBox::NoButtons);
    spin->setStyleSheet(QLatin1String(SliderSpinStyle));
    row->addWidget(spin);
    connect(slider, &QSlider::valueChanged, spin, &QSpinBox::setValue);
    connect(spin, &QSpinBox::valueChanged, slider, &QSlider::setValue);
    slider->setProperty("_spinBox", QVariant::fromValue<QObject *>(spin));
    target->addLayout(row);
    return slider;
}

void EscConfigDialog::setSliderRowEnabled(QSlider *slider, bool enabled)
{
    slider->setEnabled(enabled);
    if (auto *spin = qobject_cast<QSpinBox *>(slider->property("_spinBox").value<QObject *>()))
        spin->setEnabled(enabled);
}

void EscConfigDialog::setSliderRowValue(QSlider *slider, int value)
{
    slider->setValue(value);
    if (auto *spin = qobject_cast<QSpinBox *>(slider->property("_spinBox").value<QObject *>())) {
        const QSignalBlocker quiet(spin);
        spin->setValue(value);
    }
}

QWidget *EscConfigDialog::makeTabPage(QTabWidget *tabs, const QString &title, QVBoxLayout **pageLayout)
{
    auto *page = new QWidget;
    tabs->addTab(page, title);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(12);
    *pageLayout = layout;
    return page;
}

void EscConfigDialog::buildSteeringTab(QWidget *page, QVBoxLayout *pageLayout)
{

    // The trim card puts its title column straight into the card.
    auto *trimCard = new QFrame(page);
    trimCard->setProperty("dlgCard", true);
    auto *trimLayout = new QVBoxLayout(trimCard);
    trimLayout->setContentsMargins(16, 12, 16, 14);
    trimLayout->setSpacing(8);
    auto *trimColumn = new QVBoxLayout;
    trimColumn->setSpacing(0);
    trimColumn->addWidget(ostra::makeStyledLabel(tr("Steering Trim"),
                                      "color: #0F1720; font-weight: bold; font-size: 11pt; border: none;", trimCard));
    trimColumn->addWidget(ostra::makeStyledLabel(tr("Center the car \u2014 adjust until it drives straight"),
                                      "color: #8A94A3; font-size: 9pt; border: none;", trimCard));
    trimLayout->addLayout(trimColumn);
    trimLayout->addSpacing(4);
    auto *trimRow = new QHBoxLayout;
    trimRow->setSpacing(6);
    auto *trimText = ostra::makeStyledLabel(tr("Trim"), "color: #0F1720; font-size: 10pt; border: none;", trimCard);
    trimText->setFixedWidth(50);
    trimRow->addWidget(trimText);
    auto *minus = new QPushButton(QStringLiteral("\u2212"), trimCard);
    m_trimSlider = new QSlider(Qt::Horizontal, trimCard);
    m_trimSlider->setRange(-512, 512);
    m_trimSlider->setValue(m_settings.steeringCenter - CenterValue);
    auto *plus = new QPushButton(QStringLiteral("+"), trimCard);
    for (QPushButton *button : {minus, plus}) {
        button->setFixedWidth(32);
        button->setCursor(Qt::PointingHandCursor);
        button->setStyleSheet(QLatin1String(TrimButtonStyle));
    }
    m_trimLabel = ostra::makeStyledLabel(QString(), "color: #0F1720; font-family:'Geist Mono'; font-size:10pt; border:none;",
                              trimCard);
    m_trimLabel->setFixedWidth(150);
    m_trimLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    trimRow->addWidget(minus);
    trimRow->addWidget(m_trimSlider, 1);
    trimRow->addWidget(plus);
    trimRow->addWidget(m_trimLabel);
    trimLayout->addLayout(trimRow);
    auto *note = ostra::makeStyledLabel(tr("Move the trim and the car responds live. Press Apply to save, or close to discard."),
                             "color: #8A94A3; font-size: 9pt; border: none;", trimCard);
    note->setWordWrap(true);
    trimLayout->addWidget(note);
    pageLayout->addWidget(trimCard);
    connect(minus, &QPushButton::clicked, this, [this] { m_trimSlider->setValue(m_trimSlider->value() - 1); });
    connect(plus, &QPushButton::clicked, this, [this] { m_trimSlider->setValue(m_trimSlider->value() + 1); });
    connect(m_trimSlider, &QSlider::valueChanged, this, &EscConfigDialog::onSteeringTrimChanged);

    // Each card's widgets are made in the card: one moved into it is restyled again.
    QWidget *card = nullptr;
    QVBoxLayout *endpoints = nullptr;
    card = makeCard(page, pageLayout, tr("Steering Endpoints"), tr("CRSF values for servo control"), &endpoints);
    const QString ink = QStringLiteral("#0F1720");
    m_leftSlider = makeSliderRow(card, tr("Full Left"), 0, 2047, m_settings.steeringLeft, ink, endpoints);
    m_centerSlider = makeSliderRow(card, tr("Center"), 0, 2047, m_settings.steeringCenter, ink, endpoints);
    m_rightSlider = makeSliderRow(card, tr("Full Right"), 0, 2047, m_settings.steeringRight, ink, endpoints);
    endpoints->addSpacing(4);
    endpoints->addWidget(ostra::makeStyledLabel(
        tr("STEERING RANGE"), "color: #8A94A3; font-size: 9pt; font-weight: bold; letter-spacing: 1px; border: none;",
        card));
    m_steeringPreview = new SteeringRangePreview(card);
    m_steeringPreview->left = m_settings.steeringLeft;
    m_steeringPreview->center = m_settings.steeringCenter;
    m_steeringPreview->right = m_settings.steeringRight;
    endpoints->addWidget(m_steeringPreview);
    endpoints->addStretch();
    connect(m_leftSlider, &QSlider::valueChanged, this, &EscConfigDialog::onSteeringLeftSliderChanged);
    connect(m_centerSlider, &QSlider::valueChanged, this, &EscConfigDialog::onSteeringCenterSliderChanged);
    connect(m_rightSlider, &QSlider::valueChanged, this, &EscConfigDialog::onSteeringRightSliderChanged);
    showTrimLabel();

    pageLayout->addStretch();
}

void EscConfigDialog::pushSteeringCalibration()
{
    if (m_steeringPreview) {
        m_steeringPreview->left = m_settings.steeringLeft;
        m_steeringPreview->center = m_settings.steeringCenter;
        m_steeringPreview->right = m_settings.steeringRight;
        m_steeringPreview->update();
    }
    m_controller->setSteeringCalibration(m_settings.steeringLeft, m_settings.steeringCenter, m_settings.steeringRight);
}

void EscConfigDialog::showTrimLabel()
{
    if (!m_trimLabel)
        return;
    const int offset = m_settings.steeringCenter - CenterValue;
    m_trimLabel->setText(tr("center %1  (%2%3)")
                             .arg(m_settings.steeringCenter)
                             .arg(offset >= 0 ? QStringLiteral("+") : QString())
                             .arg(offset));
}

void EscConfigDialog::onSteeringLeftSliderChanged(int value)
{
    m_settings.steeringLeft = value;
    pushSteeringCalibration();
}

void EscConfigDialog::onSteeringRightSliderChanged(int value)
{
    m_settings.steeringRight = value;
    pushSteeringCalibration();
}

void EscConfigDialog::onSteeringCenterSliderChanged(int value)
{
    m_settings.steeringCenter = value;
    pushSteeringCalibration();
    if (!m_trimGuard) {
        m_trimGuard = true;
        m_trimSlider->setValue(value - CenterValue);
        m_trimGuard = false;
    }
    showTrimLabel();
}

void EscConfigDialog::onSteeringTrimChanged(int trim)
{
    if (m_trimGuard)
        return;
    m_trimGuard = true;
    m_centerSlider->setValue(trim + CenterValue);
    m_trimGuard = false;
}

void EscConfigDialog::setAxisSettings(const AxisSettings &settings)
{
    m_settings = settings;
    refreshPresetCombo();
    showEscValues();

    // A tab not built yet is built from the copy.
    if (m_trimSlider) {
        for (QSlider *slider : {m_leftSlider, m_centerSlider, m_rightSlider})
            slider->blockSignals(true);
        setSliderRowValue(m_leftSlider, m_settings.steeringLeft);
        setSliderRowValue(m_centerSlider, m_settings.steeringCenter);
        setSliderRowValue(m_rightSlider, m_settings.steeringRight);
        for (QSlider *slider : {m_leftSlider, m_centerSlider, m_rightSlider})
            slider->blockSignals(false);
        m_trimGuard = true;
        m_trimSlider->setValue(m_settings.steeringCenter - CenterValue);
        m_trimGuard = false;
        showTrimLabel();
    }
    pushSteeringCalibration();

    loadCarTab();
    refreshEscEnableStates();
    updatePresetButtons();
}

void EscConfigDialog::onResetToDefaults()
{
    const AxisSettings defaults;
    m_settings.escMode = defaults.escMode;
    m_settings.escPresetId.clear();
    m_settings.escNeutral = defaults.escNeutral;
    m_settings.escFullForward = defaults.escFullForward;
    m_settings.escFullReverse = defaults.escFullReverse;
    m_settings.steeringLeft = defaults.steeringLeft;
    m_settings.steeringCenter = defaults.steeringCenter;
    m_settings.steeringRight = defaults.steeringRight;
    m_settings.softStartEnabled = defaults.softStartEnabled;
    m_settings.softStartDurationSec = defaults.softStartDurationSec;
    m_settings.softStartFloorPercent = defaults.softStartFloorPercent;
    m_settings.stuckThrottleDetectionEnabled = defaults.stuckThrottleDetectionEnabled;
    m_settings.throttleSpikeRejectionEnabled = defaults.throttleSpikeRejectionEnabled;
    m_settings.smoothDeceleration = defaults.smoothDeceleration;
    m_settings.decelRate = defaults.decelRate;
    m_settings.pitLimiterEnabled = defaults.pitLimiterEnabled;
    m_settings.pitLimiterValue = defaults.pitLimiterValue;
    m_settings.reverseEnabled = defaults.reverseEnabled;
    m_settings.reverseButtonIndex = defaults.reverseButtonIndex;
    m_settings.reverseMaxPercent = defaults.reverseMaxPercent;
    setAxisSettings(m_settings);
}

void EscConfigDialog::onApply()
{
    accept();
}

void EscConfigDialog::done(int result)
{
    if (result != QDialog::Accepted)
        m_controller->setSteeringCalibration(m_savedLeft, m_savedCenter, m_savedRight);
    QDialog::done(result);
}

} // namespace corvane
