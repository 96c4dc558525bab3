#include "receiver/radiocalibrationdialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ostraui/dialogchrome.h"

namespace corvane {

RadioCalibrationDialog::RadioCalibrationDialog(CorvaneController *controller, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
{
    setWindowTitle(tr("Radio Calibration Wizard"));
    setMinimumSize(480, 360);
    setModal(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    auto *text = new QLabel(tr("Radio calibration is not available in this version."), this);
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignCenter);
    layout->addWidget(text, 1);
    auto *row = new QHBoxLayout;
    row->addStretch();
    auto *close = new QPushButton(tr("Close"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    row->addWidget(close);
    layout->addLayout(row);
    ostra::applyDialogChrome(this, QString());
}

} // namespace corvane
