#include "app/mainwindow.h"

#include "dialogs/transmissionview.h"

// Launchers of the transmission view: built on the stack, run modally, gone when they return.

void MainWindow::onConfigureTransmission(bool rfSettings)
{
    corvane::TransmissionView view(m_controller, this);
    if (rfSettings)
        view.showRfSettingsTab();
    view.exec();
}

void MainWindow::onConfigureReceiver()
{
    corvane::TransmissionView view(m_controller, this);
    view.showReceiverTab();
    view.exec();
}

void MainWindow::openTransmissionRfSettings()
{
    onConfigureTransmission(true);
}

void MainWindow::openTransmissionView()
{
    onConfigureTransmission(false);
}
