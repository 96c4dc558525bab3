#include "app/mainwindow.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <memory>

#include "app/disclaimerdialog.h"
#include "bridge/corvanecontroller.h"
#include "heli/helicoptersetupwidget.h"
#include "motion/motionsystemcontroller.h"
#include "motion/pages/motionsystemwidget.h"
#include "ostraui/busybutton.h"
#include "ostraui/card.h"
#include "ostraui/devicerow.h"
#include "ostraui/flowlayout.h"
#include "ostraui/focusring.h"
#include "ostraui/monogram.h"
#include "ostraui/pagestack.h"
#include "ostraui/pill.h"
#include "ostraui/plaintextguard.h"
#include "ostraui/responsivegrid.h"
#include "ostraui/theme.h"
#include "ostraui/toast.h"
#include "ostraui/txbutton.h"
#include "platform/storage/filewriter.h"
#include "profiles/profilemanager.h"
#include "racecontrol/racecontrol.h"
#include "racecontrol/pages/racecontrolpage.h"

using namespace ostra;

namespace {

constexpr int PageMaxWidth = 1336;

} // namespace

QScrollArea *MainWindow::makePageScrollArea(QWidget *widget)
{
    auto *scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(widget);
    makeScrollBody(scroll);
    return scroll;
}

namespace {

QWidget *makePageContent(QVBoxLayout **layout)
{
    auto *content = new QWidget;
    content->setMaximumWidth(PageMaxWidth);
    *layout = new QVBoxLayout(content);
    (*layout)->setContentsMargins(8, 0, 8, 8);
    (*layout)->setSpacing(16);
    return content;
}

QLabel *makeStyledLabel(const QString &text, const QFont &font, const QColor &color, QWidget *parent = nullptr)
{
    auto *label = new QLabel(text, parent);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("color: %1;").arg(colorHex(color)));
    return label;
}

QFont spacedFont(double px, int weight, double spacing)
{
    QFont font = uiFont(px, weight);
    font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    return font;
}

Pill *makeChip(const QString &text, QWidget *parent)
{
    auto *pill = new Pill(parent);
    pill->setText(text);
    pill->setDotVisible(false);
    pill->setLevel(LevelNeutral);
    return pill;
}

// A chooser card: monogram, title and description; a disabled one is dimmed and says "Coming soon".
Card *makeChooserCard(QWidget *parent, const QString &monogram, int tone, const QString &title,
                      const QString &description, bool enabled)
{
    auto *card = new Card(parent, 1);
    card->setClickable(enabled);
    card->setDimmed(!enabled);
    card->setMinimumHeight(220);
    QVBoxLayout *content = card->contentLayout();
    content->setContentsMargins(24, 24, 24, 24);
    content->setSpacing(14);

    auto *header = new QHBoxLayout;
    header->addWidget(new Monogram(monogram, tone, 52, card));
    header->addStretch(1);
    if (!enabled) {
        Pill *soon = makeChip(MainWindow::tr("Coming soon"), card);
        soon->setHeight(26);
        header->addWidget(soon, 0, Qt::AlignTop);
    }
    content->addLayout(header);
    content->addWidget(makeStyledLabel(title, spacedFont(18, 600, -0.27), ThemeColors::ink, card));
    QLabel *text = makeStyledLabel(description, uiFont(14, 400), ThemeColors::textSecondary, card);
    text->setWordWrap(true);
    content->addWidget(text);
    // The free height goes under the text, so the titles of a row of cards line up however
    // many lines their descriptions take.
    content->addStretch(1);
    return card;
}

} // namespace

