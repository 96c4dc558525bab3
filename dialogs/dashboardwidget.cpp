#include "dialogs/dashboardwidget.h"

#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>

#include "bridge/corvanecontroller.h"
#include "dialogs/livedisplaypaint.h"
#include "ostraui/passbuilder.h"
#include "platform/storage/settingsfile.h"

namespace corvane {

using livedisplay::consolas;
using livedisplay::drawLayerParts;
using livedisplay::transparentPixmap;

namespace {

constexpr float TickSeconds = 0.016f;
constexpr int Segments = 15;
// The base layer's backdrop is made a band per pass: a full screen's at once takes longer than
// the channel tick's interval. Its parts are a new layer, the bands, and what lies on them.
constexpr int BackdropBands = 3;
constexpr int BaseLayerParts = BackdropBands + 2;

const QString ButtonStyle = QStringLiteral(
    "QPushButton { background: rgba(30,36,46,180); color: #D4D4D4; border: 1px solid #383838; "
    "border-radius: 18px; font-size: 16pt; padding: 0px; }"
    "QPushButton:hover { background: rgba(60,70,86,220); color: #fff; }");

// A point on the gauge: scale position p (0..1) runs clockwise from 225° to −45°.
QPointF gaugePoint(const QPointF &centre, double radius, double p)
{
    const double a = (225.0 - 270.0 * p) * M_PI / 180.0;
    return {centre.x() + radius * std::cos(a), centre.y() - radius * std::sin(a)};
}

QRectF gaugeSquare(const QPointF &centre, double radius)
{
    return {centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius};
}

// The whole pixels of the ring between two radii, in strips of eight rows; a strip leaves out
// only what lies inside the inner circle on all its rows.
QRegion ringRegion(const QPointF &centre, double inner, double outer)
{
    constexpr int Strip = 8;
    std::vector<QRect> rects;
    for (int y = int(std::floor(centre.y() - outer)); y < centre.y() + outer; y += Strip) {
        const double nearest = std::abs(std::clamp(centre.y(), double(y), double(y + Strip)) - centre.y());
        const double farthest = std::max(std::abs(y - centre.y()), std::abs(y + Strip - centre.y()));
        const double outerHalf = std::sqrt(std::max(0.0, outer * outer - nearest * nearest));
        const int left = int(std::floor(centre.x() - outerHalf));
        const int right = int(std::ceil(centre.x() + outerHalf));
        const double innerHalf = farthest < inner ? std::sqrt(inner * inner - farthest * farthest) : 0.0;
        const int holeLeft = int(std::ceil(centre.x() - innerHalf));
        const int holeRight = int(std::floor(centre.x() + innerHalf));
        if (holeRight - holeLeft < 1) {
            rects.emplace_back(left, y, right - left, Strip);
        } else {
            rects.emplace_back(left, y, holeLeft - left, Strip);
            rects.emplace_back(holeRight, y, right - holeRight, Strip);
        }
    }
    QRegion region;
    region.setRects(rects.data(), int(rects.size()));
    return region;
}

// The part of a pedal bar that changes when its value goes from one to the other: between the
// two fill ends and the rounded ends around them (a short fill's rounding changes all along it).
QRect pedalSlice(const QRectF &bar, float from, float to)
{
    const double a = bar.width() * std::clamp(double(std::min(from, to)), 0.0, 1.0);
    const double b = bar.width() * std::clamp(double(std::max(from, to)), 0.0, 1.0);
    const double left = a < 14.0 ? 0.0 : a - 8.0;
    return QRectF(bar.left() + left, bar.top(), b + 8.0 - left, bar.height()).intersected(bar).toAlignedRect();
}

} // namespace

DashboardWidget::DashboardWidget(CorvaneController *controller, QWidget *parent)
    : QWidget(parent), m_controller(controller)
{
    setWindowTitle(tr("Dashboard"));
    // The dark theme's style-sheet rewriting leaves these fixed colours alone.
    setProperty("ostraKeepColors", true);
    setWindowFlag(Qt::Window);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(640, 360);

    loadSettings();
    // A hand edit or a tool changed them: the dashboard shows what the file holds.
    connect(new SettingsFile(this), &SettingsFile::changedOnDisk, this, [this](const QStringList &keys) {
        if (std::any_of(keys.cbegin(), keys.cend(), [](const QString &key) { return key.startsWith(QLatin1String("dashboard/")); }))
            loadSettings();
    });

    m_settingsButton = new QPushButton(QStringLiteral("⚙"), this);
    m_closeButton = new QPushButton(QStringLiteral("✕"), this);
    for (QPushButton *button : {m_settingsButton, m_closeButton}) {
        button->setFixedSize(36, 36);
        button->setCursor(Qt::PointingHandCursor);
        button->setStyleSheet(ButtonStyle);
    }
    connect(m_settingsButton, &QPushButton::clicked, this, &DashboardWidget::openSettings);
    connect(m_closeButton, &QPushButton::clicked, this, &QWidget::close);

    m_tickTimer = new QTimer(this);
    m_tickTimer->setInterval(16);
    connect(m_tickTimer, &QTimer::timeout, this, &DashboardWidget::tick);
    m_tickTimer->start();
    m_layerPasses = makeLayerPasses();
}

void DashboardWidget::loadSettings()
{
    const SettingsFile store;
    m_settings.useMph = store.value(QStringLiteral("dashboard/useMph"), m_settings.useMph).toBool();
    m_settings.topSpeedKmh = store.value(QStringLiteral("dashboard/topSpeedKmh"), m_settings.topSpeedKmh).toInt();
    m_settings.accel = store.value(QStringLiteral("dashboard/accel"), m_settings.accel).toInt();
    m_settings.decel = store.value(QStringLiteral("dashboard/decel"), m_settings.decel).toInt();
    m_layersValid = false;
}

int DashboardWidget::litSegmentCount(float frac)
{
    return int(std::lround(std::clamp(frac, 0.0f, 1.0f) * Segments));
}

QStringList DashboardWidget::gaugeLabels(const DashboardSettings &settings)
{
    const double top = settings.useMph ? settings.topSpeedKmh * DashboardSettingsDialog::KmhToMph
                                       : double(settings.topSpeedKmh);
    QStringList labels;
    for (int i = 0; i <= 10; ++i)
        labels << QString::number(std::lround(top * i / 10.0));
    return labels;
}

QString DashboardWidget::gearText(int gear)
{
    if (gear < 0)
        return QStringLiteral("R");
    if (gear == 0)
        return QStringLiteral("N");
    return QString::number(gear);
}

float DashboardWidget::topSpeed() const
{
    return m_settings.topSpeedKmh < 2 ? 1.0f : float(m_settings.topSpeedKmh);
}

void DashboardWidget::tick()
{
    const float oldThrottle = m_throttle;
    const float oldBrake = m_brake;
    const int oldGear = m_gear;
    const bool oldPit = m_pitLimiter;
    if (m_controller) {
        m_throttle = std::clamp(CorvaneController::processAxis(m_controller->throttleAxisConfig(),
                                                               m_controller->throttle(), false),
                                0.0f, 1.0f);
        m_brake = std::clamp(CorvaneController::processAxis(m_controller->brakeAxisConfig(),
                                                            m_controller->brake(), false),
                             0.0f, 1.0f);
        m_gear = m_controller->currentGear();
        m_pitLimiter = m_controller->isPitLimiterActive();
    }
    const float oldFrac = std::clamp(m_speed / topSpeed(), 0.0f, 1.0f);
    const long oldShown = shownSpeed();
    const float top = topSpeed();
    const float a = float(m_settings.accel);
    const float d = float(m_settings.decel);
    const float t = m_throttle;
    float speed = m_speed + std::max(0.0f, 1.0f - m_speed / top) * a * t * TickSeconds
                  - d * m_brake * TickSeconds - (1.0f - t) * d * 0.18f * TickSeconds;
    m_speed = std::clamp(speed, 0.0f, top);
    m_clock += TickSeconds;
    if (!m_layersValid) {
        // The last of the layer passes paints the whole picture; a paint before it would make
        // all the layers at once.
        if (m_layerPasses->isFinished())
            update();
        return;
    }
    const QRegion dirty = changedRegion(oldFrac, litSegmentCount(oldFrac), oldShown, oldThrottle, oldBrake,
                                        oldGear, oldPit);
    if (!dirty.isEmpty())
        update(dirty);
}

long DashboardWidget::shownSpeed() const
{
    return std::lround(m_settings.useMph ? m_speed * DashboardSettingsDialog::KmhToMph : m_speed);
}

QRegion DashboardWidget::changedRegion(float oldFrac, int oldLit, long oldShown, float oldThrottle,
                                       float oldBrake, int oldGear, bool oldPit) const
{
    const Layout &l = m_layout;
    const float frac = std::clamp(m_speed / topSpeed(), 0.0f, 1.0f);
    QRegion dirty;
    if (litSegmentCount(frac) != oldLit)
        dirty += l.speedBar.adjusted(-3, -3, 3, 3).toAlignedRect();
    // The whole arc takes the colour of the new speed.
    if (frac != oldFrac)
        dirty += m_gaugeRing;
    if (shownSpeed() != oldShown)
        dirty += m_speedBox;
    if (m_brake != oldBrake)
        dirty += pedalSlice(l.brakeBar, oldBrake, m_brake);
    if (m_throttle != oldThrottle)
        dirty += pedalSlice(l.gasBar, oldThrottle, m_throttle);
    if (m_gear != oldGear)
        dirty += l.gearBox.toAlignedRect();
    if (m_pitLimiter || m_pitLimiter != oldPit)
        dirty += l.pitBadge.toAlignedRect();
    return dirty;
}

void DashboardWidget::openSettings()
{
    DashboardSettingsDialog dialog(m_settings, this);
    if (dialog.exec() == QDialog::Accepted)
        loadSettings();
    setFocus();
}

DashboardWidget::Layout DashboardWidget::computeLayout() const
{
    const double w = width();
    const double h = height();
    Layout l;
    l.speedBar = QRectF((w - 0.42 * w) / 2, 0.05 * h, 0.42 * w, 0.05 * h);
    l.pedalPanel = QRectF((w - 0.7 * w) / 2, h - 0.18 * h - 0.05 * h, 0.7 * w, 0.18 * h);
    l.gearBox = QRectF(0.04 * w, 0.08 * h, 0.10 * w, 0.16 * h);
    l.pitBadge = QRectF(l.gearBox.left(), l.gearBox.bottom() + 10, 0.10 * w, 0.05 * h);
    const double y0 = l.speedBar.bottom() + 0.03 * h;
    const double room = std::max(20.0, (l.pedalPanel.top() - 0.03 * h) - y0);
    l.radius = std::min(room / 2, 0.24 * w);
    l.centre = QPointF(w / 2, y0 + 1.16 * l.radius);
    const double barHeight = 0.34 * l.pedalPanel.height();
    l.brakeBar = QRectF(l.pedalPanel.left(), l.pedalPanel.top(), l.pedalPanel.width(), barHeight);
    l.gasBar = QRectF(l.pedalPanel.left(), l.pedalPanel.top() + barHeight + 0.18 * l.pedalPanel.height(),
                      l.pedalPanel.width(), barHeight);
    return l;
}

void DashboardWidget::buildStaticLayers(const Layout &l)
{
    buildBaseLayer(l);
    buildGaugeOverlay(l);
    buildPedalOverlay(l);
    m_layersValid = true;
}

void DashboardWidget::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Unless its layers were made ahead, the first picture on screen is the base layer alone:
    // all layers at once would hold up the channel stream. A picture taken otherwise is whole.
    m_baseFirst = !m_layersValid;
}

