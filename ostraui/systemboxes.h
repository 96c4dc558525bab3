#pragma once

#include <QObject>

namespace ostra {

// Dresses Qt's own message and input boxes (errors, confirmations, name prompts) in the dialog
// chrome as they are built, so that they look as the kit's dialogs do. Installed on the
// application by the theme.
class SystemBoxes : public QObject
{
    Q_OBJECT

public:
    explicit SystemBoxes(QObject *parent);
    bool eventFilter(QObject *watched, QEvent *event) override;
};

} // namespace ostra
