#pragma once

#include <QDialog>
#include <QList>
#include <QPair>
#include <QStringList>

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace ostra {
class Toggle;
}

namespace corvane {

class RaceControl;

// The safety link and the venue's station list: which stations this PC controls, adding one by
// address or from a network scan, and forgetting old ones. It keeps no station data of its own.
class RaceStationsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit RaceStationsDialog(RaceControl *control, QWidget *parent = nullptr);

    QString armedRemoveId() const { return m_armedRemoveId; }

public slots:
    void rebuildList();
    void scan();
    void showScanResult(const QStringList &results);
    void onAddClicked();
    void addFoundStation(const QString &address, QWidget *row);

private:
    static void clearLayout(QVBoxLayout *layout);
    void revealScanResults();
    // Keeps the whole dialog in view as lines come and go below the list: the window grows into
    // the screen's free height, and on a screen too short for that the list gives up its room.
    void fitContent();
    // Scrolls the dialog's card, where it scrolls, until the widget is in view.
    void scrollCardTo(QWidget *widget, int margin);
    // The line under the add field: what the last try came to, until the next one; a station
    // let go unconfirmed is named there until it is chosen again.
    void showMessage(const QString &text, const char *role = "warning", const QString &stationId = QString());

    RaceControl *m_control;
    ostra::Toggle *m_safetySwitch;
    QList<QPair<int, QPushButton *>> m_timeoutButtons;
    QLabel *m_heading;
    QLineEdit *m_search;
    QScrollArea *m_listScroll;
    QVBoxLayout *m_list;
    QWidget *m_listContent;
    QLineEdit *m_addField;
    QPushButton *m_addButton;
    QPushButton *m_scanButton;
    QLabel *m_message;
    QString m_messageStationId;
    QVBoxLayout *m_scanResults;
    QString m_armedRemoveId;
};

} // namespace corvane
