#include "app/mainwindow.h"

#include <QDate>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "app/appversion.h"
#include "app/releasenotes.h"
#include "ostraui/brandlogo.h"
#include "ostraui/browserlink.h"
#include "ostraui/card.h"
#include "ostraui/focusring.h"
#include "ostraui/theme.h"
#include "ostraui/toggle.h"
#include "ostraui/wraprow.h"

using namespace ostra;

namespace {

const char SupportUrl[] = "https://qorvant.com";
const char SupportDomain[] = "qorvant.com";

QLabel *colouredLabel(const QString &text, const QFont &font, const QColor &color)
{
    auto *label = new QLabel(text);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("color: %1;").arg(colorHex(color)));
    return label;
}

QString versionText()
{
    return QStringLiteral("v%1").arg(QLatin1String(AppVersion));
}

// The platform the program was built for.
// The build's date and time as an ISO date: the compiler's own form ("Dec  7 2026") pads the
// day with a blank and reads differently in every language.
QString buildDateText()
{
    const QDate date = QDate::fromString(QStringLiteral(__DATE__).simplified(), QStringLiteral("MMM d yyyy"));
    return QStringLiteral("%1 %2").arg(date.toString(Qt::ISODate), QStringLiteral(__TIME__));
}

QString platformName()
{
#if defined(Q_OS_WIN)
    return QStringLiteral("Windows");
#elif defined(Q_OS_MACOS)
    return QStringLiteral("macOS");
#else
    return QStringLiteral("Linux");
#endif
}

QFrame *makeInfoTile(const QString &key, const QString &value)
{
    auto *tile = new QFrame;
    tile->setProperty("tile", true);
    auto *layout = new QHBoxLayout(tile);
    layout->setContentsMargins(14, 10, 14, 10);
    layout->addWidget(makeRoleLabel(key, "secondary", tile));
    layout->addStretch(1);
    auto *valueLabel = new QLabel(value, tile);
    valueLabel->setFont(monoFont(12.5, 400));
    valueLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(valueLabel);
    return tile;
}

} // namespace

