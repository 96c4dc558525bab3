#pragma once

#include <QDialog>

namespace corvane {

// The terms of use and safety notice a user accepts once before driving a car or helicopter.
class DisclaimerDialog : public QDialog
{
    Q_OBJECT
public:
    explicit DisclaimerDialog(QWidget *parent = nullptr);
    ~DisclaimerDialog() override;

    static bool isAccepted();
    // True at once when accepted before; otherwise asks and is true when the user agrees now.
    static bool ensureAccepted(QWidget *parent);

    // Whether the settings write `ticket` is the one the agreement waits for, whose failure the
    // dialog shows in front of itself.
    bool isStoring(quint64 ticket) const { return m_agreement && ticket >= m_agreement; }

private:
    void onSettingsWritten(quint64 ticket, bool ok);

    // The settings write that stores the agreement; 0 before "I Agree".
    quint64 m_agreement = 0;
    bool m_settled = false;
};

} // namespace corvane
