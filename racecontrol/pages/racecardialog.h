#pragma once

#include <QDialog>
#include <QJsonObject>
#include <QList>
#include <QPair>

#include <functional>

class QGridLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace ostra {
class Pill;
class Toggle;
}

namespace corvane {

class RaceControl;
struct RaceStation;

// Why a car cannot drive or does not answer, for the car dialog; empty when nothing stops it.
QString stopReasonText(const RaceStation &station);

// One station's car, live: its state and stop reason, name and driver, own speed cap and
// reverse, steering trim, smooth deceleration and wheel force feedback, and stop / resume.
// Lounge commands go out without waiting; tuning goes to the station's own axis and
// force-feedback requests, shown at once and confirmed by the station's replies.
class RaceCarDialog : public QDialog
{
    Q_OBJECT
public:
    RaceCarDialog(RaceControl *control, const QString &stationId, int index, QWidget *parent = nullptr);

public slots:
    void refresh();
    void loadTuning();
    void saveAxis(const QJsonObject &partial);
    void saveFfb(const QJsonObject &partial);
    void setSpeedCap(int percent);
    void stepSpeedCap(int step);
    void stepSteeringCenter(int step);
    void stepDecelRate(int step);
    void stepFfbStrength(int step);
    void stepFfbCentering(int step);
    void setReverseAllowed(bool allowed);
    void setSmoothDeceleration(bool on);
    void setFfbEnabled(bool on);
    void undoSteeringTrim();
    void toggleStop();
    void commitNameEdits();

private:
    QWidget *makeStepper(const QString &name, const std::function<void(int)> &step, QLabel **valueOut);
    QLabel *makeStatTile(QHBoxLayout *row, const QString &caption, const QColor &color);
    void stepFfbPercent(const QString &key, int step);

    RaceControl *m_control;
    QString m_stationId;
    int m_index;
    QTimer *m_liveTimer;
    QJsonObject m_axis;
    QJsonObject m_ffb;
    int m_undoValue = -1;
    QList<QPair<int, QPushButton *>> m_capButtons;

    ostra::Pill *m_pill;
    QLabel *m_stopReason;
    QLineEdit *m_nameField;
    QLineEdit *m_driverField;
    QLabel *m_nameRefusal;
    QLabel *m_gasTile;
    QLabel *m_brakeTile;
    QLabel *m_steerTile;
    QLabel *m_gearTile;
    QWidget *m_capSection;
    QLabel *m_ownCapStatus;
    QLabel *m_fineTuneValue = nullptr;
    ostra::Toggle *m_reverseToggle;
    QLabel *m_reverseHint;
    QWidget *m_tuningSection;
    QLabel *m_loading;
    QLabel *m_trimValue = nullptr;
    QPushButton *m_undoButton;
    ostra::Toggle *m_smoothToggle;
    QWidget *m_rateRow;
    QLabel *m_rateValue = nullptr;
    ostra::Toggle *m_ffbToggle;
    QLabel *m_ffbHint;
    QWidget *m_ffbGrid;
    QLabel *m_strengthValue = nullptr;
    QLabel *m_centeringValue = nullptr;
    QPushButton *m_bigButton;
};

} // namespace corvane
