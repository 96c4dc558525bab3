#include "app/mainwindow.h"

#include <QCloseEvent>

#include <algorithm>

#include "dialogs/dashboardwidget.h"

// Not modal: each opening is a window of its own, closed by its own button or Escape.
void MainWindow::onOpenDashboard()
{
    auto *dashboard = new corvane::DashboardWidget(m_controller, nullptr);
    paceRepaintsWhileTransmitting(dashboard, m_controller);
    showCompanionWindow(dashboard, true);
}

void MainWindow::showCompanionWindow(QWidget *window, bool fullScreen)
{
    window->setAttribute(Qt::WA_DeleteOnClose);
    m_companionWindows.removeAll(nullptr);
    m_companionWindows.append(window);
    if (fullScreen) {
        window->showFullScreen();
        window->setFocus();
    } else {
        window->show();
    }
}

void MainWindow::deleteCompanionWindows()
{
    const QList<QPointer<QWidget>> windows = std::exchange(m_companionWindows, {});
    for (const QPointer<QWidget> &window : windows)
        delete window.data();
}

// The windows opened from this one go with it: a dashboard has no parent and would keep the
// program running, and a dialog still running its own event loop would outlive the window.
void MainWindow::closeEvent(QCloseEvent *event)
{
    QList<QPointer<QWidget>> open = m_companionWindows;
    for (QWidget *widget : findChildren<QWidget *>()) {
        if (widget->isWindow() && widget->isVisible() && !open.contains(widget))
            open.append(widget);
    }
    // Children after their parents in that list: the topmost dialog closes first.
    std::reverse(open.begin(), open.end());
    for (const QPointer<QWidget> &window : std::as_const(open)) {
        if (window)
            window->close();
    }
    // One that refuses (an update in progress) keeps the window open with it.
    const bool refused = std::any_of(open.cbegin(), open.cend(),
                                     [](const QPointer<QWidget> &window) { return window && window->isVisible(); });
    if (refused) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}
