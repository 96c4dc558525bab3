#pragma once

#include <QElapsedTimer>
#include <QWidget>

class QVariantAnimation;

namespace ostra {

// A rounded status chip: one text, or a key with a value.
class Pill : public QWidget
{
    Q_OBJECT
public:
    enum Kind { Plain = 0, KeyValue = 1 };

    explicit Pill(QWidget *parent = nullptr, int kind = Plain);

    int kind() const { return m_kind; }
    int level() const { return m_level; }
    QString text() const { return m_text; }
    QString key() const { return m_key; }
    QString value() const { return m_value; }
    bool isPulsing() const { return m_pulsing; }
    bool isClickable() const { return m_clickable; }
    double pulseOpacity() const { return m_pulseOpacity; }

    void setText(const QString &text);
    void setKeyValue(const QString &key, const QString &value);
    void setLevel(int level);
    void setDotVisible(bool visible);
    void setHeight(int px);
    void setPulsing(bool on);
    void setPulseDuration(int ms);
    void setClickable(bool clickable);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void updatePulse();
    QFont plainFont() const;
    QRect dotRect() const;

    int m_kind;
    int m_level = 0;
    QString m_text;
    QString m_key;
    QString m_value;
    bool m_pulsing = false;
    bool m_dotVisible = true;
    bool m_clickable = false;
    bool m_hovered = false;
    int m_height;
    int m_pulsePeriod = 900;
    double m_pulseOpacity = 1.0;
    QVariantAnimation *m_animation = nullptr;
    QElapsedTimer m_pulseStep;
};

} // namespace ostra
