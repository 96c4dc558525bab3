#include "dialogs/attitudeindicatorwidget.h"

#include <QCheckBox>
#include <QEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

#include "bridge/corvanecontroller.h"
#include "dialogs/livedisplaypaint.h"
#include "ostraui/passbuilder.h"

namespace corvane {

using livedisplay::consolas;
using livedisplay::drawLayerParts;
using livedisplay::transparentPixmap;

namespace {

constexpr float Smoothing = 0.35f;
constexpr double TickSeconds = 0.033;
// Below this a shown angle no longer moves on screen: the tick leaves the picture alone.
constexpr float StillDeg = 0.001f;

const QString CloseStyle = QStringLiteral(
    "QPushButton { background: rgba(20,26,34,200); color: #D4D4D4; border: 1px solid #383838; "
    "border-radius: 18px; font-size: 16pt; padding: 0px; }"
    "QPushButton:hover { background: rgba(60,70,86,230); color: #fff; }");
const QString CheckStyle = QStringLiteral(
    "QCheckBox { color: #D4D4D4; background: rgba(20,26,34,170); border: 1px solid #383838; "
    "border-radius: 6px; padding: 4px 8px; font: bold 10pt 'Consolas'; }"
    "QCheckBox:hover { color: #ffffff; }QCheckBox::indicator { width: 14px; height: 14px; }");

// A point at radius rho on the roll scale for roll r: r lies at 90 - r degrees, 0 at the top.
QPointF rollPoint(const QPointF &centre, double rho, double roll)
{
    const double a = (90.0 - roll) * M_PI / 180.0;
    return {centre.x() + rho * std::cos(a), centre.y() - rho * std::sin(a)};
}

} // namespace

AttitudeIndicatorWidget::AttitudeIndicatorWidget(CorvaneController *controller, QWidget *parent)
    : QWidget(parent), m_controller(controller), m_firstPaint(new ostra::PassBuilder(this))
{
    setWindowTitle(tr("Attitude Indicator"));
    // The dark theme's style-sheet rewriting leaves these fixed colours alone.
    setProperty("ostraKeepColors", true);
    setWindowFlag(Qt::Window);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(640, 360);

    m_closeButton = new QPushButton(QStringLiteral("✕"), this);
    m_closeButton->setFixedSize(36, 36);
    m_closeButton->setCursor(Qt::PointingHandCursor);
    m_closeButton->setStyleSheet(CloseStyle);
    connect(m_closeButton, &QPushButton::clicked, this, &QWidget::close);

    const QString names[] = {tr("Invert Pitch"), tr("Invert Roll"), tr("Invert Yaw")};
    for (size_t i = 0; i < m_invert.size(); ++i) {
        m_invert[i] = new QCheckBox(names[i], this);
        m_invert[i]->setStyleSheet(CheckStyle);
        m_invert[i]->setCursor(Qt::PointingHandCursor);
        m_invert[i]->setFocusPolicy(Qt::NoFocus);
    }
    if (m_controller) {
        const HelicopterConfig::Attitude inversion = m_controller->helicopterConfig().attitude;
        m_invert[0]->setChecked(inversion.invertPitch);
        m_invert[1]->setChecked(inversion.invertRoll);
        m_invert[2]->setChecked(inversion.invertYaw);
    }
    for (QCheckBox *box : m_invert)
        connect(box, &QCheckBox::toggled, this, &AttitudeIndicatorWidget::onInvertToggled);

    m_closeButton->installEventFilter(this);
    for (QCheckBox *box : m_invert)
        box->installEventFilter(this);

    if (m_controller) {
        connect(m_controller, &CorvaneController::heliAttitudeReceived, this, &AttitudeIndicatorWidget::onAttitude);
        float pitch = 0, roll = 0, yaw = 0;
        if (m_controller->lastHeliAttitude(pitch, roll, yaw)) {
            m_shown = m_target = {pitch, roll, yaw};
            m_received = true;
        }
    }

    m_staleShown = isStale();

    m_tickTimer = new QTimer(this);
    m_tickTimer->setInterval(33);
    connect(m_tickTimer, &QTimer::timeout, this, &AttitudeIndicatorWidget::onTick);
    m_tickTimer->start();

    m_firstPaint->add([this] { buildStaticLayers(); });
    m_firstPaint->add([this] {
        // Not resized yet while hidden: the controls take their places as they will have them.
        placeControls();
        updateControlLooks();
    });
    m_firstPaint->add([this] { makeGlyphs(); });
}

bool AttitudeIndicatorWidget::isStale() const
{
    return !m_received || m_ticksSinceAttitude * TickSeconds > 1.0;
}

QString AttitudeIndicatorWidget::readout(float pitchDeg, float rollDeg)
{
    return tr("PITCH %1°    ROLL %2°").arg(pitchDeg, 0, 'f', 1).arg(rollDeg, 0, 'f', 1);
}

void AttitudeIndicatorWidget::onAttitude(float pitchDeg, float rollDeg, float yawDeg)
{
    m_target = {pitchDeg, rollDeg, yawDeg};
    m_ticksSinceAttitude = 0;
    m_received = true;
}

void AttitudeIndicatorWidget::onTick()
{
    if (m_ticksSinceAttitude < std::numeric_limits<quint32>::max())
        ++m_ticksSinceAttitude;
    bool moved = false;
    for (size_t i = 0; i < m_shown.size(); ++i) {
        const float step = Smoothing * (m_target[i] - m_shown[i]);
        m_shown[i] += step;
        // Yaw is not drawn.
        moved = moved || (i < 2 && std::fabs(step) > StillDeg);
    }
    // A still picture is not painted again: the whole window would be redrawn for nothing.
    // The curtain goes when an attitude arrives, even one the picture already shows.
    if (moved || m_staleShown != isStale()) {
        m_staleShown = isStale();
        update();
    }
}

void AttitudeIndicatorWidget::onInvertToggled()
{
    if (!m_controller)
        return;
    HelicopterConfig config = m_controller->helicopterConfig();
    bool *stored[] = {&config.attitude.invertPitch, &config.attitude.invertRoll, &config.attitude.invertYaw};
    for (size_t i = 0; i < m_invert.size(); ++i) {
        const bool checked = m_invert[i]->isChecked();
        if (checked != *stored[i]) {
            // Flip at once rather than sweep across the screen.
            m_shown[i] = -m_shown[i];
            m_target[i] = -m_target[i];
        }
        *stored[i] = checked;
    }
    m_controller->setHelicopterConfig(config);
    update();
}

void AttitudeIndicatorWidget::buildStaticLayers()
{
    const qreal dpr = devicePixelRatioF();
    const double m = std::min(width(), height());
    const double r = 0.4 * m;
    const double k = 0.014 * m;
    const QPointF c(width() / 2.0, height() / 2.0);

    // The numbers fit their 24 px boxes.
    m_ladderFont = consolas(std::clamp(int(8 * k), 10, 18), true);
    for (size_t i = 0; i < m_ladderNumbers.size(); ++i) {
        m_ladderNumbers[i] = QStaticText(QString::number(10 * (int(i) + 1)));
        m_ladderNumbers[i].setTextFormat(Qt::PlainText);
        m_ladderNumbers[i].prepare(QTransform(), m_ladderFont);
    }

    // Roll scale, index triangle and aircraft symbol, from the top of the arc down to the wings;
    // laid on as two parts, the scale's band (its ends at +-60 degrees lie 0.47 R above the
    // centre) and the symbol (its dot reaches 0.018 R above the wings), which leaves out the
    // clear space between them.
    const QRect marks = QRectF(c.x() - r - 4, c.y() - r - 4, 2 * r + 8, 1.06 * r + 12).toAlignedRect();
    m_fixedMarksPos = marks.topLeft();
    m_fixedMarks = transparentPixmap(marks.size(), dpr);
    m_fixedMarksParts = {
        QRectF(c.x() - 0.87 * r - 4, c.y() - r - 4, 1.74 * r + 8, 0.55 * r + 8).toAlignedRect().intersected(marks),
        QRectF(c.x() - 0.45 * r - 4, c.y() - 0.02 * r - 4, 0.9 * r + 8, 0.08 * r + 8).toAlignedRect().intersected(marks)};
    {
        QPainter p(&m_fixedMarks);
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(-marks.topLeft());
        drawRollScale(p, c, r);
        drawAircraftSymbol(p, c, r);
    }

    m_titles = transparentPixmap(QSizeF(416, 56), dpr);
    {
        QPainter p(&m_titles);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.setFont(consolas(16, true));
        p.setPen(QColor("#ECECEC"));
        p.drawText(QRectF(16, 14, 400, 22), Qt::AlignLeft | Qt::AlignVCenter, tr("ATTITUDE INDICATOR"));
        p.setFont(consolas(11, false));
        p.setPen(QColor("#C2C2C2"));
        p.drawText(QRectF(16, 36, 400, 18), Qt::AlignLeft | Qt::AlignVCenter,
                   tr("Artificial Horizon for RC Aircraft"));
    }
    m_layersSize = size();
}

// The glyphs of the ladder's numbers, the readout and the curtain, made once.
void AttitudeIndicatorWidget::makeGlyphs()
{
    QPixmap scratch(1, 1);
    QPainter p(&scratch);
    p.setFont(m_ladderFont);
    for (const QStaticText &number : m_ladderNumbers)
        p.drawStaticText(QPointF(), number);
    p.setFont(consolas(18, true));
    p.drawText(QPointF(), readout(m_shown[0], m_shown[1]) + QStringLiteral("0123456789-"));
    p.setFont(consolas(22, true));
    p.drawText(rect(), Qt::AlignCenter, curtainText());
}

void AttitudeIndicatorWidget::paintEvent(QPaintEvent *)
{
    if (m_layersSize != size())
        buildStaticLayers();
    updateControlLooks();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    drawHorizon(p);
    drawLayerParts(p, m_fixedMarks, m_fixedMarksPos, m_fixedMarksParts);
    drawRollPointer(p);
    drawOverlay(p);
}

void AttitudeIndicatorWidget::drawHorizon(QPainter &p)
{
    const double w = width();
    const double h = height();
    const double k = 0.014 * std::min(w, h);
    const double s = 1.5 * std::hypot(w, h);
    QTransform frame;
    frame.translate(w / 2, h / 2);
    frame.rotate(-m_shown[1]);
    frame.translate(0, m_shown[0] * k);
    // Sky and ground each cut to the window, so every pixel is filled once: a turned fill of
    // the whole sky and ground would cost several times as much. Their only slanted edge lies
    // under the opaque middle of the horizon line, so they need no antialiasing, which would
    // cost more than the rest of the picture together.
    const QPolygonF window = QRectF(rect());
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor("#3d7fd1"));
    p.drawPolygon(frame.map(QPolygonF(QRectF(-s, -s, 2 * s, s))).intersected(window));
    p.setBrush(QColor("#7a5128"));
    p.drawPolygon(frame.map(QPolygonF(QRectF(-s, 0, 2 * s, s))).intersected(window));
    p.restore();
    p.save();
    p.setTransform(frame, true);
    QPen line(QColor("#ffffff"), 3);
    line.setCapStyle(Qt::SquareCap);
    p.setPen(line);
    p.drawLine(QPointF(-s, 0), QPointF(s, 0));
    drawPitchLadder(p, k);
    p.restore();
}

