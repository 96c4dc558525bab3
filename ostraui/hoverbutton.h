#pragma once

#include <QAbstractButton>

namespace ostra {

// A custom-painted button that repaints as the pointer enters and leaves it.
class HoverButton : public QAbstractButton
{
    Q_OBJECT
public:
    explicit HoverButton(QWidget *parent = nullptr);

    bool isHovered() const { return m_hovered; }

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    bool m_hovered = false;
};

} // namespace ostra
