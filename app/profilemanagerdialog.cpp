#include "app/profilemanagerdialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QInputDialog>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

#include "ostraui/dialogchrome.h"
#include "ostraui/plaintextguard.h"
#include "ostraui/theme.h"
#include "platform/storage/filewriter.h"
#include "profiles/profilemanager.h"
#include "profiles/profilename.h"

namespace corvane {

namespace {

// The end of a row's text (the blanks and the date) and the profile's name, for the drawing.
constexpr int DateRole = Qt::UserRole + 1;
constexpr int NameRole = Qt::UserRole + 2;

// A row too long for the list gives way in its name: the name ends in an ellipsis while the date
// behind it stays in view, the list never scrolls sideways, and the whole name is the row's tool tip.
class ProfileRowDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        // As wide as the list lets it be, never wider.
        return QSize(0, QStyledItemDelegate::sizeHint(option, index).height());
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        opt.text = shownText(opt, index);
        const QWidget *widget = option.widget;
        QStyle *style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    }

    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override
    {
        if (event->type() != QEvent::ToolTip)
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        if (shownText(opt, index) == opt.text)
            QToolTip::hideText();
        else
            QToolTip::showText(event->globalPos(), ostra::plainToolTip(index.data(NameRole).toString()), view);
        return true;
    }

private:
    // The row's text as it fits the row: the part before the date cut with an ellipsis when needed.
    static QString shownText(const QStyleOptionViewItem &opt, const QModelIndex &index)
    {
        const QWidget *widget = opt.widget;
        QStyle *style = widget ? widget->style() : QApplication::style();
        // The style keeps a margin on both sides of the text within its rectangle.
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const int width = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget).width() - 2 * margin;
        const QFontMetrics metrics(opt.font);
        if (metrics.horizontalAdvance(opt.text) <= width)
            return opt.text;
        const QString date = index.data(DateRole).toString();
        const QString name = opt.text.left(opt.text.size() - date.size());
        return metrics.elidedText(name, Qt::ElideRight, std::max(0, width - metrics.horizontalAdvance(date))) + date;
    }
};

} // namespace

ProfileManagerDialog::ProfileManagerDialog(ProfileManager *manager, QWidget *parent)
    : QDialog(parent), m_manager(manager)
{
    setWindowTitle(tr("Manage Profiles"));
    setMinimumSize(380, 300);
    setupUi();
    refreshProfileList();
    // Also when the store takes a change back that its files could not take.
    connect(m_manager, &ProfileManager::profileListChanged, this, &ProfileManagerDialog::refreshProfileList);
    connect(m_manager, &ProfileManager::activeProfileChanged, this, &ProfileManagerDialog::refreshProfileList);
    ostra::applyDialogChrome(this);
    // Never so narrow that the button row cuts its labels.
    setMinimumWidth(qMax(minimumWidth(), minimumSizeHint().width()));
}

ProfileManagerDialog::~ProfileManagerDialog() = default;

void ProfileManagerDialog::setupUi()
{
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    m_list = new QListWidget(this);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    // Rows breathe like the kit's list rows, and the selection keeps clear of the rounded frame.
    m_list->setStyleSheet(QStringLiteral("QListWidget { padding: 6px; } "
                                         "QListWidget::item { padding: 9px 10px; border-radius: 8px; } "
                                         "QListWidget::item:selected { background: #E3F2FC; color: #0F1720; }"));
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setItemDelegate(new ProfileRowDelegate(m_list));
    connect(m_list, &QListWidget::itemSelectionChanged, this, &ProfileManagerDialog::onProfileSelected);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &ProfileManagerDialog::onProfileDoubleClicked);
    layout->addWidget(m_list);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    m_newButton = new QPushButton(tr("+ New"), this);
    ostra::setStyleState(m_newButton, "primary", true);
    ostra::setStyleState(m_newButton, "danger", false);
    m_renameButton = new QPushButton(tr("Rename"), this);
    m_duplicateButton = new QPushButton(tr("Duplicate"), this);
    m_deleteButton = new QPushButton(tr("Delete"), this);
    ostra::setStyleState(m_deleteButton, "primary", false);
    ostra::setStyleState(m_deleteButton, "danger", true);
    m_closeButton = new QPushButton(tr("Close"), this);
    for (QPushButton *button : {m_newButton, m_renameButton, m_duplicateButton, m_deleteButton, m_closeButton}) {
        // Never narrower than the label: the dialog widens instead of cutting "Duplicate".
        button->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    }
    for (QPushButton *button : {m_newButton, m_renameButton, m_duplicateButton, m_deleteButton})
        buttons->addWidget(button);
    buttons->addStretch(1);
    buttons->addWidget(m_closeButton);
    layout->addLayout(buttons);

    connect(m_newButton, &QPushButton::clicked, this, &ProfileManagerDialog::onCreateProfile);
    connect(m_renameButton, &QPushButton::clicked, this, &ProfileManagerDialog::onRenameProfile);
    connect(m_duplicateButton, &QPushButton::clicked, this, &ProfileManagerDialog::onDuplicateProfile);
    connect(m_deleteButton, &QPushButton::clicked, this, &ProfileManagerDialog::onDeleteProfile);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::accept);
}