QWidget *MainWindow::buildInfoPage(QWidget *context)
{
    auto *scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    makeScrollBody(scroll);
    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(8, 0, 8, 28);
    layout->setSpacing(16);
    auto *wrap = new WrapRow(16);
    layout->addLayout(wrap);
    layout->addStretch(1);

    // Left column: introduction with the reduce-motion switch, then the changelog.
    auto *left = new QVBoxLayout;
    left->setSpacing(16);
    auto *intro = new Card(content, 2);
    QVBoxLayout *introLayout = intro->contentLayout();
    introLayout->setContentsMargins(28, 28, 28, 28);
    introLayout->setSpacing(18);
    auto *brandRow = new QHBoxLayout;
    brandRow->setSpacing(18);
    auto *logo = new QLabel(intro);
    logo->setPixmap(brandLogoPixmap(170, false));
    brandRow->addWidget(logo, 0, Qt::AlignVCenter);
    auto *nameColumn = new QVBoxLayout;
    nameColumn->setSpacing(2);
    auto *name = new QLabel(QLatin1String(AppDisplayName), intro);
    name->setFont(uiFont(20, 600));
    nameColumn->addWidget(name);
    QLabel *version = colouredLabel(versionText(), monoFont(13, 400), ThemeColors::textMuted);
    nameColumn->addWidget(version);
    brandRow->addLayout(nameColumn, 1);
    introLayout->addLayout(brandRow);
    QLabel *description = colouredLabel(
        tr("Qorvant OSTRA is the central application for managing and configuring Qorvant hardware and software "
           "products. From sim racing bridges to motion platforms and other accessories, it gives you one place to "
           "set up, monitor and control all your Qorvant devices."),
        uiFont(14.5, 400), ThemeColors::textSecondary);
    description->setWordWrap(true);
    introLayout->addWidget(description);

    auto *motionRow = new QFrame(intro);
    motionRow->setProperty("row", true);
    auto *motionLayout = new QHBoxLayout(motionRow);
    motionLayout->setContentsMargins(14, 12, 14, 12);
    auto *motionText = new QVBoxLayout;
    motionText->setSpacing(2);
    auto *motionTitle = new QLabel(tr("Reduce motion"), motionRow);
    motionTitle->setFont(uiFont(14.5, 600));
    motionText->addWidget(motionTitle);
    QLabel *motionHint = makeRoleLabel(tr("Turns off the animated background and every looping animation"), "muted",
                                       motionRow);
    motionHint->setWordWrap(true);
    motionText->addWidget(motionHint);
    motionLayout->addLayout(motionText, 1);
    auto *reduceMotion = new Toggle(motionRow);
    reduceMotion->setObjectName(QStringLiteral("reduceMotionToggle"));
    reduceMotion->setChecked(Motion::instance()->reduced());
    connect(reduceMotion, &Toggle::toggled, context, [](bool on) { Motion::instance()->setReducedMotion(on); });
    motionLayout->addWidget(reduceMotion, 0, Qt::AlignVCenter);
    introLayout->addWidget(motionRow);
    left->addWidget(intro);

    auto *changelog = new Card(content, 1);
    changelog->contentLayout()->addLayout(makeHeading(tr("Changelog"), tr("What's new in each release")));
    auto *notes = new QTextBrowser(changelog);
    notes->setObjectName(QStringLiteral("changelogBrowser"));
    notes->setProperty("inset", true);
    notes->setOpenExternalLinks(true);
    notes->setMinimumHeight(360);
    notes->document()->setDocumentMargin(10);
    // The notes carry light colours of their own; the dark theme turns them into its own.
    notes->setHtml(remapColors(releaseNotesHtml()));
    changelog->contentLayout()->addWidget(notes);
    left->addWidget(changelog);
    left->addStretch(1);

    // Right column: system information, hardware compatibility and support.
    auto *right = new QVBoxLayout;
    right->setSpacing(16);
    auto *system = new Card(content, 1);
    system->contentLayout()->addLayout(makeHeading(tr("System information")));
    system->contentLayout()->addWidget(makeInfoTile(tr("Version"), versionText()));
    system->contentLayout()->addWidget(makeInfoTile(tr("Platform"), platformName()));
    system->contentLayout()->addWidget(
        makeInfoTile(tr("Build date"), buildDateText()));
    system->contentLayout()->setSpacing(8);
    right->addWidget(system);

    auto *hardware = new Card(content, 1);
    hardware->contentLayout()->setSpacing(10);
    hardware->contentLayout()->addLayout(makeHeading(tr("Hardware compatibility")));
    addChipGroup(hardware, tr("Windows"),
                 {tr("Moza wheels & pedals"), tr("Fanatec wheels & pedals"), tr("Logitech G29 / G920 / G923"),
                  tr("Any DirectInput device")});
    addChipGroup(hardware, tr("Linux"), {tr("Logitech wheels & pedals")});
    right->addWidget(hardware);

    auto *support = new Card(content, 1);
    support->contentLayout()->addLayout(makeHeading(tr("Support"), tr("Documentation, updates and help")));
    // A link button rather than a label's anchor: Tab reaches it, Space and Return open it, and its
    // focus ring lies around the text rather than over it.
    auto *link = new QPushButton(QStringLiteral("%1 \u2197").arg(QLatin1String(SupportDomain)), support);
    link->setObjectName(QStringLiteral("supportLink"));
    link->setProperty("link", true);
    link->setStyleSheet(QStringLiteral("font-size: 14.5px; font-weight: 500;"));
    link->setCursor(Qt::PointingHandCursor);
    // Opened here, so that a PC without a browser says so.
    connect(link, &QPushButton::clicked, context, [this] { openInBrowser(this, QUrl(QLatin1String(SupportUrl))); });
    support->contentLayout()->addWidget(link, 0, Qt::AlignLeft);
    right->addWidget(support);
    right->addStretch(1);

    wrap->addLayout(left, 2, 520);
    wrap->addLayout(right, 1, 300);
    scroll->setWidget(content);
    return scroll;
}