void MainWindow::buildPages()
{
    m_pageStack->addWidget(buildStartPage());
    m_pageStack->addWidget(buildCarPage());
    m_pageStack->addWidget(buildInfoPage(this));
    m_pageStack->addWidget(buildVehiclePage());
    m_pageStack->addWidget(buildHelicopterPage());
    m_pageStack->addWidget(buildMotionPlatformPage());
    m_pageStack->addWidget(buildMotionPage());
    m_raceControl = new corvane::RaceControl(this);
    m_pageStack->addWidget(new corvane::RaceControlPage(m_raceControl));
    connect(m_helicopterWidget, &corvane::HelicopterSetupWidget::updateReceiverFirmwareRequested, this,
            &MainWindow::onUpdateReceiverFirmware);
    connect(m_helicopterWidget, &corvane::HelicopterSetupWidget::updateTransmitterFirmwareRequested, this,
            &MainWindow::onUpdateTransmitterFirmware);
    connect(m_helicopterWidget, &corvane::HelicopterSetupWidget::updateTransmitterSocFirmwareRequested, this,
            &MainWindow::onUpdateTransmitterSocFirmware);
    wireCarPage();

    connect(m_refreshButton, &QPushButton::clicked, this, &MainWindow::onRefreshSerialPorts);
    connect(m_refreshButton, &QPushButton::clicked, this, &MainWindow::onRefreshInputDevices);
    connectDeviceRow(m_transmitterRow, &MainWindow::onConnectTransmitter);
    connectDeviceRow(m_wheelBaseRow, &MainWindow::onConnectWheelBase);
    connectDeviceRow(m_pedalsRow, &MainWindow::onConnectPedals);
    connectDeviceRow(m_shifterRow, &MainWindow::onConnectShifter);
    connect(m_txButton, &QPushButton::clicked, this, &MainWindow::onStartStop);
    connect(m_autoStartButton, &QPushButton::toggled, m_controller, &corvane::CorvaneController::setAutoStartEnabled);
    connect(m_controller, &corvane::CorvaneController::autoStartEnabledChanged, this, [this](bool enabled) {
        if (m_autoStartButton->isChecked() != enabled)
            m_autoStartButton->setChecked(enabled);
    });
    // runningChanged reaches the status refresh through the constructor's device signals.
    connect(m_controller, &corvane::CorvaneController::configModeChanged, this, &MainWindow::updateCarPageStatus);
    refreshPortCombos();
    onRefreshInputDevices();
    updateCarPageStatus();

    m_pitLimiterOverlay = createPitLimiterOverlay();
}

QWidget *MainWindow::buildStartPage()
{
    QVBoxLayout *layout = nullptr;
    QWidget *content = makePageContent(&layout);
    layout->addWidget(makeRoleLabel(tr("Choose a product to get started"), "subline", content));

    auto *grid = new ResponsiveGrid(340, 16);
    layout->addLayout(grid);
    Card *car = buildProductCard(
        grid, content, QStringLiteral("CV"), 0, tr("Qorvant Corvane"), tr("Sim racing to RC transmitter"),
        tr("Drive real RC cars and fly RC helicopters with your sim racing wheel, pedals or joystick. "
           "Works with Moza, Fanatec and Logitech on Windows; Logitech on Linux."),
        {tr("RC Car"), tr("RC Helicopter")}, &m_carCardPill);
    car->setObjectName(QStringLiteral("productCard_corvane"));
    m_carCardPill->setObjectName(QStringLiteral("carCardPill"));
    connect(car, &Card::clicked, this, [this] { onNavigate(2); });
    Card *motion = buildProductCard(
        grid, content, QStringLiteral("MS"), 1, tr("QOR Motion System"), tr("Motion platforms"),
        tr("Connect the motion controller over USB, test each movement and tune intensity, travel, speed, "
           "smoothness and park position. One controller drives every platform."),
        {tr("2DOF"), tr("3DOF"), tr("5DOF")}, &m_motionCardPill);
    motion->setObjectName(QStringLiteral("productCard_motion"));
    m_motionCardPill->setObjectName(QStringLiteral("motionCardPill"));
    connect(motion, &Card::clicked, this, [this] { onNavigate(1); });
    layout->addStretch(1);
    return makePageScrollArea(content);
}

