#pragma once

#include <QAbstractButton>

namespace ostra {

// A custom-painted button that repaints as the pointer enters and leaves it. Return and Enter
// press it as Space does, as they press the kit's other clickable rows and cards.
class HoverButton : public QAbstractButton
{
    Q_OBJECT
public:
    explicit HoverButton(QWidget *parent = nullptr);

    bool isHovered() const { return m_hovered; }

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool m_hovered = false;
};

} // namespace ostra
