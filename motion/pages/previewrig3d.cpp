#include "motion/pages/previewrig3d.h"

#include "motion/pages/previewdrawing.h"
#include "ostraui/theme.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

// Camera yaw and elevation in radians.
constexpr double CameraYaw = -0.5;
constexpr double CameraElevation = 0.38;

} // namespace

PreviewRig3D::PreviewRig3D(QWidget *parent)
    : QWidget(parent)
{
}

void PreviewRig3D::setValues(const std::array<float, 4> &positions, float wheelAngle, float pitch, float roll, float heave, bool live)
{
    m_positions = positions;
    m_wheelAngle = wheelAngle;
    m_pitch = pitch;
    m_roll = roll;
    m_heave = heave;
    m_live = live;
}

QString PreviewRig3D::valueText() const
{
    return tr("Pitch %1  Roll %2  Heave %3")
        .arg(formatSigned(m_pitch, 1, QStringLiteral("\u00b0")), formatSigned(m_roll, 1, QStringLiteral("\u00b0")),
             formatSigned(m_heave * 100.0, 0, QStringLiteral("%")));
}

PreviewRig3D::Point3 PreviewRig3D::Pose::apply(const Point3 &point) const
{
    const double x1 = cosRoll * point.x + sinRoll * point.z;
    const double z1 = cosRoll * point.z - sinRoll * point.x;
    const double y2 = cosPitch * point.y - sinPitch * z1;
    const double z2 = sinPitch * point.y + cosPitch * z1 + height;
    return { x1, y2, z2 };
}

QPointF PreviewRig3D::project(const Point3 &point) const
{
    const double c = std::cos(CameraYaw);
    const double s = std::sin(CameraYaw);
    return { m_origin.x() + m_scale * (point.x * c + point.y * s),
             m_origin.y() - m_scale * ((point.y * c - point.x * s) * std::sin(CameraElevation) + point.z * std::cos(CameraElevation)) };
}

double PreviewRig3D::depthKey(const Point3 &point)
{
    return point.y * std::cos(CameraYaw) - point.x * std::sin(CameraYaw);
}

void PreviewRig3D::appendBoxFaces(FaceList &faces, const Pose &pose, const Point3 &min, const Point3 &max, const QColor &color)
{
    const Point3 corners[8] = {
        pose.apply({ min.x, min.y, min.z }), pose.apply({ max.x, min.y, min.z }),
        pose.apply({ max.x, max.y, min.z }), pose.apply({ min.x, max.y, min.z }),
        pose.apply({ min.x, min.y, max.z }), pose.apply({ max.x, min.y, max.z }),
        pose.apply({ max.x, max.y, max.z }), pose.apply({ min.x, max.y, max.z }),
    };
    struct Side
    {
        int index[4];
        double shade;
    };
    static const Side sides[6] = {
        { { 0, 1, 2, 3 }, 0.55 }, { { 4, 5, 6, 7 }, 1.0 }, { { 0, 1, 5, 4 }, 0.8 },
        { { 2, 3, 7, 6 }, 0.7 },  { { 1, 2, 6, 5 }, 0.65 }, { { 0, 3, 7, 4 }, 0.75 },
    };
    for (const Side &side : sides) {
        Face face;
        double depth = 0;
        for (int i = 0; i < 4; ++i) {
            face.corners[size_t(i)] = corners[side.index[i]];
            depth += depthKey(face.corners[size_t(i)]);
        }
        face.depth = depth / 4.0;
        // The top catches the light; the sides darken by how far they turn away from it.
        face.color = side.shade == 1.0 ? lerpColor(color, Qt::white, 0.12) : lerpColor(Qt::black, color, 0.55 + 0.45 * side.shade);
        faces.append(face);
    }
}