Card *MainWindow::buildProductCard(ResponsiveGrid *grid, QWidget *parent, const QString &monogram, int index,
                                   const QString &title, const QString &kicker, const QString &description,
                                   const QStringList &chips, Pill **statusPill)
{
    auto *card = new Card(parent, 2);
    card->setClickable(true);
    QVBoxLayout *content = card->contentLayout();
    content->setContentsMargins(28, 28, 28, 28);
    content->setSpacing(22);

    auto *header = new QHBoxLayout;
    header->setSpacing(16);
    header->addWidget(new Monogram(monogram, index, 56, card));
    auto *titles = new QVBoxLayout;
    titles->setSpacing(3);
    // On a laptop screen the grid's columns are narrower than a title beside the arrow: wrap.
    for (QLabel *label : {makeStyledLabel(title, spacedFont(19, 600, -0.3), ThemeColors::ink, card),
                          makeStyledLabel(kicker, uiFont(13.5, 400), ThemeColors::textMuted, card)}) {
        label->setWordWrap(true);
        titles->addWidget(label);
    }
    header->addLayout(titles);
    header->addStretch(1);
    auto *arrow = new QLabel(QStringLiteral("\u2192"), card);
    arrow->setFixedSize(36, 36);
    arrow->setAlignment(Qt::AlignCenter);
    arrow->setFont(uiFont(16, 400));
    arrow->setStyleSheet(QStringLiteral("background: %1; border-radius: 18px; color: %2;")
                             .arg(colorHex(ThemeColors::ink), colorHex(ThemeColors::windowBg)));
    header->addWidget(arrow);
    content->addLayout(header);

    auto *text = new QLabel(description, card);
    text->setWordWrap(true);
    text->setFont(uiFont(14.5, 400));
    text->setStyleSheet(QStringLiteral("color: %1; line-height: 155%;").arg(colorHex(ThemeColors::textSecondary)));
    content->addWidget(text);

    auto *chipRow = new QWidget(card);
    auto *flow = new FlowLayout(chipRow, 8, 8);
    *statusPill = new Pill(chipRow);
    flow->addWidget(*statusPill);
    for (const QString &chip : chips)
        flow->addWidget(makeChip(chip, chipRow));
    content->addWidget(chipRow);
    content->addStretch(1);
    grid->addWidget(card);
    return card;
}

QScrollArea *MainWindow::buildChooserPage(const QString &title, const QString &subtitle, QWidget **content,
                                          ResponsiveGrid **grid)
{
    QVBoxLayout *layout = nullptr;
    *content = makePageContent(&layout);
    auto *heading = new QVBoxLayout;
    heading->setSpacing(4);
    heading->addWidget(makeStyledLabel(title, uiFont(17, 600), ThemeColors::ink, *content));
    heading->addWidget(makeStyledLabel(subtitle, uiFont(14, 400), ThemeColors::textMuted, *content));
    layout->addLayout(heading);
    *grid = new ResponsiveGrid(260, 16);
    layout->addLayout(*grid);
    layout->addStretch(1);
    return makePageScrollArea(*content);
}

QWidget *MainWindow::buildVehiclePage()
{
    QWidget *content = nullptr;
    ResponsiveGrid *grid = nullptr;
    QScrollArea *page = buildChooserPage(tr("What are you driving?"),
                                         tr("Pick a vehicle type. You can switch at any time."), &content, &grid);
    grid->addWidget(buildVehicleCard(
        content, QStringLiteral("RC"), 0, tr("RC Car"),
        tr("Use your wheel, pedals and shifter to drive an RC car. The original Corvane experience."), true,
        QStringLiteral("rc_car")));
    grid->addWidget(buildVehicleCard(
        content, QStringLiteral("RH"), 1, tr("RC Helicopter"),
        tr("Fly an RC helicopter with a joystick, throttle and pedals. Set up inputs, channels and calibration."),
        true, QStringLiteral("rc_helicopter")));
    grid->addWidget(buildVehicleCard(content, QStringLiteral("RA"), 2, tr("RC Airplane"),
                                     tr("Fixed-wing RC airplane support is on the way."), false,
                                     QStringLiteral("rc_airplane")));
    return page;
}

