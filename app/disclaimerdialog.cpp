#include "app/disclaimerdialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "ostraui/dialogchrome.h"
#include "ostraui/dialogkeyboard.h"
#include "ostraui/theme.h"
#include "platform/storage/settingsfile.h"

namespace corvane {

namespace {

const char AcceptedKey[] = "disclaimer/accepted";

QLabel *makeLabel(const QString &text, const char *objectName, bool wrap, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(objectName));
    label->setWordWrap(wrap);
    // Title and section headings stand out; the safety warning is set apart in the warning colours.
    using namespace ostra;
    const QByteArray name(objectName);
    if (name == "titleLabel") {
        label->setFont(uiFont(20, 600));
        label->setStyleSheet(QStringLiteral("color: %1;").arg(colorHex(ThemeColors::ink)));
    } else if (name == "sectionLabel") {
        label->setFont(uiFont(15, 600));
        label->setStyleSheet(QStringLiteral("color: %1;").arg(colorHex(ThemeColors::ink)));
        label->setContentsMargins(0, 8, 0, 0);
    } else if (name == "warningLabel") {
        label->setFont(uiFont(14, 500));
        label->setStyleSheet(QStringLiteral("color: %1; background: %2; border-radius: 10px; padding: 10px 12px;")
                                 .arg(colorHex(ThemeColors::warningText), colorHex(ThemeColors::warningSoft)));
    } else {
        label->setFont(uiFont(14, 400));
        label->setStyleSheet(QStringLiteral("color: %1;").arg(colorHex(ThemeColors::textSecondary)));
    }
    return label;
}

} // namespace

DisclaimerDialog::DisclaimerDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("QOR Corvane \u2014 Terms of Use"));
    setMinimumSize(520, 520);
    setModal(true);

    auto *outer = new QVBoxLayout(this);
    outer->setSpacing(12);
    outer->setContentsMargins(24, 20, 24, 20);
    outer->addWidget(makeLabel(tr("QOR Corvane"), "titleLabel", false, this), 0, Qt::AlignCenter);
    outer->addWidget(makeLabel(tr("QOR Corvane is designed to bridge sim racing hardware to RC vehicles via "
                                  "wireless communication. By using this application, you acknowledge and "
                                  "agree to the following:"),
                               "bodyLabel", true, this));

    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("scrollContent"));
    auto *layout = new QVBoxLayout(content);
    layout->setSpacing(6);
    // Room on the right for the vertical scroll bar.
    layout->setContentsMargins(0, 0, 8, 0);
    const QList<QPair<const char *, QString>> sections = {
        {"sectionLabel", tr("Hardware Interaction")},
        {"bodyLabel",
         tr("This app uses Bluetooth for initial device setup and Wi-Fi to manage your QOR Transmitter. "
            "Communication between the QOR Transmitter and Receiver uses the ELRS protocol with built-in security "
            "measures. All devices include their own security protections. Qorvant LLC is not responsible for any "
            "damage to your hardware, RC vehicles, or other property resulting from the use of this application. "
            "Always ensure your devices are properly configured before operation.")},
        {"sectionLabel", tr("Safety")},
        {"bodyLabel",
         tr("RC vehicles can be dangerous if not operated responsibly. Always operate in a safe environment, "
            "maintain a safe distance from people and obstacles, and never operate a vehicle without proper line "
            "of sight. You are solely responsible for the safe operation of your equipment.")},
        {"warningLabel",
         tr("IMPORTANT: Before every drive, always verify that your throttle and brake inputs are working "
            "correctly in the application or mobile app. Sim racing peripherals can occasionally send unexpected "
            "input values due to software bugs or calibration issues, which could cause your vehicle to "
            "accelerate unexpectedly. Never drive without confirming your controls are responding as expected.")},
        {"sectionLabel", tr("Permissions")},
        {"bodyLabel",
         tr("This app requires Bluetooth permissions for initial device setup and Wi-Fi permissions to manage "
            "your QOR Transmitter. These permissions are used exclusively for device connectivity \u2014 no "
            "personal data is collected or transmitted to external servers.")},
        {"sectionLabel", tr("Limitation of Liability")},
        {"bodyLabel",
         tr("This software is provided \"as is\" without warranty of any kind. Qorvant LLC shall not be held "
            "liable for any claims, damages, or losses arising from the use of this application or connected "
            "hardware.")},
    };
    for (const auto &[name, text] : sections)
        layout->addWidget(makeLabel(text, name, qstrcmp(name, "sectionLabel") != 0, content));
    layout->addStretch(1);
    scroll->setWidget(content);
    outer->addWidget(scroll, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto *decline = new QPushButton(tr("Decline"), this);
    decline->setObjectName(QStringLiteral("declineBtn"));
    buttons->addWidget(decline);
    auto *agree = new QPushButton(tr("I Agree"), this);
    agree->setObjectName(QStringLiteral("acceptBtn"));
    agree->setProperty("primary", true);
    agree->setCursor(Qt::PointingHandCursor);
    buttons->addWidget(agree);
    outer->addLayout(buttons);

    connect(decline, &QPushButton::clicked, this, &QDialog::reject);
    // Closed once the answer is on disk, so that the next start does not ask again; a write that
    // fails is told here, where it was given.
    auto *settings = new SettingsFile(this);
    connect(settings, &SettingsFile::written, this, &DisclaimerDialog::onSettingsWritten);
    connect(agree, &QPushButton::clicked, this, [this, settings] {
        if (!m_agreement)
            m_agreement = settings->setValue(QLatin1String(AcceptedKey), true);
    });

    // A stray Return must not agree.
    ostra::setNoDefaultButton(this);
    ostra::applyDialogChrome(this);
}

DisclaimerDialog::~DisclaimerDialog() = default;

void DisclaimerDialog::onSettingsWritten(quint64 ticket, bool ok)
{
    if (!isStoring(ticket) || m_settled)
        return;
    m_settled = true;
    if (ok) {
        accept();
        return;
    }
    // The agreement holds for this run, and goes to disk with the next settings write that lands.
    auto *box = new QMessageBox(QMessageBox::Warning, tr("Agreement not saved"),
                                tr("Your agreement could not be saved (is the disk full?). You can go on now, but "
                                   "unless the program can save its settings before you quit, it will ask again at "
                                   "the next start."),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QDialog::finished, this, &QDialog::accept);
    box->open();
}

bool DisclaimerDialog::isAccepted()
{
    return SettingsFile().value(QLatin1String(AcceptedKey), false).toBool();
}

bool DisclaimerDialog::ensureAccepted(QWidget *parent)
{
    if (isAccepted())
        return true;
    DisclaimerDialog dialog(parent);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace corvane
