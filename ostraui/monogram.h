#pragma once

#include <QColor>
#include <QWidget>

namespace ostra {

// A rounded badge with a short text, tinted by tone.
class Monogram : public QWidget
{
    Q_OBJECT
public:
    enum Tone { Danger = 0, Info = 1, Neutral = 2, Plain = 3 };

    Monogram(const QString &text, int tone, int size, QWidget *parent = nullptr);

    QString text() const { return m_text; }
    int tone() const { return m_tone; }
    int radius() const { return m_radius; }
    QColor textColor() const { return m_textColor; }
    QFont textFont() const;
    void setTextColor(const QColor &color);
    void setRadius(int px);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    int m_tone;
    int m_size;
    int m_radius;
    QColor m_textColor;
};

} // namespace ostra