void AttitudeIndicatorWidget::drawPitchLadder(QPainter &p, double k)
{
    const double w = width();
    const QRectF window(rect());
    const QTransform frame = p.transform();
    QPen pen(QColor("#ECECEC"));
    pen.setCapStyle(Qt::SquareCap);
    p.setFont(m_ladderFont);
    for (int d = -80; d <= 80; d += 5) {
        if (d == 0)
            continue;
        const double y = -d * k;
        const bool major = d % 10 == 0;
        const double l = major ? 0.08 * w : 0.04 * w;
        // A rung outside the window is left out: stroking and laying out the text of rungs
        // that cannot show would cost as much as those that do.
        if (!frame.mapRect(QRectF(-l - 60, y - 12, 2 * l + 120, 24)).intersects(window))
            continue;
        pen.setWidthF(major ? 2.5 : 1.5);
        p.setPen(pen);
        p.drawLine(QPointF(-l, y), QPointF(l, y));
        if (major) {
            // Right-aligned in the box (-L - 60, y - 12, 50, 24) and left-aligned in
            // (L + 10, y - 12, 50, 24), both centred vertically.
            const QStaticText &label = m_ladderNumbers[size_t(std::abs(d) / 10 - 1)];
            const QSizeF size = label.size();
            const double top = y - size.height() / 2;
            p.drawStaticText(QPointF(-l - 10 - size.width(), top), label);
            p.drawStaticText(QPointF(l + 10, top), label);
        }
    }
}

