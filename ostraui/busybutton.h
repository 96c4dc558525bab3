#pragma once

#include <QPushButton>

namespace ostra {

class Spinner;

// A push button that shows a spinner and a busy text while its work runs.
class BusyButton : public QPushButton
{
    Q_OBJECT
public:
    explicit BusyButton(const QString &text, QWidget *parent = nullptr);

    bool isBusy() const { return m_busy; }
    void setBusy(bool busy, const QString &busyText = QString());
    void setBusyFor(const QString &busyText, int ms);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void leaveBusy();

    QString m_savedText;
    bool m_busy = false;
    Spinner *m_spinner;
};

} // namespace ostra