// Filled without antialiasing and then outlined with it: the same look for a fraction of the cost
// of antialiasing the whole area.
void PreviewRig3D::drawFace3D(QPainter &painter, const std::array<Point3, 4> &corners, const QColor &fill, const QColor &outline) const
{
    const QPointF points[4] = { project(corners[0]), project(corners[1]), project(corners[2]), project(corners[3]) };
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawPolygon(points, 4);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(outline, 1, Qt::SolidLine, Qt::SquareCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolygon(points, 4);
}

void PreviewRig3D::drawFaces(QPainter &painter, FaceList &faces) const
{
    std::sort(faces.begin(), faces.end(), [](const Face &a, const Face &b) { return a.depth > b.depth; });
    for (const Face &face : faces)
        drawFace3D(painter, face.corners, face.color, lerpColor(face.color, Qt::black, 0.25));
    faces.clear();
}

void PreviewRig3D::paintEvent(QPaintEvent *)
{
    using namespace ostra;
    QPainter p(this);
    drawPreviewCard(p, *this);
    drawPreviewHeader(p, rect(), tr("3DOF rig"), valueText());

    m_scale = float(std::min((height() - 40) / 3.3, width() / 4.2));
    m_origin = QPointF(width() * 0.5, height() * 0.7);

    std::array<double, 4> e {};
    for (size_t i = 0; i < e.size(); ++i)
        e[i] = 0.75 + 0.3 * m_positions[i];
    const double pitch = std::atan2(((e[0] + e[1]) - (e[2] + e[3])) / 2.0, 2.5);
    const double roll = std::atan2(((e[0] + e[2]) - (e[1] + e[3])) / 2.0, 2.0);
    const Pose pose { std::cos(roll), std::sin(roll), std::cos(pitch), std::sin(pitch), (e[0] + e[1] + e[2] + e[3]) / 4.0 };

    drawFace3D(p, { Point3 { -1.25, -1.5, 0 }, Point3 { 1.25, -1.5, 0 }, Point3 { 1.25, 1.5, 0 }, Point3 { -1.25, 1.5, 0 } },
               ThemeColors::borderLight, ThemeColors::borderLight);

    // Actuators, farthest first.
    const Point3 anchors[4] = { { -1, 1.25, 0 }, { 1, 1.25, 0 }, { -1, -1.25, 0 }, { 1, -1.25, 0 } };
    std::array<int, 4> order { 0, 1, 2, 3 };
    std::sort(order.begin(), order.end(), [&anchors](int a, int b) { return depthKey(anchors[a]) > depthKey(anchors[b]); });
    for (int i : order) {
        const Point3 &a = anchors[i];
        const float position = m_positions[size_t(i)];
        p.setPen(QPen(ThemeColors::textSecondary, 9, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(project(a), project({ a.x, a.y, 0.45 }));
        const QColor rod = !m_live ? ThemeColors::textDisabled
                           : std::abs(position) > 0.9f ? ThemeColors::dangerAccent
                                                       : lerpColor(ThemeColors::textMuted, ThemeColors::accent, std::abs(position));
        p.setPen(QPen(rod, 5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(project({ a.x, a.y, 0.4 }), project(pose.apply(a)));
    }

    FaceList faces;
    appendBoxFaces(faces, pose, { -1.0, -1.25, -0.08 }, { 1.0, 1.25, 0.0 }, m_live ? ThemeColors::textMuted : ThemeColors::borderLight);
    drawFaces(p, faces);
    const QColor seat = m_live ? ThemeColors::ink : ThemeColors::textDisabled;
    appendBoxFaces(faces, pose, { -0.42, -0.55, 0.0 }, { 0.42, 0.35, 0.22 }, seat);
    appendBoxFaces(faces, pose, { -0.42, -0.72, 0.0 }, { 0.42, -0.52, 1.05 }, seat);
    appendBoxFaces(faces, pose, { -0.06, 0.95, 0.0 }, { 0.06, 1.07, 0.62 }, seat);
    drawFaces(p, faces);

    // Steering wheel: a ring in the plane y = 0.93 of the plate, turned by the wheel angle.
    const double beta = m_wheelAngle * M_PI / 180.0;
    const auto ringPoint = [&](double angle) {
        return project(pose.apply({ 0.32 * std::sin(angle), 0.93, 0.72 + 0.32 * std::cos(angle) }));
    };
    QPainterPath ring;
    ring.moveTo(ringPoint(beta));
    for (int i = 1; i <= 48; ++i)
        ring.lineTo(ringPoint(beta + i * 2 * M_PI / 48));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(ThemeColors::ink, 5, Qt::SolidLine, Qt::SquareCap));
    p.drawPath(ring);
    const QPointF hub = project(pose.apply({ 0, 0.93, 0.72 }));
    p.setPen(QPen(ThemeColors::ink, 3));
    for (double spoke : { beta + M_PI / 2, beta - M_PI / 2, beta + M_PI })
        p.drawLine(hub, ringPoint(spoke));
    p.setPen(Qt::NoPen);
    p.setBrush(ThemeColors::dangerAccent);
    p.drawEllipse(ringPoint(beta), 4, 4);
}

} // namespace corvane