// The arc, its ticks and the index triangle at its top; drawn once into the cached marks.
void AttitudeIndicatorWidget::drawRollScale(QPainter &p, const QPointF &c, double r)
{
    QPen pen(QColor("#ECECEC"), 2);
    pen.setCapStyle(Qt::SquareCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 30 * 16, 120 * 16);
    for (int roll : {-60, -45, -30, -20, -10, 0, 10, 20, 30, 45, 60}) {
        const bool long_ = roll % 30 == 0;
        pen.setWidthF(long_ ? 2.5 : 1.5);
        p.setPen(pen);
        p.drawLine(rollPoint(c, r, roll), rollPoint(c, long_ ? 0.94 * r : 0.965 * r, roll));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor("#ffffff"));
    const QPointF index[] = {{c.x(), c.y() - r},
                             {c.x() - 0.04 * r, c.y() - r + 0.07 * r},
                             {c.x() + 0.04 * r, c.y() - r + 0.07 * r}};
    p.drawPolygon(index, 3);
}

// Drawn once into the cached marks.
void AttitudeIndicatorWidget::drawAircraftSymbol(QPainter &p, const QPointF &c, double r)
{
    QPen wing(QColor("#ffcc00"), 4);
    wing.setCapStyle(Qt::RoundCap);
    p.setPen(wing);
    p.drawLine(QPointF(c.x() - 0.45 * r, c.y()), QPointF(c.x() - 0.1 * r, c.y()));
    p.drawLine(QPointF(c.x() + 0.1 * r, c.y()), QPointF(c.x() + 0.45 * r, c.y()));
    p.drawLine(QPointF(c.x() - 0.1 * r, c.y()), QPointF(c.x() - 0.1 * r, c.y() + 0.06 * r));
    p.drawLine(QPointF(c.x() + 0.1 * r, c.y()), QPointF(c.x() + 0.1 * r, c.y() + 0.06 * r));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor("#ffcc00"));
    p.drawEllipse(c, 0.018 * r, 0.018 * r);
}

