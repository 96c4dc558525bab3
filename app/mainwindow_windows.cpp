#include "app/mainwindow.h"

#include "dialogs/dashboardwidget.h"

// Not modal: each opening is a window of its own, closed by its own button or Escape.
void MainWindow::onOpenDashboard()
{
    auto *dashboard = new corvane::DashboardWidget(m_controller, nullptr);
    dashboard->setAttribute(Qt::WA_DeleteOnClose);
    paceRepaintsWhileTransmitting(dashboard, m_controller);
    dashboard->showFullScreen();
    dashboard->setFocus();
}
