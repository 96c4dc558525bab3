#pragma once

#include <QList>
#include <QStringList>
#include <QWidget>

class QVariantAnimation;

namespace ostra {

// A chooser of a few options with a thumb that slides to the chosen one. An option text may
// hold one line break: the part after it is shown as a smaller second line. With Tab focus the
// arrow keys choose the option before or after.
class Segmented : public QWidget
{
    Q_OBJECT
public:
    explicit Segmented(const QStringList &options, QWidget *parent = nullptr);

    QStringList options() const { return m_options; }
    int currentIndex() const { return m_current; }
    void setOptions(const QStringList &options);
    void setCurrentIndex(int index, bool animate = false);
    void setOptionEnabled(int index, bool enabled);
    bool isOptionEnabled(int index) const;
    int indexAt(const QPoint &pos) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void currentIndexChanged(int index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QRectF segmentRect(int index) const;

    QStringList m_options;
    QList<bool> m_enabled;
    int m_current = 0;
    int m_hoverIndex = -1;
    double m_thumbX = 4;
    QVariantAnimation *m_slide;
};

} // namespace ostra