void ProfileManagerDialog::refreshProfileList()
{
    const QListWidgetItem *current = m_list->currentItem();
    const QString currentId = current ? current->data(Qt::UserRole).toString() : QString();
    const QString activeId = m_manager->activeProfileId();

    // Rebuilding must not run the selection slot on a half-filled list.
    const QSignalBlocker blocker(m_list);
    m_list->clear();
    QList<Profile> profiles = m_manager->profiles();
    std::sort(profiles.begin(), profiles.end(), [](const Profile &a, const Profile &b) {
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    // A row that was current stays current; with none, the active profile's row becomes current.
    const QString wanted = current ? currentId : activeId;
    for (const Profile &profile : profiles) {
        const QString bullet = profile.id == activeId ? QStringLiteral("\u2022 ") : QString();
        const QString date = QStringLiteral("    ") + profile.modifiedAt.toString(QStringLiteral("MM/dd"));
        auto *item = new QListWidgetItem(bullet + profile.name + date, m_list);
        item->setData(Qt::UserRole, profile.id);
        item->setData(DateRole, date);
        item->setData(NameRole, profile.name);
        if (!wanted.isEmpty() && profile.id == wanted)
            m_list->setCurrentItem(item);
    }
    onProfileSelected();
}

QString ProfileManagerDialog::currentProfileId() const
{
    const QListWidgetItem *item = m_list->currentItem();
    const QString id = item ? item->data(Qt::UserRole).toString() : QString();
    return !id.isEmpty() && m_manager->mutableProfile(id) ? id : QString();
}

void ProfileManagerDialog::onProfileSelected()
{
    const QListWidgetItem *item = m_list->currentItem();
    const bool selected = item && !item->data(Qt::UserRole).toString().isEmpty();
    m_renameButton->setEnabled(selected);
    m_duplicateButton->setEnabled(selected);
    m_deleteButton->setEnabled(selected && m_manager->profiles().size() > 1);
}

void ProfileManagerDialog::onProfileDoubleClicked(QListWidgetItem *item)
{
    const QString id = item ? item->data(Qt::UserRole).toString() : QString();
    if (id.isEmpty())
        return;
    m_manager->setActiveProfile(id);
    refreshProfileList();
}

QString ProfileManagerDialog::askName(const QString &title, const QString &label, const QString &preset)
{
    QString answer = preset;
    for (;;) {
        bool ok = false;
        answer = QInputDialog::getText(this, title, label, QLineEdit::Normal, answer, &ok);
        if (!ok)
            return {};
        const QString refusal = ProfileName::refusal(answer);
        if (refusal.isEmpty())
            return ProfileName::normalized(answer);
        // Asked again with what was typed, so a refused name can be mended rather than retyped.
        QMessageBox::warning(this, title, refusal);
    }
}

void ProfileManagerDialog::onCreateProfile()
{
    const QString name = askName(tr("New Profile"), tr("Profile name:"), tr("New Profile"));
    if (name.isEmpty())
        return;
    // Made active once its file is written. A profile the disk refused is taken back and its
    // failure told alone: a switch to it would save the profile active now for nothing, and
    // report that one as well.
    const auto id = std::make_shared<QString>();
    const auto made = [self = QPointer<ProfileManagerDialog>(this), manager = QPointer<ProfileManager>(m_manager), id,
                       before = m_manager->activeProfileId()](const QString &failure) {
        // Not over a profile the user made active meanwhile.
        if (id->isEmpty() || !failure.isEmpty() || !manager || manager->activeProfileId() != before)
            return;
        manager->setActiveProfile(*id);
        if (!self)
            return;
        // The new profile is the one the buttons act on next, not the row picked before it.
        self->m_list->setCurrentItem(nullptr);
        self->refreshProfileList();
    };
    FileWriter::shared().batch([&] { *id = m_manager->createProfile(name); }, made);
}

void ProfileManagerDialog::onRenameProfile()
{
    const QString id = currentProfileId();
    if (id.isEmpty())
        return;
    const QString name = askName(tr("Rename Profile"), tr("New name:"), m_manager->mutableProfile(id)->name);
    if (!name.isEmpty())
        m_manager->renameProfile(id, name);
}

void ProfileManagerDialog::onDuplicateProfile()
{
    const QString id = currentProfileId();
    if (id.isEmpty())
        return;
    const QString name =
        askName(tr("Duplicate Profile"), tr("New profile name:"), m_manager->mutableProfile(id)->name + tr(" (Copy)"));
    if (!name.isEmpty())
        m_manager->duplicateProfile(id, name);
}

void ProfileManagerDialog::onDeleteProfile()
{
    const QString id = currentProfileId();
    if (id.isEmpty())
        return;
    if (m_manager->profiles().size() <= 1) {
        QMessageBox::warning(this, tr("Cannot Delete"), tr("Cannot delete the last profile."));
        return;
    }
    const QString name = m_manager->mutableProfile(id)->name;
    if (QMessageBox::question(this, tr("Delete Profile"),
                              tr("Are you sure you want to delete the profile \"%1\"?").arg(name),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        == QMessageBox::Yes)
        m_manager->deleteProfile(id);
}

} // namespace corvane
