#include "app/mainwindow.h"

#include <QCloseEvent>
#include <QMessageBox>

#include <algorithm>

#include "dialogs/dashboardwidget.h"
#include "ostraui/unsavededits.h"

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
    // A restart settled them when it was chosen.
    if (!m_restartRequested && !settleUnsavedEdits(tr("Save your changes before closing?"))) {
        event->ignore();
        return;
    }
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

// Edits the pages and the running setup dialogs hold would go with the window: Save stores them
// first, Discard lets them go, Cancel keeps the window. `question` says what is about to happen.
// False for Cancel.
bool MainWindow::settleUnsavedEdits(const QString &question)
{
    auto pendingEdits = [this] {
        QList<QObject *> roots{this};
        for (const QPointer<QWidget> &window : std::as_const(m_companionWindows))
            roots.append(window.data());
        return ostra::UnsavedEdits::pendingUnder(roots);
    };
    const QList<ostra::UnsavedEdits *> pending = pendingEdits();
    if (pending.isEmpty())
        return true;
    // Asked once: a second close while the question is open waits for its answer.
    if (m_askingToClose)
        return false;
    QStringList what;
    for (const ostra::UnsavedEdits *edits : pending)
        what.append(edits->what());
    QMessageBox box(QMessageBox::Question, tr("Unsaved changes"), question,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("unsavedEditsBox"));
    box.setInformativeText(tr("Not saved yet: %1.").arg(what.join(QStringLiteral(", "))));
    box.setDefaultButton(QMessageBox::Save);
    m_askingToClose = true;
    const int answer = box.exec();
    m_askingToClose = false;
    // Only a plain Save or Discard closes: a question closed by its title bar's button answers
    // neither and keeps the window as Cancel does.
    if (answer == QMessageBox::Save) {
        // Still there: a dialog may have gone while the question was open. What could not be
        // stored keeps the window open; its holder has said why.
        bool saved = true;
        for (ostra::UnsavedEdits *edits : pendingEdits())
            saved = edits->save() && saved;
        return saved;
    }
    return answer == QMessageBox::Discard;
}