ostra::PassBuilder *DashboardWidget::makeLayerPasses()
{
    // The layers one per pass of the event loop, and the lettering's glyphs made once before
    // the full picture shows. A size that changed meanwhile has them all drawn anew.
    auto *passes = new ostra::PassBuilder(this);
    passes->add([this] {
        m_layout = computeLayout();
        startBaseLayer();
    });
    for (int band = 0; band < BackdropBands; ++band) {
        passes->add([this, band] {
            fillBaseBackdrop(height() * band / BackdropBands, height() * (band + 1) / BackdropBands);
        });
    }
    passes->add([this] { drawBaseShapes(m_layout); });
    passes->add([this] { buildGaugeOverlay(m_layout); });
    passes->add([this] { buildPedalOverlay(m_layout); });
    passes->add([this] {
        QPixmap scratch(1, 1);
        QPainter p(&scratch);
        p.setFont(consolas(0.62 * m_layout.radius, true, true));
        p.drawText(QPointF(), QStringLiteral("0123456789"));
        p.setFont(consolas(0.6 * m_layout.gearBox.height(), true, true));
        p.drawText(QPointF(), QStringLiteral("RN123456789"));
        p.setFont(consolas(0.5 * m_layout.pitBadge.height(), true, false));
        p.drawText(QPointF(), tr("PIT LIMITER"));
        p.end();
        m_layersValid = m_baseLayer.deviceIndependentSize() == QSizeF(size());
        update();
    });
    return passes;
}

