#pragma once

#include <QFrame>

#include <functional>

class QComboBox;
class QGridLayout;
class QLabel;
class QPushButton;

namespace ostra {

class FadingButton;
class Monogram;
class Pill;

// Not answering: the device's port is open, but nothing answers on it.
enum DeviceRowState { DeviceNotConnected = 0, DeviceConnecting = 1, DeviceConnected = 2, DeviceNotAnswering = 3 };

// A device picker: monogram, title and subtitle, device list, status pill and connect button.
class DeviceRow : public QFrame
{
    Q_OBJECT
public:
    DeviceRow(const QString &monogram, const QString &title, const QString &subtitle,
              QWidget *parent = nullptr);

    int status() const { return m_status; }
    bool isWide() const { return m_wide; }
    bool isBusy() const { return m_busy; }
    QComboBox *combo() const { return m_combo; }

    void setStatus(int state, const QString &detail = QString());
    void setBusy(bool busy);
    void setConnectPredicate(const std::function<bool()> &predicate);
    void updateControls();

signals:
    void connectRequested();
    void disconnectRequested();

protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildLayout();
    void chooseLayout();
    int listWidth() const;
    int wideWidth() const;
    bool deviceChosen() const;
    void onActionClicked();
    bool isOpen() const { return m_status == DeviceConnected || m_status == DeviceNotAnswering; }

    QGridLayout *m_grid;
    Monogram *m_monogram = nullptr;
    QLabel *m_title;
    QLabel *m_subtitle;
    QComboBox *m_combo;
    Pill *m_pill;
    FadingButton *m_button;
    int m_status = DeviceNotConnected;
    bool m_wide = true;
    bool m_busy = false;
    std::function<bool()> m_connectPredicate;
};

} // namespace ostra
