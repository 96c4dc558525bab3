#pragma once

#include <QPixmap>
#include <QStaticText>
#include <QWidget>

#include <array>
#include <vector>

class QAbstractButton;
class QCheckBox;
class QPushButton;
class QTimer;

namespace ostra {
class PassBuilder;
}

namespace corvane {

class CorvaneController;

// A full-screen artificial horizon for the helicopter: pitch and roll from the attitude
// telemetry, smoothed on a 33 ms tick, with a curtain once the telemetry has stopped.
class AttitudeIndicatorWidget : public QWidget
{
    Q_OBJECT
public:
    AttitudeIndicatorWidget(CorvaneController *controller, QWidget *parent = nullptr);

    float shownPitch() const { return m_shown[0]; }
    float shownRoll() const { return m_shown[1]; }
    float shownYaw() const { return m_shown[2]; }
    // No attitude ever, or none for about a second.
    bool isStale() const;
    static QString readout(float pitchDeg, float rollDeg);
    // What its first paint needs made at the size it has: the fixed layers, the controls'
    // looks and the lettering's glyphs, to be made ahead of showing it.
    ostra::PassBuilder *firstPaintParts() const { return m_firstPaint; }

public slots:
    void onAttitude(float pitchDeg, float rollDeg, float yawDeg);
    void onTick();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onInvertToggled();
    void buildStaticLayers();
    void placeControls();
    void makeGlyphs();
    void drawHorizon(QPainter &p);
    void drawPitchLadder(QPainter &p, double k);
    void drawRollScale(QPainter &p, const QPointF &c, double r);
    void drawRollPointer(QPainter &p);
    void drawAircraftSymbol(QPainter &p, const QPointF &c, double r);
    void drawOverlay(QPainter &p);
    static QString curtainText();
    quint64 controlState(const QAbstractButton *control) const;
    void updateControlLooks();

    CorvaneController *m_controller;
    QPushButton *m_closeButton;
    QTimer *m_tickTimer;
    std::array<QCheckBox *, 3> m_invert{}; // pitch, roll, yaw
    std::array<float, 3> m_shown{};        // pitch, roll, yaw in degrees
    std::array<float, 3> m_target{};
    quint32 m_ticksSinceAttitude = 0;
    bool m_received = false;
    bool m_staleShown = true; // whether the picture on screen has the curtain

    // Drawn once per size: the fixed marks (roll scale, aircraft symbol, titles).
    QPixmap m_fixedMarks;
    QPoint m_fixedMarksPos;
    std::vector<QRect> m_fixedMarksParts; // the roll scale's band and the aircraft symbol
    QPixmap m_titles;
    QFont m_ladderFont;
    // The ladder's numbers 10 .. 80, laid out once per size rather than on every frame.
    std::array<QStaticText, 8> m_ladderNumbers;
    QSize m_layersSize; // the window's size they were drawn for
    ostra::PassBuilder *m_firstPaint;

    // Each control's look (close button, then the three boxes) as last painted, with the state
    // it was painted in: the window repaints under them on every frame, their look rarely
    // changes, and painting them through their style sheets anew costs a fifth of a frame.
    struct ControlLook
    {
        QPixmap pixmap;
        quint64 state = 0;
    };
    std::array<ControlLook, 4> m_controlLooks;
    bool m_paintingControlLooks = false;
};

} // namespace corvane
