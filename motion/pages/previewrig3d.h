#pragma once

#include <QColor>
#include <QPointF>
#include <QVarLengthArray>
#include <QWidget>

#include <array>

class QPainter;

namespace corvane {

// A 3-DOF platform with four actuators, a seat and a steering wheel, drawn in 3-D from a fixed
// camera. The plate tilts with the actuator extensions; the wheel turns with the car's wheel.
class PreviewRig3D : public QWidget
{
    Q_OBJECT
public:
    explicit PreviewRig3D(QWidget *parent = nullptr);

    // Actuators FL, FR, RL, RR -1..1, wheel angle, rig pitch and roll in degrees, heave -1..1.
    void setValues(const std::array<float, 4> &positions, float wheelAngle, float pitch, float roll, float heave, bool live);
    QString valueText() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    struct Point3
    {
        double x = 0;
        double y = 0;
        double z = 0;
    };
    struct Face
    {
        std::array<Point3, 4> corners;
        QColor color;
        double depth = 0;
    };
    // Tilt and height of the plate, from the four actuator extensions.
    struct Pose
    {
        double cosRoll = 1;
        double sinRoll = 0;
        double cosPitch = 1;
        double sinPitch = 0;
        double height = 0.75;
        Point3 apply(const Point3 &point) const;
    };
    using FaceList = QVarLengthArray<Face, 24>;

    QPointF project(const Point3 &point) const;
    static double depthKey(const Point3 &point);
    static void appendBoxFaces(FaceList &faces, const Pose &pose, const Point3 &min, const Point3 &max, const QColor &color);
    void drawFace3D(QPainter &painter, const std::array<Point3, 4> &corners, const QColor &fill, const QColor &outline) const;
    void drawFaces(QPainter &painter, FaceList &faces) const;

    std::array<float, 4> m_positions {};
    float m_wheelAngle = 0.0f;
    float m_pitch = 0.0f;
    float m_roll = 0.0f;
    float m_heave = 0.0f;
    bool m_live = false;
    float m_scale = 60.0f;
    QPointF m_origin;
};

} // namespace corvane
