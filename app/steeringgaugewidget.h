#pragma once

#include <QHash>
#include <QPixmap>
#include <QStaticText>
#include <QString>
#include <QWidget>

namespace corvane {

// The round gauge on the car page: a track, an arc from the top that follows the steering
// position, the wheel angle in degrees and a caption. Repaints only when what it shows changes.
class SteeringGaugeWidget : public QWidget
{
    Q_OBJECT
public:
    explicit SteeringGaugeWidget(QWidget *parent = nullptr);
    ~SteeringGaugeWidget() override;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    float value() const { return m_value; }
    float degrees() const { return m_degrees; }
    bool hasDegrees() const { return m_hasDegrees; }
    // The number in the middle, as painted.
    QString numberText() const;

public slots:
    void setValue(float value);
    void setValue(float value, float degrees);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Where the parts go at the widget's current size.
    struct Layout
    {
        qreal side;
        qreal stroke;
        QRectF circle;
        QFont numberFont;
        QRectF numberRect;
    };
    Layout layout() const;
    void paintBackdrop(const Layout &l);
    const QStaticText &numberLayout(const QFont &font);

    float m_value = 0.0f;
    float m_degrees = 0.0f;
    bool m_hasDegrees = false;
    QString m_label;
    // The track and the caption change only with the size and the theme: painted once. The
    // number is shaped once per value; a moving wheel shows the same few hundred again and again.
    QPixmap m_backdrop;
    bool m_backdropDark = false;
    QHash<QString, QStaticText> m_numbers;
};

} // namespace corvane
