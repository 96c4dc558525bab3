#pragma once

#include <QDialog>
#include <QString>

#include "firmware/firmwareupdateprocedure.h"

class QComboBox;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;

namespace corvane {

class CorvaneController;

// The desktop's modal dialog for one firmware update: the receiver (with its own card for
// opening the receiver's USB port), the transmitter, or the transmitter's system software
// (auto or A/B update). It runs its own instance of the update procedures, shows their reports
// and asks before installing.
class FirmwareUpdateDialog : public QDialog
{
    Q_OBJECT
public:
    FirmwareUpdateDialog(CorvaneController *controller, FirmwareTarget target, QWidget *parent = nullptr);
    ~FirmwareUpdateDialog() override;

    FirmwareTarget target() const { return m_target; }
    FirmwareUpdateState state() const;
    // Whether the dialog itself opened the receiver's port (and so closes it with itself).
    bool openedReceiver() const { return m_openedReceiver; }

    // The four numbered steps of "BEFORE YOU START" for a target, as rich text.
    static QString infoTableHtml(FirmwareTarget target);

    void showError(const QString &text);
    void showDone(const QString &text);
    void setProgress(int value);

public slots:
    void onStart();
    void onReceiverRefreshPorts();
    void onReceiverConnectClicked();

private:
    void buildUi();
    void updateReceiverConnectUi();
    void setHint(const QString &text, const char *color);
    void onReport(const FirmwareReport &report);
    void onQuestion(const FirmwareQuestion &question);
    void onStateChanged(FirmwareUpdateState state);
    QString deviceName() const;

    CorvaneController *m_controller;
    FirmwareTarget m_target;
    FirmwareUpdateProcedure *m_procedure = nullptr;

    QLabel *m_titleLabel = nullptr;
    QFrame *m_instructionsCard = nullptr;
    QLabel *m_instructionsLabel = nullptr;
    QLabel *m_statusLabel = nullptr;
    QLabel *m_detailLabel = nullptr;
    QProgressBar *m_progressBar = nullptr;
    QPushButton *m_startButton = nullptr;
    QPushButton *m_closeButton = nullptr;
    QFrame *m_receiverCard = nullptr;
    QComboBox *m_portList = nullptr;
    QPushButton *m_connectButton = nullptr;
    QPushButton *m_refreshButton = nullptr;
    QLabel *m_receiverHint = nullptr;

    bool m_openedReceiver = false;
};

} // namespace corvane
