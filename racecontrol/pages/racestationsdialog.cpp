#include "racecontrol/pages/racestationsdialog.h"

#include "ostraui/dialogchrome.h"
#include "ostraui/focusring.h"
#include "ostraui/screenfit.h"
#include "ostraui/theme.h"
#include "ostraui/toggle.h"
#include "racecontrol/pages/racedisplay.h"
#include "racecontrol/racecontrol.h"

#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace corvane {

namespace {

constexpr int kMinimumWidth = 560;
constexpr int kMaxVersionChars = 32;
constexpr int kBottomMargin = 24;
constexpr int kListMinimumHeight = 220;
// What the list keeps on a screen too short for the rest: two rows.
constexpr int kListLeastHeight = 100;
// The longest host name there is.
constexpr int kMaxEntryChars = 253;
// What of an entry a message repeats: a word too long to wrap would run past the dialog's edge.
constexpr int kMaxEchoChars = 40;

QString echoed(const QString &text)
{
    return text.size() > kMaxEchoChars ? text.left(kMaxEchoChars - 1) + QChar(0x2026) : text;
}

// What a station can be reached at: four numbers of 0 to 255, an IPv6 address or a host name,
// which may end in the root's dot. A text of numbers that is no IPv4 address (999.1.1.1) is
// refused, rather than probed as a name.
bool isStationAddress(QString text)
{
    if (text.contains(QLatin1Char(':')))
        return QHostAddress(text).protocol() == QAbstractSocket::IPv6Protocol;
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    static const QRegularExpression label(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?$"));
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    const QStringList parts = text.split(QLatin1Char('.'));
    if (digits.match(parts.constLast()).hasMatch()) {
        return parts.size() == 4 && std::all_of(parts.cbegin(), parts.cend(), [](const QString &part) {
                   return digits.match(part).hasMatch() && part.size() <= 3 && part.toInt() <= 255;
               });
    }
    return text.size() <= 253
           && std::all_of(parts.cbegin(), parts.cend(), [](const QString &part) { return label.match(part).hasMatch(); });
}

} // namespace

RaceStationsDialog::RaceStationsDialog(RaceControl *control, QWidget *parent)
    : QDialog(parent)
    , m_control(control)
{
    setWindowTitle(tr("Race control stations"));
    setMinimumWidth(kMinimumWidth);
    auto *main = new QVBoxLayout(this);
    main->setContentsMargins(24, 8, 24, kBottomMargin);
    main->setSpacing(12);

    auto *safetyRow = new QHBoxLayout;
    auto *safetyText = new QVBoxLayout;
    safetyText->setSpacing(0);
    safetyText->addWidget(ostra::makeRoleLabel(tr("Safety link"), "h3", this));
    QLabel *safetyHint = ostra::makeRoleLabel(
        tr("Every car stops by itself if it stops hearing this OSTRA (OSTRA closed, PC asleep, network down). "
           "Closing the OSTRA switches it off first."),
        "muted", this);
    safetyHint->setWordWrap(true);
    safetyText->addWidget(safetyHint);
    safetyRow->addLayout(safetyText, 1);
    m_safetySwitch = new ostra::Toggle(this);
    m_safetySwitch->setChecked(m_control->watchdog());
    safetyRow->addWidget(m_safetySwitch, 0, Qt::AlignTop);
    main->addLayout(safetyRow);

    auto *timeoutRow = new QHBoxLayout;
    timeoutRow->setSpacing(8);
    timeoutRow->addWidget(ostra::makeRoleLabel(tr("Stop after"), "muted", this));
    for (int ms : {1000, 2000, 5000}) {
        QPushButton *button = ostra::makeButton(QStringLiteral("%1 s").arg(ms / 1000), false, this);
        button->setCheckable(true);
        button->setMinimumHeight(32);
        button->setChecked(ms == m_control->watchdogTimeoutMs());
        timeoutRow->addWidget(button);
        m_timeoutButtons.append({ms, button});
        connect(button, &QPushButton::clicked, this, [this, ms] {
            m_control->setWatchdog(m_safetySwitch->isChecked(), ms);
            for (const auto &[value, other] : std::as_const(m_timeoutButtons))
                other->setChecked(value == ms);
        });
    }
    timeoutRow->addStretch();
    main->addLayout(timeoutRow);
    main->addWidget(ostra::makeHairline(this));

    auto *headingRow = new QHBoxLayout;
    m_heading = ostra::makeRoleLabel(QString(), "h3", this);
    headingRow->addWidget(m_heading);
    headingRow->addStretch();
    QPushButton *clearButton = ostra::makeButton(tr("Clear"), false, this);
    clearButton->setProperty("ghost", true);
    headingRow->addWidget(clearButton);
    main->addLayout(headingRow);

    QLabel *intro = ostra::makeRoleLabel(
        tr("Turn on the stations in this venue. Remove the ones that aren't yours anymore."), "muted", this);
    intro->setWordWrap(true);
    main->addWidget(intro);

    m_search = new QLineEdit(this);
    m_search->setPlaceholderText(tr("Search name or IP"));
    m_search->setClearButtonEnabled(true);
    m_search->setMaxLength(kMaxEntryChars);
    main->addWidget(m_search);

    m_listScroll = new QScrollArea(this);
    m_listScroll->setFrameShape(QFrame::NoFrame);
    m_listScroll->setWidgetResizable(true);
    m_listScroll->setMinimumHeight(kListMinimumHeight);
    // The rows' own controls take Tab; a ring around the whole list would say nothing more.
    ostra::makeScrollBody(m_listScroll);
    m_listContent = new QWidget(m_listScroll);
    m_list = new QVBoxLayout(m_listContent);
    m_list->setContentsMargins(0, 0, 0, 0);
    m_list->setSpacing(2);
    m_listScroll->setWidget(m_listContent);
    main->addWidget(m_listScroll, 1);

    auto *addRow = new QHBoxLayout;
    addRow->setSpacing(8);
    m_addField = new QLineEdit(this);
    m_addField->setPlaceholderText(tr("Add by IP, e.g. 192.168.1.21"));
    m_addField->setMaxLength(kMaxEntryChars);
    addRow->addWidget(m_addField, 1);
    m_addButton = ostra::makeButton(tr("Add"), false, this);
    addRow->addWidget(m_addButton);
    m_scanButton = ostra::makeButton(tr("Scan network"), false, this);
    addRow->addWidget(m_scanButton);
    main->addLayout(addRow);
    m_message = ostra::makeRoleLabel(QString(), "warning", this);
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    m_message->hide();
    main->addWidget(m_message);
    m_scanResults = new QVBoxLayout;
    m_scanResults->setSpacing(4);
    main->addLayout(m_scanResults);

    connect(m_safetySwitch, &ostra::Toggle::clicked, this,
            [this](bool checked) { m_control->setWatchdog(checked, m_control->watchdogTimeoutMs()); });
    connect(clearButton, &QPushButton::clicked, m_control, &RaceControl::clearIncluded);
    connect(m_search, &QLineEdit::textChanged, this, &RaceStationsDialog::rebuildList);
    connect(m_control, &RaceControl::stationsChanged, this, &RaceStationsDialog::rebuildList);
    connect(m_control, &RaceControl::stationChanged, this, &RaceStationsDialog::rebuildList);
    connect(m_addButton, &QPushButton::clicked, this, &RaceStationsDialog::onAddClicked);
    connect(m_addField, &QLineEdit::returnPressed, this, &RaceStationsDialog::onAddClicked);
    connect(m_scanButton, &QPushButton::clicked, this, &RaceStationsDialog::scan);
    connect(m_control, &RaceControl::errorOccurred, this,
            [this](const QString &message, const QString &stationId) { showMessage(message, "warning", stationId); });

    ostra::applyDialogChrome(this, tr("Safety link and which stations this OSTRA controls"));
    keepDialogContentSize(this, kMinimumWidth);
    rebuildList();
}

void RaceStationsDialog::clearLayout(QVBoxLayout *layout)
{
    while (QLayoutItem *item = layout->takeAt(0)) {
        if (QWidget *widget = item->widget())
            widget->deleteLater();
        delete item;
    }
}

void RaceStationsDialog::rebuildList()
{
    // Chosen again, the station is race control's once more: what was said of letting it go is past.
    if (!m_messageStationId.isEmpty() && m_control->isIncluded(m_messageStationId))
        showMessage(QString());
    clearLayout(m_list);
    QList<RaceStation> stations = m_control->stations();
    const auto chosenCount = std::count_if(stations.cbegin(), stations.cend(),
                                           [this](const RaceStation &s) { return m_control->isIncluded(s.id); });
    m_heading->setText(tr("Stations \u00B7 %1 of %2 chosen").arg(chosenCount).arg(stations.size()));

    const QString filter = m_search->text().trimmed();
    QList<RaceStation> shown;
    for (const RaceStation &station : std::as_const(stations)) {
        if (filter.isEmpty() || station.name.contains(filter, Qt::CaseInsensitive) || station.host.contains(filter))
            shown.append(station);
    }
    std::stable_sort(shown.begin(), shown.end(), [this](const RaceStation &a, const RaceStation &b) {
        return m_control->isIncluded(a.id) && !m_control->isIncluded(b.id);
    });

    auto addMuted = [this](const QString &text) {
        QLabel *label = ostra::makeRoleLabel(text, "muted", m_listContent);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        m_list->addWidget(label);
    };
    if (stations.isEmpty())
        addMuted(tr("No stations yet. Add one by IP or scan the network."));
    else if (shown.isEmpty())
        addMuted(tr("No station matches \u201C%1\u201D.").arg(echoed(filter)));

    for (const RaceStation &station : std::as_const(shown)) {
        const QString id = station.id;
        const bool chosen = m_control->isIncluded(id);
        auto *row = new QFrame(m_listContent);
        row->setProperty("row", true);
        auto *rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(10, 6, 6, 6);
        rowLayout->setSpacing(10);
        auto *texts = new QVBoxLayout;
        texts->setSpacing(0);
        QLabel *name = ostra::makeRoleLabel(station.name, "body", row);
        name->setTextFormat(Qt::PlainText);
        texts->addWidget(name);
        QLabel *detail = ostra::makeRoleLabel(
            chosen ? QStringLiteral("%1 \u00B7 %2").arg(station.host, stationStatusText(station).text) : station.host,
            "muted", row);
        detail->setTextFormat(Qt::PlainText);
        texts->addWidget(detail);
        rowLayout->addLayout(texts, 1);

        QPushButton *remove = ostra::makeButton(tr("Remove"), false, row);
        remove->setProperty("small", true);
        if (id != m_armedRemoveId) {
            remove->setProperty("ghost", true);
            remove->setToolTip(tr("Forget this station on this PC"));
            connect(remove, &QPushButton::clicked, this, [this, id] {
                m_armedRemoveId = id;
                rebuildList();
            });
        } else {
            remove->setProperty("danger", true);
            connect(remove, &QPushButton::clicked, this, [this, id] {
                m_armedRemoveId.clear();
                m_control->removeStation(id);
            });
        }
        rowLayout->addWidget(remove);

        auto *toggle = new ostra::Toggle(row);
        toggle->setChecked(chosen);
        connect(toggle, &ostra::Toggle::clicked, this,
                [this, id](bool checked) { m_control->setStationIncluded(id, checked); });
        rowLayout->addWidget(toggle);
        m_list->addWidget(row);
    }
    m_list->addStretch();
}

void RaceStationsDialog::onAddClicked()
{
    const QString text = m_addField->text().trimmed();
    if (text.isEmpty())
        return;
    const QString shown = echoed(text);
    if (!isStationAddress(text)) {
        showMessage(tr("\u201C%1\u201D is not a valid address").arg(shown));
        return;
    }
    m_addButton->setEnabled(false);
    showMessage(tr("Reaching %1\u2026").arg(shown), "muted");
    // Race control never takes this PC for a station, by any of its names; that is no fault of
    // the network.
    RaceControl::lookUpOwnHost(text, this, [this, text, shown](bool own) {
        if (own) {
            m_addButton->setEnabled(true);
            showMessage(tr("%1 is this PC \u2014 add the other PCs of the venue by their address").arg(shown));
            return;
        }
        m_control->addStation(text, [self = QPointer(this), shown](bool ok) {
            if (!self)
                return;
            self->m_addButton->setEnabled(true);
            if (ok) {
                self->m_addField->clear();
                self->showMessage(QString());
            } else {
                self->showMessage(tr("Couldn't reach %1 \u2014 check it's on and on this network").arg(shown));
            }
        });
    });
}

void RaceStationsDialog::showMessage(const QString &text, const char *role, const QString &stationId)
{
    m_messageStationId = stationId;
    ostra::setStyleState(m_message, "role", QString::fromLatin1(role));
    m_message->setText(text);
    m_message->setVisible(!text.isEmpty());
    fitContent();
    if (!text.isEmpty())
        scrollCardTo(m_message, kBottomMargin);
}

void RaceStationsDialog::fitContent()
{
    m_listScroll->setMinimumHeight(kListMinimumHeight);
    m_listScroll->setMaximumHeight(QWIDGETSIZE_MAX);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    auto *card = findChild<QScrollArea *>(QStringLiteral("ostraDialogScroll"));
    if (!card || !isVisible())
        return;
    const auto overflow = [card] {
        QWidget *content = card->widget();
        const int width = card->viewport()->width();
        const int natural = content->hasHeightForWidth() ? content->heightForWidth(width) : content->sizeHint().height();
        return std::max(natural, content->minimumSizeHint().height()) - card->viewport()->height();
    };
    int excess = overflow();
    if (excess <= 0)
        return;
    const QRect area = ostra::availableArea(this);
    const int grow = std::min(excess, area.height() - frameGeometry().height());
    if (grow > 0) {
        // It grows about its centre and stays on its screen.
        const int top = std::clamp(y() - grow / 2, area.top(), std::max(area.top(), area.bottom() + 1 - frameGeometry().height() - grow));
        resize(width(), height() + grow);
        move(x(), top);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        excess = overflow();
    }
    if (excess > 0) {
        const int least = std::max(kListLeastHeight, m_listScroll->height() - excess);
        m_listScroll->setMinimumHeight(std::min(kListMinimumHeight, least));
        m_listScroll->setMaximumHeight(least);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    }
}

void RaceStationsDialog::scan()
{
    m_scanButton->setEnabled(false);
    m_scanButton->setText(tr("Scanning\u2026"));
    clearLayout(m_scanResults);
    m_control->scanNetwork([self = QPointer(this)](const QStringList &results) {
        if (self)
            self->showScanResult(results);
    });
}

void RaceStationsDialog::showScanResult(const QStringList &results)
{
    m_scanButton->setEnabled(true);
    m_scanButton->setText(tr("Scan network"));
    QStringList known;
    for (const RaceStation &station : m_control->stations())
        known.append(station.host);
    QList<QPair<QString, QString>> kept;
    for (const QString &result : results) {
        const QString address = result.section(QLatin1Char('|'), 0, 0);
        if (!known.contains(address))
            kept.append({address, result.section(QLatin1Char('|'), 1)});
    }
    if (kept.isEmpty()) {
        m_scanResults->addWidget(ostra::makeRoleLabel(results.isEmpty() ? tr("No stations found on this network.")
                                                                        : tr("Every station found is already in the list."),
                                                      "muted", this));
        revealScanResults();
        return;
    }
    m_scanResults->addWidget(ostra::makeRoleLabel(tr("Found on this network"), "h3", this));
    for (const auto &[address, version] : std::as_const(kept)) {
        auto *row = new QWidget(this);
        auto *rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        // Whatever answers on the port wrote this text: never let it format or stretch the label.
        const QString shownVersion = version.size() > kMaxVersionChars ? version.left(kMaxVersionChars) + QChar(0x2026) : version;
        QLabel *label = ostra::makeRoleLabel(
            shownVersion.isEmpty() ? address : tr("%1 \u00B7 Corvane %2").arg(address, shownVersion), "body", row);
        label->setTextFormat(Qt::PlainText);
        rowLayout->addWidget(label, 1);
        QPushButton *add = ostra::makeButton(tr("Add"), false, row);
        add->setProperty("small", true);
        rowLayout->addWidget(add);
        row->setProperty("foundStation", address);
        connect(add, &QPushButton::clicked, this, [this, address, row] { addFoundStation(address, row); });
        m_scanResults->addWidget(row);
    }
    revealScanResults();
}

// The results come last, below the add row: the dialog makes room for them.
void RaceStationsDialog::revealScanResults()
{
    if (m_scanResults->count() == 0)
        return;
    QWidget *first = m_scanResults->itemAt(0)->widget();
    for (int i = 0; i < m_scanResults->count(); ++i) {
        if (QWidget *widget = m_scanResults->itemAt(i)->widget())
            widget->show();
    }
    fitContent();
    scrollCardTo(first, 12);
}

void RaceStationsDialog::scrollCardTo(QWidget *widget, int margin)
{
    if (auto *card = findChild<QScrollArea *>(QStringLiteral("ostraDialogScroll")))
        card->ensureWidgetVisible(widget, 0, margin);
}

void RaceStationsDialog::addFoundStation(const QString &address, QWidget *row)
{
    showMessage(QString());
    m_control->addStation(address, [self = QPointer(this), row = QPointer(row), address](bool ok) {
        if (!self)
            return;
        if (!ok) {
            self->showMessage(tr("Couldn't reach %1").arg(address));
            return;
        }
        if (!row)
            return;
        self->m_scanResults->removeWidget(row);
        row->deleteLater();
        // Without rows under it, the heading would seem to title the station list.
        bool rowsLeft = false;
        for (int i = 0; i < self->m_scanResults->count(); ++i) {
            QWidget *widget = self->m_scanResults->itemAt(i)->widget();
            rowsLeft = rowsLeft || (widget && widget->property("foundStation").isValid());
        }
        if (!rowsLeft)
            clearLayout(self->m_scanResults);
    });
}

} // namespace corvane
