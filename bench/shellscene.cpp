#include "bench/shellscene.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QThread>
#include <QVBoxLayout>

#include <cmath>

#include "ostraui/ambientbackground.h"
#include "ostraui/components.h"
#include "ostraui/mapview.h"
#include "ostraui/pageheader.h"
#include "ostraui/pagestack.h"
#include "ostraui/sidebar.h"
#include "ostraui/theme.h"
#include "ostraui/titlebar.h"
#include "tests/support/tileserver.h"

namespace benchshell {

namespace {

ostra::Card *titledCard(QWidget *page, const QString &title)
{
    auto *card = new ostra::Card(page, 1);
    card->contentLayout()->addWidget(ostra::makeRoleLabel(title, "h2"));
    return card;
}

ostra::DeviceRow *deviceRow(const QString &monogram, const QString &title, const QString &device, int status)
{
    auto *row = new ostra::DeviceRow(monogram, title, QStringLiteral("USB"));
    row->combo()->addItems({QStringLiteral("Choose a device"), device});
    row->combo()->setCurrentIndex(1);
    row->setStatus(status);
    return row;
}

} // namespace

void driveLongTrail(ostra::MapView *map, int &fix)
{
    for (int i = 0; i < 3000; ++i) {
        ++fix;
        map->setPosition(51.5 + fix * 2e-5, -0.12 + std::sin(fix / 50.0) * 1e-3, fix % 360, true);
    }
}

void waitForTiles(QWidget *top, const ostratest::TileServer &server)
{
    QElapsedTimer waited;
    waited.start();
    int served = -1;
    while (waited.elapsed() < 5000 && served != int(server.requests.size())) {
        served = int(server.requests.size());
        for (int i = 0; i < 20; ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(5);
        }
        top->repaint();
    }
}

ShellScene::ShellScene(const QSize &size, const QString &tileBase)
    : m_window(new ostra::AmbientBackground)
{
    m_window->setWindowFlag(Qt::FramelessWindowHint);
    m_window->resize(size);
    auto *outer = new QHBoxLayout(m_window);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(new ostra::Sidebar(QStringLiteral("v0.1.0")));

    auto *column = new QVBoxLayout;
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(new ostra::TitleBar(m_window));
    auto *body = new QVBoxLayout;
    body->setContentsMargins(28, 0, 28, 24);
    auto *header = new ostra::PageHeader;
    header->setTitle(QStringLiteral("Dashboard"));
    header->setBackText(QStringLiteral("Vehicles"));
    auto *stop = new ostra::TxButton;
    stop->setState(ostra::TxStop);
    header->actionsRow()->addWidget(stop);
    body->addWidget(header);
    auto *stack = new ostra::PageStack;
    body->addWidget(stack, 1);
    column->addLayout(body, 1);
    outer->addLayout(column, 1);

    auto *page = new QWidget;
    auto *grid = new QGridLayout(page);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(18);

    ostra::Card *devices = titledCard(page, QStringLiteral("Devices"));
    devices->contentLayout()->addWidget(deviceRow(QStringLiteral("TX"), QStringLiteral("Transmitter"),
                                                  QStringLiteral("QOR Transmitter"), ostra::DeviceConnected));
    devices->contentLayout()->addWidget(deviceRow(QStringLiteral("WB"), QStringLiteral("Wheel base"),
                                                  QStringLiteral("MOZA R9"), ostra::DeviceConnected));
    devices->contentLayout()->addWidget(deviceRow(QStringLiteral("PD"), QStringLiteral("Pedals"),
                                                  QStringLiteral("MOZA SRP"), ostra::DeviceConnecting));
    grid->addWidget(devices, 0, 0, 1, 2);

    ostra::Card *live = titledCard(page, QStringLiteral("Live input"));
    for (const QColor &color : {ostra::ThemeColors::accent, ostra::ThemeColors::successAccent,
                                ostra::ThemeColors::dangerAccent}) {
        auto *meter = new ostra::Meter(nullptr, color);
        live->contentLayout()->addWidget(meter);
        m_meters.append(meter);
    }
    auto *pills = new QHBoxLayout;
    auto *link = new ostra::Pill(nullptr, ostra::Pill::KeyValue);
    link->setKeyValue(QStringLiteral("Link"), QStringLiteral("98 %"));
    pills->addWidget(link);
    auto *battery = new ostra::Pill;
    battery->setLevel(ostra::LevelSuccess);
    battery->setText(QStringLiteral("7.9 V"));
    pills->addWidget(battery);
    pills->addStretch(1);
    live->contentLayout()->addLayout(pills);
    live->contentLayout()->addStretch(1);
    grid->addWidget(live, 0, 2);

    ostra::Card *channels = titledCard(page, QStringLiteral("Channels"));
    auto *cells = new QGridLayout;
    for (int i = 0; i < 16; ++i) {
        auto *cell = new ostra::ChannelCell(i + 1);
        cells->addWidget(cell, i / 8, i % 8);
        m_channels.append(cell);
    }
    channels->contentLayout()->addLayout(cells);
    grid->addWidget(channels, 1, 0, 1, 2);

    ostra::Card *gps = titledCard(page, QStringLiteral("GPS"));
    m_map = new ostra::MapView;
    m_map->setTileServer(tileBase, QString::fromUtf8("\u00A9 OpenStreetMap contributors"));
    m_map->setMinimumHeight(200);
    gps->contentLayout()->addWidget(m_map, 1);
    grid->addWidget(gps, 1, 2);
    grid->setRowStretch(1, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);
    stack->addWidget(page);

    driveLongTrail(m_map, m_fix);
    nextLiveValues();
}

ShellScene::~ShellScene()
{
    delete m_window;
}

void ShellScene::nextFix()
{
    ++m_fix;
    m_map->setPosition(51.5 + m_fix * 2e-5, -0.12 + std::sin(m_fix / 50.0) * 1e-3, m_fix % 360, true);
}

void ShellScene::nextLiveValues()
{
    ++m_live;
    for (int i = 0; i < m_meters.size(); ++i)
        m_meters[i]->setValue(0.5 + 0.5 * std::sin(m_live * 0.07 + i));
    // Steering and throttle move; the switch channels hold their positions.
    for (int i = 0; i < m_channels.size(); ++i)
        m_channels[i]->setValue(i < 2 ? 1500 + int(400 * std::sin(m_live * 0.05 + i)) : (i % 3 ? 1000 : 2000));
}

} // namespace benchshell
