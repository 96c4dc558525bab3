#pragma once

#include <QDialog>

class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace corvane {

class ProfileManager;

// "Manage Profiles": lists the profiles and creates, renames, duplicates, deletes and activates
// them straight in the store; nothing is held back for a later apply.
class ProfileManagerDialog : public QDialog
{
    Q_OBJECT
public:
    ProfileManagerDialog(ProfileManager *manager, QWidget *parent = nullptr);
    ~ProfileManagerDialog() override;

private slots:
    void onProfileSelected();
    void onProfileDoubleClicked(QListWidgetItem *item);
    void onCreateProfile();
    void onRenameProfile();
    void onDuplicateProfile();
    void onDeleteProfile();
    void refreshProfileList();

private:
    void setupUi();
    // The name typed into a text input box, without surrounding blanks; empty when cancelled. A
    // name that breaks the profile-name rule is explained in a warning box and asked for again.
    QString askName(const QString &title, const QString &label, const QString &preset);
    // The current row's profile id when the store still holds it, else empty.
    QString currentProfileId() const;

    ProfileManager *m_manager;
    QListWidget *m_list = nullptr;
    QPushButton *m_newButton = nullptr;
    QPushButton *m_renameButton = nullptr;
    QPushButton *m_duplicateButton = nullptr;
    QPushButton *m_deleteButton = nullptr;
    QPushButton *m_closeButton = nullptr;
};

} // namespace corvane