// The roll scale and the aircraft symbol come from the cached marks; only the pointer moves.
void AttitudeIndicatorWidget::drawRollPointer(QPainter &p)
{
    const double r = 0.4 * std::min(width(), height());
    const QPointF c(width() / 2.0, height() / 2.0);
    const float roll = m_shown[1];
    const QPointF pointer[] = {rollPoint(c, 0.93 * r, roll), rollPoint(c, 0.84 * r, roll - 2.5),
                               rollPoint(c, 0.84 * r, roll + 2.5)};
    p.setPen(Qt::NoPen);
    p.setBrush(QColor("#ffcc00"));
    p.drawPolygon(pointer, 3);
}

void AttitudeIndicatorWidget::drawOverlay(QPainter &p)
{
    const double w = width();
    const double h = height();
    p.drawPixmap(0, 0, m_titles);
    p.setFont(consolas(18, true));
    p.setPen(QColor("#F5F5F5"));
    p.drawText(QRectF(0, h - 44, w, 30), Qt::AlignCenter, readout(m_shown[0], m_shown[1]));
    if (isStale()) {
        p.fillRect(rect(), QColor(0, 0, 0, 120));
        p.setFont(consolas(22, true));
        p.setPen(QColor("#ffb020"));
        p.drawText(rect(), Qt::AlignCenter, curtainText());
    }
}

