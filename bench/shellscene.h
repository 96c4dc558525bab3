#pragma once

#include <QList>
#include <QSize>
#include <QString>

class QWidget;

namespace ostratest {
class TileServer;
}

namespace ostra {
class AmbientBackground;
class ChannelCell;
class MapView;
class Meter;
} // namespace ostra

namespace benchshell {

// The main window's shell as the kit composes it, for measuring what it costs to keep on
// screen: ambient backdrop, sidebar, title bar, page header and a page of cards (devices,
// transmission, live input, channels, and the map with a long trail in a card).
class ShellScene
{
public:
    ShellScene(const QSize &size, const QString &tileBase);
    ~ShellScene();

    ostra::AmbientBackground *window() const { return m_window; }
    ostra::MapView *map() const { return m_map; }

    // One GPS fix more along a winding road, as the car reports it.
    void nextFix();
    // New live values, as the page takes them after each 16 ms monitor tick: three pedal
    // meters and the channel cells, of which steering and throttle move.
    void nextLiveValues();

private:
    ostra::AmbientBackground *m_window;
    ostra::MapView *m_map = nullptr;
    QList<ostra::Meter *> m_meters;
    QList<ostra::ChannelCell *> m_channels;
    int m_fix = 0;
    int m_live = 0;
};

// Puts the map on a long drive: a full trail of fixes ending where the next fix continues.
void driveLongTrail(ostra::MapView *map, int &fix);
// Lets the server answer the map's tile requests until no new one arrives (at most 5 s).
void waitForTiles(QWidget *top, const ostratest::TileServer &server);

} // namespace benchshell
