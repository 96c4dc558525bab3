#pragma once

#include <QFrame>

class QVBoxLayout;

namespace ostra {

// The rounded surface on which pages group their content; its shadow is painted by the
// container's ShadowLayer. A clickable card takes Tab focus and acts on Space and Return too.
class Card : public QFrame
{
    Q_OBJECT
public:
    explicit Card(QWidget *parent = nullptr, int elevation = 1);

    // Every card's corner radius; inside its corners a card covers what lies behind it.
    static constexpr int cornerRadius = 18;

    QVBoxLayout *contentLayout();
    int elevation() const { return m_elevation; }
    bool isClickable() const { return m_clickable; }
    bool isHovered() const { return m_hovered; }
    bool isDimmed() const { return m_dimmed; }
    void setClickable(bool clickable);
    void setDimmed(bool dimmed);

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Where its shadow falls now, and where it fell at `before` (its last place and size).
    void refreshShadow(const QRect &before = QRect());

    int m_elevation;
    bool m_clickable = false;
    bool m_hovered = false;
    bool m_pressed = false;
    bool m_dimmed = false;
    QVBoxLayout *m_content = nullptr;
};

} // namespace ostra