QString AttitudeIndicatorWidget::curtainText()
{
    return tr("NO ATTITUDE TELEMETRY\n\nWaiting for CRSF ATTITUDE (0x1E) from the flight controller…");
}

void AttitudeIndicatorWidget::resizeEvent(QResizeEvent *event)
{
    placeControls();
    QWidget::resizeEvent(event);
}

void AttitudeIndicatorWidget::placeControls()
{
    const int w = width();
    const int h = height();
    m_closeButton->move(w - 52, 16);
    int bottom = h - 16;
    for (auto it = m_invert.rbegin(); it != m_invert.rend(); ++it) {
        QCheckBox *box = *it;
        box->adjustSize();
        box->move(16, bottom - box->height());
        bottom -= box->height() + 6;
    }
}

bool AttitudeIndicatorWidget::eventFilter(QObject *watched, QEvent *event)
{
    const QAbstractButton *controls[] = {m_closeButton, m_invert[0], m_invert[1], m_invert[2]};
    for (size_t i = 0; i < m_controlLooks.size(); ++i) {
        if (watched != controls[i])
            continue;
        switch (event->type()) {
        case QEvent::Paint: {
            // A look that no longer fits its control (hovered, pressed, toggled since) is not
            // used: the control paints itself, and the next frame takes its new look.
            const ControlLook &look = m_controlLooks[i];
            if (m_paintingControlLooks || look.pixmap.isNull() || look.state != controlState(controls[i]))
                return false;
            QPainter p(const_cast<QAbstractButton *>(controls[i]));
            p.drawPixmap(0, 0, look.pixmap);
            return true;
        }
        case QEvent::StyleChange:
        case QEvent::PaletteChange:
        case QEvent::FontChange:
        case QEvent::LanguageChange:
            m_controlLooks[i].pixmap = QPixmap();
            return false;
        default:
            return false;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// What a control's look depends on besides its style: its size and state.
quint64 AttitudeIndicatorWidget::controlState(const QAbstractButton *control) const
{
    const QSize size = control->size();
    return quint64(control->underMouse()) | quint64(control->isDown()) << 1 | quint64(control->isChecked()) << 2
           | quint64(control->hasFocus()) << 3 | quint64(control->isEnabled()) << 4
           | quint64(size.width() & 0xffff) << 8 | quint64(size.height() & 0xffff) << 24
           | quint64(qRound(devicePixelRatioF() * 100) & 0xffff) << 40;
}

// Paints, through their style sheets, the looks of the controls whose state has changed.
void AttitudeIndicatorWidget::updateControlLooks()
{
    QAbstractButton *controls[] = {m_closeButton, m_invert[0], m_invert[1], m_invert[2]};
    for (size_t i = 0; i < m_controlLooks.size(); ++i) {
        ControlLook &look = m_controlLooks[i];
        const quint64 state = controlState(controls[i]);
        if (!look.pixmap.isNull() && look.state == state)
            continue;
        look.pixmap = transparentPixmap(controls[i]->size(), devicePixelRatioF());
        look.state = state;
        m_paintingControlLooks = true;
        controls[i]->render(&look.pixmap, QPoint(), QRegion(), QWidget::RenderFlags());
        m_paintingControlLooks = false;
    }
}

// Full screen without window chrome: Escape is the way out.
void AttitudeIndicatorWidget::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

// The window shows no focus of its own: the base class would repaint all of it, a whole screen at
// once, as the window takes or loses the keyboard (right after its first picture, as it opens).
void AttitudeIndicatorWidget::focusInEvent(QFocusEvent *) {}

void AttitudeIndicatorWidget::focusOutEvent(QFocusEvent *) {}

} // namespace corvane