void DashboardWidget::buildBaseLayer(const Layout &l)
{
    startBaseLayer();
    fillBaseBackdrop(0, height());
    drawBaseShapes(l);
}

void DashboardWidget::startBaseLayer()
{
    const qreal dpr = devicePixelRatioF();
    m_baseLayer = QPixmap((QSizeF(size()) * dpr).toSize());
    m_baseLayer.setDevicePixelRatio(dpr);
}

void DashboardWidget::fillBaseBackdrop(int top, int bottom)
{
    QPainter p(&m_baseLayer);
    QLinearGradient background(0, 0, 0, height());
    background.setColorAt(0, QColor("#0d1117"));
    background.setColorAt(1, QColor("#05070a"));
    p.fillRect(QRect(0, top, width(), bottom - top), background);
}

void DashboardWidget::drawBaseShapes(const Layout &l)
{
    QPainter p(&m_baseLayer);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor("#161b23"));
    p.drawRoundedRect(l.brakeBar, 6, 6);
    p.drawRoundedRect(l.gasBar, 6, 6);

    const double r = l.radius;
    const QRectF square = gaugeSquare(l.centre, r);
    p.setBrush(Qt::NoBrush);
    QPen track(QColor("#2C2C2C"), 0.14 * r);
    track.setCapStyle(Qt::FlatCap);
    p.setPen(track);
    p.drawArc(square, 225 * 16, -270 * 16);
    track.setColor(QColor("#7a1f1f"));
    p.setPen(track);
    p.drawArc(square, -72, -647);

    // The gear box frame; the gear itself changes per frame.
    p.setPen(Qt::NoPen);
    QColor glow("#EF5350");
    glow.setAlpha(45);
    p.setBrush(glow);
    p.drawRoundedRect(l.gearBox.adjusted(-3, -3, 3, 3), 12, 12);
    p.setBrush(QColor("#10151d"));
    p.setPen(QPen(QColor("#EF5350"), 2));
    p.drawRoundedRect(l.gearBox, 10, 10);
}

