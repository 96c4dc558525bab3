#pragma once

#include <QWidget>

namespace corvane {

// The car seen from above, turned by its yaw.
class PreviewHeading : public QWidget
{
    Q_OBJECT
public:
    explicit PreviewHeading(QWidget *parent = nullptr);

    void setValues(float yaw, bool live);
    QString valueText() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    float m_yaw = 0.0f;
    bool m_live = false;
};

} // namespace corvane
