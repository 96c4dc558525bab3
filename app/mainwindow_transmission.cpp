#include "app/mainwindow.h"

#include <QApplication>
#include <QThreadPool>

#include "bridge/corvanecontroller.h"
#include "dialogs/transmissionview.h"
#include "ostraui/paintpacer.h"
#include "ostraui/tickpace.h"

namespace {

// The live previews' refresh period: as often as a person follows a moving value.
constexpr int LivePaintMs = 33;

} // namespace

void paceRepaintsWhileTransmitting(QWidget *window, corvane::CorvaneController *controller)
{
    ostra::TickPace *pace = ostra::TickPace::instance();
    QObject::connect(controller, &corvane::CorvaneController::frameSent, pace, &ostra::TickPace::ticked,
                     Qt::UniqueConnection);
    qApp->installEventFilter(pace);
    // The widget kit splits each large fill over the global pool's threads and waits for them:
    // waking several for every fill of a repaint costs the GUI thread more than they save (a
    // whole window at 1920x1080 took a third longer with eight than with one).
    QThreadPool::globalInstance()->setMaxThreadCount(1);
    auto *pacer = new ostra::PaintPacer(window, LivePaintMs);
    pacer->setActive(controller->isRunning());
    QObject::connect(controller, &corvane::CorvaneController::runningChanged, pacer, &ostra::PaintPacer::setActive);
    QObject::connect(controller, &corvane::CorvaneController::runningChanged, pace, &ostra::TickPace::setStreaming,
                     Qt::UniqueConnection);
}

// Launchers of the transmission view: built on the stack, run modally, gone when they return.

void MainWindow::onConfigureTransmission(bool rfSettings)
{
    corvane::TransmissionView view(m_controller, this,
                                   rfSettings ? corvane::TransmissionView::RfSettingsTab
                                              : corvane::TransmissionView::TelemetryTab);
    ostra::execAfterTick(view);
}

void MainWindow::onConfigureReceiver()
{
    corvane::TransmissionView view(m_controller, this, corvane::TransmissionView::ReceiverTab);
    ostra::execAfterTick(view);
}

void MainWindow::openTransmissionRfSettings()
{
    onConfigureTransmission(true);
}

void MainWindow::openTransmissionView()
{
    onConfigureTransmission(false);
}