void DashboardWidget::buildGaugeOverlay(const Layout &l)
{
    // Ticks, labels and unit sit over the value arc. The layers start on whole pixels, so
    // that they land where the marks would be drawn.
    const qreal dpr = devicePixelRatioF();
    const double r = l.radius;
    const QRect overlayRect = gaugeSquare(l.centre, 1.4 * r).toAlignedRect();
    m_gaugeOverlayPos = overlayRect.topLeft();
    m_gaugeOverlay = transparentPixmap(overlayRect.size(), dpr);
    m_gaugeOverlayParts.clear();
    {
        QPainter p(&m_gaugeOverlay);
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(-overlayRect.topLeft());
        const QStringList labels = gaugeLabels(m_settings);
        QPen tickPen(QColor("#5a6678"), 2);
        tickPen.setCapStyle(Qt::SquareCap);
        p.setFont(consolas(0.1 * r, false, true));
        for (int i = 0; i <= 10; ++i) {
            const double pos = i / 10.0;
            p.setPen(tickPen);
            const QLineF tick(gaugePoint(l.centre, 0.86 * r, pos), gaugePoint(l.centre, 1.02 * r, pos));
            p.drawLine(tick);
            const QPointF at = gaugePoint(l.centre, 1.16 * r, pos);
            const QRectF labelBox(at.x() - 0.18 * r, at.y() - 0.09 * r, 0.36 * r, 0.18 * r);
            p.setPen(QColor("#8a93a4"));
            p.drawText(labelBox, Qt::AlignCenter, labels.at(i));
            m_gaugeOverlayParts.push_back(QRectF(tick.p1(), tick.p2()).normalized().adjusted(-3, -3, 3, 3).toAlignedRect());
            m_gaugeOverlayParts.push_back(labelBox.adjusted(-2, -2, 2, 2).toAlignedRect());
        }
        const QRectF unitBox(l.centre.x() - r, l.centre.y() + 0.12 * r, 2 * r, 0.22 * r);
        p.setFont(consolas(0.14 * r, false, true));
        p.setPen(QColor("#7f8a9c"));
        const QString unit = m_settings.useMph ? QStringLiteral("MPH") : QStringLiteral("KM/H");
        p.drawText(unitBox, Qt::AlignCenter, unit);
        const QRectF inked = p.boundingRect(unitBox, Qt::AlignCenter, unit);
        m_gaugeOverlayParts.push_back(
            QRectF(inked.left() - 0.1 * r, unitBox.top(), inked.width() + 0.2 * r, unitBox.height()).toAlignedRect());
    }

    // The pointer reaches in to 0.78 R, the arc's glow and the pointer's disc out to 1.14 R;
    // the number is at most three digits wide.
    m_gaugeRing = ringRegion(l.centre, 0.76 * r, 1.16 * r);
    m_speedBox = QRectF(l.centre.x() - 0.8 * r, l.centre.y() - 0.55 * r, 1.6 * r, 0.7 * r).toAlignedRect();
}

