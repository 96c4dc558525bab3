#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;

namespace corvane {

class CorvaneController;
class MotionTelemetrySender;

// The desktop face of the UDP motion sender: target address, on/off and a live status line.
// Everything it shows lives in the sender, which outlives the dialog.
class MotionOutputDialog : public QDialog
{
    Q_OBJECT
public:
    // What the status line says while output is on.
    struct StreamingStatus
    {
        QString text;
        QString color;
    };

    MotionOutputDialog(CorvaneController *controller, QWidget *parent = nullptr);
    ~MotionOutputDialog() override;

    // msSinceGForces: -1 when no G-force sample ever arrived; sendFailure: why the datagrams do not
    // leave, empty while they do.
    static StreamingStatus streamingStatus(const QString &host, quint16 port, int packets, qint64 msSinceGForces,
                                           const QString &sendFailure = QString());

public slots:
    // False, and nothing stored, when the field holds text that is no IP address.
    bool applyTarget();
    void onEnableToggled(bool on);
    void refreshStatus();

private:
    MotionTelemetrySender *sender() const;

    CorvaneController *m_controller = nullptr;
    QLineEdit *m_hostEdit = nullptr;
    QSpinBox *m_portSpin = nullptr;
    QPushButton *m_toggle = nullptr;
    QLabel *m_status = nullptr;
    QTimer *m_statusTimer = nullptr;
    // Why the last target was refused; shown in place of the status until a target is taken.
    QString m_refusal;
};

} // namespace corvane
