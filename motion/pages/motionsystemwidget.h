#pragma once

#include <QWidget>

namespace corvane {

class MotionSystemController;

// Placeholder until the motion platform is built.
class MotionSystemWidget : public QWidget
{
    Q_OBJECT
public:
    explicit MotionSystemWidget(MotionSystemController *controller, QWidget *parent = nullptr)
        : QWidget(parent), m_controller(controller)
    {
    }

    int platformDof() const { return m_dof; }
    // 2, 3 or 5; anything else is ignored.
    void setPlatformDof(int dof)
    {
        if (dof == 2 || dof == 3 || dof == 5)
            m_dof = dof;
    }

private:
    MotionSystemController *m_controller;
    int m_dof = 5;
};

} // namespace corvane