Card *MainWindow::buildVehicleCard(QWidget *parent, const QString &monogram, int index, const QString &title,
                                   const QString &description, bool enabled, const QString &key)
{
    Card *card = makeChooserCard(parent, monogram, index, title, description, enabled);
    card->setObjectName(QStringLiteral("vehicleCard_") + key);
    if (enabled)
        connect(card, &Card::clicked, this, [this, key] { selectVehicle(key); });
    return card;
}

QWidget *MainWindow::buildHelicopterPage()
{
    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(8, 0, 8, 0);
    m_helicopterWidget = new corvane::HelicopterSetupWidget(m_controller, content);
    layout->addWidget(m_helicopterWidget);
    return makePageScrollArea(content);
}

QWidget *MainWindow::buildMotionPlatformPage()
{
    QWidget *content = nullptr;
    ResponsiveGrid *grid = nullptr;
    QScrollArea *page = buildChooserPage(tr("Which platform do you have?"),
                                         tr("One controller drives every platform \u2014 pick yours to see its tests."),
                                         &content, &grid);
    grid->setMaxColumns(3);
    grid->addWidget(buildPlatformCard(content, QStringLiteral("2D"), tr("2DOF QOR Motion System"),
                                      tr("Two degrees of freedom \u2014 yaw and surge motion platform."),
                                      QStringLiteral("motion_2dof")));
    grid->addWidget(buildPlatformCard(content, QStringLiteral("3D"), tr("3DOF QOR Motion System"),
                                      tr("Three degrees of freedom \u2014 pitch, roll and heave motion platform."),
                                      QStringLiteral("motion_3dof")));
    grid->addWidget(buildPlatformCard(
        content, QStringLiteral("5D"), tr("5DOF QOR Motion System"),
        tr("Five degrees of freedom \u2014 pitch, roll, heave, yaw and surge motion platform."),
        QStringLiteral("motion_5dof")));
    return page;
}

Card *MainWindow::buildPlatformCard(QWidget *parent, const QString &monogram, const QString &title,
                                    const QString &description, const QString &key)
{
    Card *card = makeChooserCard(parent, monogram, Monogram::Info, title, description, true);
    card->setObjectName(QStringLiteral("motionCard_") + key);
    connect(card, &Card::clicked, this, [this, key] { selectMotionPlatform(key); });
    return card;
}

QWidget *MainWindow::buildMotionPage()
{
    m_motionController = new corvane::MotionSystemController(this);
    m_motionWidget = new corvane::MotionSystemWidget(m_motionController);
    m_motionWidget->followPortsOf(m_controller);
    connect(m_motionController, &corvane::MotionSystemController::connectedChanged, this,
            &MainWindow::updateConnectionStatus);
    connect(m_motionController, &corvane::MotionSystemController::controllerStateChanged, this,
            &MainWindow::updateConnectionStatus);
    return makePageScrollArea(m_motionWidget);
}

void MainWindow::selectVehicle(const QString &key)
{
    if (key.startsWith(QLatin1String("motion_"))) {
        selectMotionPlatform(key);
        return;
    }
    if (key == QLatin1String("rc_car")) {
        switchVehicle(key, tr("Default"), [this] { openCarPage(); });
        return;
    }
    if (key == QLatin1String("rc_helicopter")) {
        if (!corvane::DisclaimerDialog::ensureAccepted(this))
            return;
        switchVehicle(key, tr("RC Helicopter"), [this] {
            m_helicopterWidget->refreshFromController();
            applyPageRow(HelicopterPage, true);
        });
        return;
    }
    showToast(this, tr("RC Airplane support is coming soon"));
}

void MainWindow::switchVehicle(const QString &vehicleType, const QString &preferredName,
                               const std::function<void()> &openPage)
{
    // The page opens once the switch is on disk. Where it failed the store has said why, has
    // taken the switch back, and the page stays as it is.
    struct Switch
    {
        bool made = false;
        bool handedOver = false;
    };
    const auto state = std::make_shared<Switch>();
    const auto stored = [self = QPointer<MainWindow>(this), state, openPage](const QString &failure) {
        if (!self || !state->made || !failure.isEmpty())
            return;
        // Not inside the writer's report: opening may ask something (the disclaimer, the guide).
        if (state->handedOver)
            QMetaObject::invokeMethod(self.data(), openPage, Qt::QueuedConnection);
        else
            openPage();
    };
    corvane::ProfileManager *profiles = m_controller->profileManager();
    corvane::FileWriter::shared().batch(
        [&] { state->made = !profiles->switchVehicleType(vehicleType, preferredName).isEmpty(); }, stored);
    state->handedOver = true;
}