void DashboardWidget::buildPedalOverlay(const Layout &l)
{
    // Pedal ticks and labels sit over the fills.
    const qreal dpr = devicePixelRatioF();
    const QRect panel = l.pedalPanel.toAlignedRect();
    m_pedalOverlayPos = panel.topLeft();
    m_pedalOverlay = transparentPixmap(panel.size(), dpr);
    m_pedalOverlayParts.clear();
    {
        QPainter p(&m_pedalOverlay);
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(-panel.topLeft());
        const std::pair<QRectF, QString> bars[] = {{l.brakeBar, QStringLiteral("BRAKE")},
                                                   {l.gasBar, QStringLiteral("GAS")}};
        for (const auto &[bar, label] : bars) {
            p.setPen(QPen(QColor(0, 0, 0, 90), 1));
            for (int i = 1; i <= 9; ++i) {
                const double x = bar.left() + bar.width() * i / 10.0;
                const QLineF tick(QPointF(x, bar.top() + 2), QPointF(x, bar.bottom() - 2));
                p.drawLine(tick);
                m_pedalOverlayParts.push_back(QRectF(tick.p1(), tick.p2()).adjusted(-2, -2, 2, 2).toAlignedRect());
            }
            const QRectF labelBox = bar.adjusted(10, 0, -10, 0);
            p.setFont(consolas(0.7 * bar.height(), true, true));
            p.setPen(QColor("#cdd5e1"));
            p.drawText(labelBox, Qt::AlignLeft | Qt::AlignVCenter, label);
            // The slant of the italic reaches past the advance.
            const QRectF inked = p.boundingRect(labelBox, Qt::AlignLeft | Qt::AlignVCenter, label);
            m_pedalOverlayParts.push_back(
                QRectF(inked.left() - 4, bar.top(), inked.width() + 0.4 * bar.height(), bar.height()).toAlignedRect());
        }
    }
}

