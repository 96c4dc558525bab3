#pragma once

#include <QHash>
#include <QList>
#include <QPair>
#include <QWidget>

class QLabel;
class QPushButton;
class QTimer;

namespace ostra {
class Card;
class Pill;
class ResponsiveGrid;
}

namespace corvane {

class RaceCarCard;
class RaceControl;

// The race director's page: counts of running, stopped and not-ready cars, the safety link, the
// all-cars cap, one card per chosen station and the fleet's STOP ALL and Resume all. All network
// state belongs to RaceControl; the page reads it every 100 ms while shown.
class RaceControlPage : public QWidget
{
    Q_OBJECT
public:
    explicit RaceControlPage(RaceControl *control, QWidget *parent = nullptr);

public slots:
    void refresh();
    void rebuildCards();
    void stopAll();
    void resumeAll();
    void setAllCarsCap(int percent);
    void openStationsDialog();
    void openCarDialog(const QString &stationId);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    RaceControl *m_control;
    QTimer *m_refreshTimer;
    QTimer *m_resumeConfirmTimer;
    QLabel *m_runningCount = nullptr;
    QLabel *m_stoppedCount = nullptr;
    QLabel *m_notReadyCount = nullptr;
    ostra::Pill *m_safetyPill;
    QList<QPair<int, QPushButton *>> m_capButtons;
    QLabel *m_capStatus;
    ostra::Card *m_emptyCard;
    QWidget *m_content;
    ostra::ResponsiveGrid *m_grid;
    QHash<QString, RaceCarCard *> m_cards;
    QPushButton *m_stopAllButton;
    QPushButton *m_resumeAllButton;
};

} // namespace corvane
