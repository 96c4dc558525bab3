#pragma once

#include <QPixmap>
#include <QRectF>
#include <QRegion>
#include <QWidget>

#include <vector>

#include "dialogs/dashboardsettingsdialog.h"

class QPushButton;
class QTimer;

namespace ostra {
class PassBuilder;
}

namespace corvane {

class CorvaneController;

// A full-screen driving dashboard: speed bar, speed gauge, gear, pit limiter and pedal bars.
// The speed is simulated every 16 ms from the pedals with the model set in its settings.
class DashboardWidget : public QWidget
{
    Q_OBJECT
public:
    DashboardWidget(CorvaneController *controller, QWidget *parent = nullptr);

    void loadSettings();
    DashboardSettings settings() const { return m_settings; }
    float speedKmh() const { return m_speed; }

    // Segments of the 15-segment speed bar lit at a fraction of top speed.
    static int litSegmentCount(float frac);
    // The gauge's eleven labels for the shown top speed.
    static QStringList gaugeLabels(const DashboardSettings &settings);
    static QString gearText(int gear);
    // Its layers at the size it has and the lettering's glyphs, to be made ahead of showing it.
    ostra::PassBuilder *firstPaintParts() const { return m_layerPasses; }

public slots:
    void tick();
    void openSettings();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    struct Layout
    {
        QRectF speedBar;
        QRectF pedalPanel;
        QRectF gearBox;
        QRectF pitBadge;
        QPointF centre;
        double radius = 0;
        QRectF brakeBar;
        QRectF gasBar;
    };

    Layout computeLayout() const;
    // The parts whose picture changed since the last tick; the rest of the window stays as drawn.
    QRegion changedRegion(float oldFrac, int oldLit, long oldShown, float oldThrottle, float oldBrake,
                          int oldGear, bool oldPit) const;
    long shownSpeed() const;
    float topSpeed() const;
    // The parts that only change with size or settings, drawn once into pixmaps.
    void buildStaticLayers(const Layout &l);
    void buildBaseLayer(const Layout &l);
    // The base layer in parts: a new one at this size, a band of its backdrop, what lies on it.
    void startBaseLayer();
    void fillBaseBackdrop(int top, int bottom);
    void drawBaseShapes(const Layout &l);
    void buildGaugeOverlay(const Layout &l);
    void buildPedalOverlay(const Layout &l);
    ostra::PassBuilder *makeLayerPasses();
    void drawShiftLights(QPainter &p, const QRectF &bar, float frac);
    void drawPedalBars(QPainter &p, const Layout &l);
    void drawPedalBar(QPainter &p, const QRectF &bar, float value, const QColor &color);
    void drawSpeedGauge(QPainter &p, const Layout &l, float frac);
    void drawGearBox(QPainter &p, const QRectF &box);
    void drawPitLimiter(QPainter &p, const QRectF &box);

    CorvaneController *m_controller;
    DashboardSettings m_settings;
    QTimer *m_tickTimer;
    QPushButton *m_closeButton;
    QPushButton *m_settingsButton;
    float m_speed = 0.0f;
    float m_throttle = 0.0f;
    float m_brake = 0.0f;
    int m_gear = 0;
    bool m_pitLimiter = false;
    float m_clock = 0.0f;

    Layout m_layout;
    // What a new speed repaints: the ring of the value arc and pointer, and the number.
    QRegion m_gaugeRing;
    QRect m_speedBox;
    QPixmap m_baseLayer;        // background, bar tracks, gauge track and red zone, gear box
    // The overlays are drawn part by part: the ticks, labels and unit of the gauge, and the
    // ticks and labels of the pedal bars, in widget pixels.
    QPixmap m_gaugeOverlay;     // ticks, labels and unit over the value arc
    QPoint m_gaugeOverlayPos;
    std::vector<QRect> m_gaugeOverlayParts;
    QPixmap m_pedalOverlay;     // pedal ticks and labels over the fills
    QPoint m_pedalOverlayPos;
    std::vector<QRect> m_pedalOverlayParts;
    bool m_layersValid = false;
    ostra::PassBuilder *m_layerPasses = nullptr;
    bool m_baseFirst = false;
};

} // namespace corvane
