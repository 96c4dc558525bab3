#include "app/mainwindow.h"

#include <QCloseEvent>
#include <QMessageBox>

#include <algorithm>
#include <memory>

#include "app/endsignals.h"
#include "dialogs/dashboardwidget.h"
#include "ostraui/tickpace.h"
#include "ostraui/unsavededits.h"

// Not modal: each opening is a window of its own, closed by its own button or Escape.
void MainWindow::onOpenDashboard()
{
    auto *dashboard = new corvane::DashboardWidget(m_controller, nullptr);
    paceRepaintsWhileTransmitting(dashboard, m_controller);
    showCompanionWindow(dashboard, true, dashboard->firstPaintParts());
}

void MainWindow::showCompanionWindow(QWidget *window, bool fullScreen, ostra::PassBuilder *firstPaint)
{
    window->setAttribute(Qt::WA_DeleteOnClose);
    m_companionWindows.removeAll(nullptr);
    m_companionWindows.append(window);
    if (fullScreen) {
        if (ostra::showFullScreenAfterTick(window, firstPaint))
            window->setFocus();
    } else if (ostra::prepareShowing(window, firstPaint)) {
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
    // A restart settled them when it was chosen; an end signal leaves nobody to ask, also one that
    // ends the question unanswered.
    if (!m_restartRequested && !takeEndSignals()
        && !settleUnsavedEdits(tr("Save your changes before closing?"), [this] { close(); }) && !takeEndSignals()) {
        event->ignore();
        return;
    }
    // The error box last, once the close goes ahead.
    QList<QPointer<QWidget>> open = m_companionWindows;
    for (QWidget *widget : findChildren<QWidget *>()) {
        if (widget->isWindow() && widget->isVisible() && !open.contains(widget) && widget != m_controllerBox)
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
    // Reports waiting behind the box go with the window: shown as it closes, they would keep the
    // program, and a transmission, running without it. Ended, not only closed: one hidden with
    // its dialog would come again.
    m_waitingReports.clear();
    if (m_controllerBox)
        m_controllerBox->done(QDialog::Rejected);
    QMainWindow::closeEvent(event);
}

bool MainWindow::settleUnsavedEdits(const QString &question, const std::function<void()> &stored)
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
    // Asked once: a second close while the question is open, or while its answer is being
    // stored, waits for that.
    if (m_settlingEdits)
        return false;
    QStringList what;
    for (const ostra::UnsavedEdits *edits : pending)
        what.append(edits->what());
    QMessageBox box(QMessageBox::Question, tr("Unsaved changes"), question,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("unsavedEditsBox"));
    box.setInformativeText(tr("Not saved yet: %1.").arg(what.join(QStringLiteral(", "))));
    box.setDefaultButton(QMessageBox::Save);
    m_settlingEdits = true;
    // Nobody may be there to answer, and the window's close does nothing while it asks from inside one.
    takeEndSignalsWhileAlive(&box, [&box] { box.done(QMessageBox::Cancel); });
    const int answer = box.exec();
    // Only a plain Save or Discard closes: a question closed by its title bar's button answers
    // neither and keeps the window as Cancel does.
    if (answer != QMessageBox::Save) {
        m_settlingEdits = false;
        return answer == QMessageBox::Discard;
    }
    // Still there: a dialog may have gone while the question was open. Each store reports when
    // its edits are on disk; the window goes only when every one of them is. What could not be
    // stored keeps the window open, and its holder has said why.
    struct Outcome
    {
        qsizetype waiting = 0;
        bool failed = false;
        bool later = false; // this call has returned
    };
    const QList<ostra::UnsavedEdits *> saving = pendingEdits();
    const auto outcome = std::make_shared<Outcome>();
    outcome->waiting = saving.size();
    const QPointer<MainWindow> self(this);
    for (ostra::UnsavedEdits *edits : saving) {
        edits->save([outcome, self, stored](bool ok) {
            outcome->failed = outcome->failed || !ok;
            if (--outcome->waiting > 0 || !self)
                return;
            self->m_settlingEdits = false;
            if (outcome->later && !outcome->failed)
                QMetaObject::invokeMethod(self.data(), stored, Qt::QueuedConnection);
        });
    }
    outcome->later = true;
    if (outcome->waiting > 0)
        return false;
    m_settlingEdits = false;
    return !outcome->failed;
}
