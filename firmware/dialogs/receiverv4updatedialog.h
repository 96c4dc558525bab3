#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <QUrl>

#include "firmware/receiverv4flasher.h"

class QComboBox;
class QFrame;
class QLabel;
class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QThread;

namespace corvane {

class CorvaneController;

// Updates a receiver V4 over the USB-UART cable on its J14 connector: picks the cable's port,
// refuses the transmitter's, frees the port from the receiver console, reads the board, shows the
// latest published release, downloads it (or takes a local .bin with its .json) and runs the
// flasher on a worker thread with progress, a power-cycle prompt and a time-stamped log.
class ReceiverV4UpdateDialog : public QDialog
{
    Q_OBJECT
public:
    // Where the release lies below the firmware base address.
    static const char ReleaseFolder[];
    static constexpr int RequestTimeoutMs = 20000;
    static constexpr int MaxLogLines = 2000;
    // Closing waits this long for a run to stop at its next page, then leaves it to finish.
    static constexpr int StopWaitMs = 5000;
    static constexpr int WaitSliceMs = 20;

    explicit ReceiverV4UpdateDialog(CorvaneController *controller, QWidget *parent = nullptr);
    ~ReceiverV4UpdateDialog() override;

    // -1, 0 or 1 as dotted version `a` is below, equal to or above `b`, numerically.
    static int compareVersions(const QString &a, const QString &b);
    // The release folder's address, from the firmware base address setting.
    static QUrl releaseUrl(const QString &file);

public slots:
    void reject() override;

private slots:
    // The flasher's reports, queued from its thread.
    void onBoardInfo(const QString &version, const QString &hardware, bool inBootloader);
    void onFlasherProgress(const QString &stage, int done, int total);
    void onPowerCycleRequested(bool active);
    void onFlasherFinished(bool ok, const QString &message);

protected:
    // The local firmware file to install, or empty (the file dialog; tests answer it).
    virtual QString askForFirmwareFile();

private:
    enum Busy { Idle = 0, ReadingBoard = 1, Updating = 2 };
    enum Level { NoLevel, Ok, Warn, Fail };

    void refreshPorts();
    QString selectedPort() const;
    void refreshPortButtons();
    bool releasePort(const QString &port);
    void onCheckVersionClicked();
    void onUpdateClicked();
    void onUseFileClicked();
    void startFlasher(const ReceiverV4Flasher::Image &image);
    void setBusy(bool busy, bool cancellable);
    void setStatus(const QString &text, Level level);
    void appendLog(const QString &text);
    QNetworkReply *makeRequest(const QUrl &url);
    void onLatestVersionReceived(QNetworkReply *reply);
    void onDescriptionReceived(QNetworkReply *reply);
    void onImageReceived(QNetworkReply *reply);
    // Ends the download when it was cancelled or the reply failed; the reply goes later either way.
    bool downloadFailed(QNetworkReply *reply);
    void failDownload(const QString &reason);
    void updateVersionLabels();
    // Yes to a question; its texts come with versions a board or a file gave.
    bool confirm(const QString &title, const QString &text);

    CorvaneController *m_controller;
    QNetworkAccessManager *m_network;
    QThread *m_thread;
    ReceiverV4Flasher *m_flasher;

    QComboBox *m_portCombo = nullptr;
    QPushButton *m_refreshButton = nullptr;
    QLabel *m_boardLabel = nullptr;
    QPushButton *m_checkButton = nullptr;
    QLabel *m_latestLabel = nullptr;
    QFrame *m_powerCycle = nullptr;
    QLabel *m_status = nullptr;
    QProgressBar *m_progress = nullptr;
    QPlainTextEdit *m_log = nullptr;
    QPushButton *m_fileButton = nullptr;
    QPushButton *m_closeButton = nullptr;
    QPushButton *m_updateButton = nullptr;

    Busy m_busy = Idle;
    bool m_cancellable = false;
    bool m_cancelRequested = false;
    QString m_boardVersion;
    bool m_boardInBootloader = false;
    QString m_latestVersion;
    QString m_latestError;
    // The published version file holds something that is no version.
    bool m_latestRefused = false;
    ReceiverV4Flasher::Image m_image;
    bool m_imageLoaded = false;
    QString m_imageSource;
    QByteArray m_description;
    // The port of the run under way.
    QString m_runPort;
};

} // namespace corvane