void DashboardWidget::paintEvent(QPaintEvent *event)
{
    // Only the changed parts are repainted: copying the whole window each frame would cost
    // more than everything else drawn together.
    const auto drawBase = [this, event](QPainter &p) {
        const qreal dpr = m_baseLayer.devicePixelRatio();
        for (const QRect &r : event->region())
            p.drawPixmap(QRectF(r), m_baseLayer, QRectF(QPointF(r.topLeft()) * dpr, QSizeF(r.size()) * dpr));
    };
    if (m_baseFirst && windowHandle() && windowHandle()->isExposed()) {
        m_baseFirst = false;
        delete m_layerPasses;
        m_layerPasses = makeLayerPasses();
        for (int part = 0; part < BaseLayerParts; ++part)
            m_layerPasses->ensure(part);
        QPainter p(this);
        drawBase(p);
        m_layerPasses->start();
        return;
    }
    // Painted again before they came (or into a picture): all of them now.
    m_layerPasses->finish();
    if (!m_layersValid || m_baseLayer.deviceIndependentSize() != QSizeF(size())) {
        m_layout = computeLayout();
        buildStaticLayers(m_layout);
    }
    const Layout &l = m_layout;
    QPainter p(this);
    drawBase(p);
    p.setRenderHint(QPainter::Antialiasing);
    // A part outside the repainted region is left out: its text and paths would be laid out
    // and filled only to be clipped away.
    const QRegion &dirty = event->region();
    const float frac = std::clamp(m_speed / topSpeed(), 0.0f, 1.0f);
    if (dirty.intersects(l.speedBar.adjusted(-3, -3, 3, 3).toAlignedRect()))
        drawShiftLights(p, l.speedBar, frac);
    if (dirty.intersects(l.pedalPanel.toAlignedRect()))
        drawPedalBars(p, l);
    if (dirty.intersects(QRect(m_gaugeOverlayPos, m_gaugeOverlay.deviceIndependentSize().toSize())))
        drawSpeedGauge(p, l, frac);
    if (dirty.intersects(l.gearBox.toAlignedRect()))
        drawGearBox(p, l.gearBox);
    if (dirty.intersects(l.pitBadge.toAlignedRect()))
        drawPitLimiter(p, l.pitBadge);
}

void DashboardWidget::drawShiftLights(QPainter &p, const QRectF &bar, float frac)
{
    const int lit = litSegmentCount(frac);
    const double gap = 0.012 * bar.width();
    const double segment = (bar.width() - 14 * gap) / Segments;
    p.setPen(Qt::NoPen);
    for (int i = 0; i < Segments; ++i) {
        const QRectF box(bar.left() + i * (segment + gap), bar.top(), segment, bar.height());
        if (i >= lit) {
            p.setBrush(QColor("#1c222c"));
            p.drawRoundedRect(box, 3, 3);
            continue;
        }
        QColor colour(i <= 8 ? "#39d353" : i <= 11 ? "#ffb020" : "#ff3b3b");
        p.setBrush(colour);
        p.drawRoundedRect(box, 3, 3);
        colour.setAlpha(70);
        p.setBrush(colour);
        p.drawRoundedRect(box.adjusted(-2, -2, 2, 2), 4, 4);
    }
}

void DashboardWidget::drawPedalBars(QPainter &p, const Layout &l)
{
    drawPedalBar(p, l.brakeBar, m_brake, QColor("#ff4d4d"));
    drawPedalBar(p, l.gasBar, m_throttle, QColor("#39d353"));
    drawLayerParts(p, m_pedalOverlay, m_pedalOverlayPos, m_pedalOverlayParts);
}

// The track is in the cached base layer and the ticks and label in the pedal overlay.
void DashboardWidget::drawPedalBar(QPainter &p, const QRectF &bar, float value, const QColor &color)
{
    const double fill = bar.width() * std::clamp(double(value), 0.0, 1.0);
    if (fill <= 1.0)
        return;
    const QRectF filled(bar.left(), bar.top(), fill, bar.height());
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawRoundedRect(filled, 6, 6);
    QLinearGradient gloss(0, filled.top(), 0, filled.bottom());
    gloss.setColorAt(0, QColor(255, 255, 255, 70));
    gloss.setColorAt(0.5, QColor(255, 255, 255, 10));
    gloss.setColorAt(1, QColor(0, 0, 0, 30));
    p.setBrush(gloss);
    p.drawRoundedRect(filled, 6, 6);
}

