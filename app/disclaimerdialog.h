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
};

} // namespace corvane