void MainWindow::selectMotionPlatform(const QString &key)
{
    static const QHash<QString, int> dofs = {
        {QStringLiteral("motion_2dof"), 2}, {QStringLiteral("motion_3dof"), 3}, {QStringLiteral("motion_5dof"), 5}};
    const int dof = dofs.value(key);
    if (!dof)
        return;
    if (m_motionWidget)
        m_motionWidget->setPlatformDof(dof);
    applyPageRow(MotionPage, true);
}

namespace {

// A stack asks every page for its height at a width, shown or not: a page set aside by
// switchStackPage (vertical policy Ignored) answers that it needs none.
class GridPage : public QWidget
{
public:
    using QWidget::QWidget;

    int heightForWidth(int width) const override
    {
        return sizePolicy().verticalPolicy() == QSizePolicy::Ignored ? 0 : QWidget::heightForWidth(width);
    }
};

} // namespace

QWidget *MainWindow::addGridPage(QStackedWidget *stack, ResponsiveGrid **grid)
{
    auto *page = new GridPage(stack);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto *container = new QWidget(page);
    *grid = new ResponsiveGrid(260, 4, container);
    (*grid)->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(container);
    layout->addStretch(1);
    stack->addWidget(page);
    return page;
}

void MainWindow::switchStackPage(QStackedWidget *stack, int index)
{
    // Hidden pages claim no height, so the stack is as tall as the page shown.
    for (int i = 0; i < stack->count(); ++i)
        stack->widget(i)->setSizePolicy(QSizePolicy::Preferred,
                                        i == index ? QSizePolicy::Preferred : QSizePolicy::Ignored);
    stack->setCurrentIndex(index);
    stack->adjustSize();
    // adjustSize leaves the stack at its hinted width: the parent layout sizes it again.
    stack->updateGeometry();
}

void fillInputDeviceCombo(const QList<corvane::InputDeviceInfo> &devices, QComboBox *combo,
                          const QString &placeholder)
{
    combo->clear();
    combo->addItem(placeholder, -1);
    for (const corvane::InputDeviceInfo &device : devices) {
        // No English translation is loaded to give %n its singular: the count picks the text.
        QString text = (device.numAxes == 1 ? MainWindow::tr("%1 (%2 axis, %3 btn)")
                                            : MainWindow::tr("%1 (%2 axes, %3 btn)"))
                           .arg(ostra::isolatedText(device.name))
                           .arg(device.numAxes)
                           .arg(device.numButtons);
        if (device.supportsFfb)
            text += QStringLiteral(" [FFB]");
        combo->addItem(text, device.index);
    }
}

void MainWindow::addChipGroup(Card *card, const QString &heading, const QStringList &chips)
{
    card->contentLayout()->addWidget(makeStyledLabel(heading, uiFont(13, 600), ThemeColors::textMuted, card));
    auto *row = new QWidget(card);
    auto *flow = new FlowLayout(row, 8, 8);
    for (const QString &chip : chips)
        flow->addWidget(makeChip(chip, row));
    card->contentLayout()->addWidget(row);
}

QFrame *MainWindow::addValueTile(QHBoxLayout *row, const QString &caption, QLabel **valueLabel, int stretch)
{
    auto *tile = new QFrame;
    tile->setProperty("tile", true);
    auto *layout = new QVBoxLayout(tile);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(2);
    layout->addWidget(makeRoleLabel(caption, "muted", tile));
    *valueLabel = new QLabel(QStringLiteral("\u2014"), tile);
    (*valueLabel)->setFont(uiFont(20, 600));
    layout->addWidget(*valueLabel);
    row->addWidget(tile, stretch);
    return tile;
}