void DashboardWidget::drawSpeedGauge(QPainter &p, const Layout &l, float frac)
{
    const double r = l.radius;
    const QPointF c = l.centre;
    QColor colour = QColor::fromHsvF((1.0f - frac) * 120.0f / 360.0f, 0.85f, 0.95f);
    if (frac > 0.001f) {
        const QRectF square = gaugeSquare(c, r);
        const int span = int(frac * -270.0f * 16.0f);
        p.setBrush(Qt::NoBrush);
        QColor glow = colour;
        glow.setAlpha(60);
        QPen pen(glow, 0.14 * r * 1.6);
        pen.setCapStyle(Qt::RoundCap);
        p.setPen(pen);
        p.drawArc(square, 225 * 16, span);
        pen.setColor(colour);
        pen.setWidthF(0.14 * r * 0.66);
        p.setPen(pen);
        p.drawArc(square, 225 * 16, span);
    }
    drawLayerParts(p, m_gaugeOverlay, m_gaugeOverlayPos, m_gaugeOverlayParts);

    QPen pointer(colour, 0.035 * r);
    pointer.setCapStyle(Qt::RoundCap);
    p.setPen(pointer);
    p.drawLine(gaugePoint(c, 0.8 * r, frac), gaugePoint(c, 1.04 * r, frac));
    const QPointF tip = gaugePoint(c, r, frac);
    p.setPen(Qt::NoPen);
    QColor halo = colour;
    halo.setAlpha(110);
    p.setBrush(halo);
    p.drawEllipse(tip, 0.1 * r, 0.1 * r);
    p.setBrush(colour);
    p.drawEllipse(tip, 0.055 * r, 0.055 * r);

    const double shown = m_settings.useMph ? m_speed * DashboardSettingsDialog::KmhToMph : m_speed;
    p.setFont(consolas(0.62 * r, true, true));
    p.setPen(QColor("#F5F5F5"));
    p.drawText(QRectF(c.x() - r, c.y() - 0.55 * r, 2 * r, 0.7 * r), Qt::AlignCenter,
               QString::number(std::lround(shown)));
}

// The frame is in the cached base layer.
void DashboardWidget::drawGearBox(QPainter &p, const QRectF &box)
{
    p.setFont(consolas(0.6 * box.height(), true, true));
    p.setPen(QColor("#F5F5F5"));
    p.drawText(box, Qt::AlignCenter, gearText(m_gear));
}

void DashboardWidget::drawPitLimiter(QPainter &p, const QRectF &box)
{
    p.setPen(Qt::NoPen);
    if (m_pitLimiter) {
        p.setOpacity(std::clamp(0.55 + 0.45 * std::sin(6.0 * m_clock), 0.0, 1.0));
        p.setBrush(QColor("#ffb020"));
    } else {
        p.setOpacity(0.5);
        p.setBrush(QColor("#3a4150"));
    }
    p.drawRoundedRect(box, 8, 8);
    p.setOpacity(1.0);
    p.setFont(consolas(0.5 * box.height(), true, false));
    p.setPen(QColor(m_pitLimiter ? "#10151d" : "#6b7686"));
    p.drawText(box, Qt::AlignCenter, tr("PIT LIMITER"));
}

void DashboardWidget::resizeEvent(QResizeEvent *event)
{
    m_closeButton->move(width() - 52, 16);
    m_settingsButton->move(width() - 96, 16);
    // Layers made ahead at this size stay.
    if (m_baseLayer.deviceIndependentSize() != QSizeF(size()))
        m_layersValid = false;
    update();
    QWidget::resizeEvent(event);
}

// Full screen without window chrome: Escape is the way out.
void DashboardWidget::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

// The window shows no focus of its own: the base class would repaint all of it, a whole screen at
// once, as the window takes or loses the keyboard (right after its first picture, as it opens).
void DashboardWidget::focusInEvent(QFocusEvent *) {}

void DashboardWidget::focusOutEvent(QFocusEvent *) {}

} // namespace corvane
