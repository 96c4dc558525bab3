#include "dialogs/presetspanel.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <memory>

#include "bridge/corvanecontroller.h"
#include "ostraui/theme.h"
#include "ostraui/toast.h"
#include "platform/storage/filewriter.h"
#include "profiles/profilemanager.h"

namespace corvane {

PresetsPanel::PresetsPanel(CorvaneController *controller, const QString &kind, const QString &title,
                           const QString &description, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
    , m_kind(kind)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(ostra::makeRoleLabel(title, "h2", this));
    QLabel *about = ostra::makeRoleLabel(description, "muted", this);
    about->setWordWrap(true);
    layout->addWidget(about);

    auto *listRow = new QHBoxLayout;
    listRow->setSpacing(8);
    m_list = new QComboBox(this);
    m_list->setMinimumWidth(180);
    listRow->addWidget(m_list, 1);
    m_loadButton = ostra::makeButton(tr("Load"), false, this);
    listRow->addWidget(m_loadButton);
    m_deleteButton = ostra::makeButton(tr("Delete"), false, this);
    m_deleteButton->setProperty("ghost", true);
    listRow->addWidget(m_deleteButton);
    layout->addLayout(listRow);

    auto *saveRow = new QHBoxLayout;
    saveRow->setSpacing(8);
    m_nameEdit = new QLineEdit(this);
    m_nameEdit->setPlaceholderText(tr("Name for the current settings"));
    m_nameEdit->setMaxLength(40);
    saveRow->addWidget(m_nameEdit, 1);
    m_saveButton = ostra::makeButton(tr("Save"), false, this);
    saveRow->addWidget(m_saveButton);
    layout->addLayout(saveRow);

    connect(m_loadButton, &QPushButton::clicked, this, &PresetsPanel::loadSelected);
    connect(m_deleteButton, &QPushButton::clicked, this, &PresetsPanel::deleteSelected);
    connect(m_saveButton, &QPushButton::clicked, this, &PresetsPanel::saveCurrent);
    connect(m_nameEdit, &QLineEdit::returnPressed, this, &PresetsPanel::saveCurrent);
    connect(m_nameEdit, &QLineEdit::textChanged, this, &PresetsPanel::updateSaveButton);
    if (m_controller) {
        connect(m_controller->profileManager(), &ProfileManager::userPresetsChanged, this,
                [this](const QString &changedKind) {
                    if (changedKind == m_kind)
                        refresh();
                });
    }

    m_saveButton->setEnabled(false);
    refresh();
}

QString PresetsPanel::currentId() const
{
    return m_list->currentData(Qt::UserRole).toString();
}

void PresetsPanel::refresh()
{
    const QString remembered = currentId();
    m_list->clear();
    if (m_controller) {
        for (const UserPreset &preset : m_controller->profileManager()->userPresets(m_kind))
            m_list->addItem(preset.name, preset.id);
    }
    const bool any = m_list->count() > 0;
    if (!any)
        m_list->addItem(tr("Nothing saved yet"));
    m_list->setEnabled(any);
    m_loadButton->setEnabled(any);
    m_deleteButton->setEnabled(any);
    if (!remembered.isEmpty()) {
        const int index = m_list->findData(remembered, Qt::UserRole, Qt::MatchExactly);
        if (index >= 0)
            m_list->setCurrentIndex(index);
    }
    updateSaveButton();
}

void PresetsPanel::updateSaveButton()
{
    const QString name = m_nameEdit->text().trimmed();
    m_saveButton->setEnabled(!name.isEmpty());
    // Saving under an existing name of this kind replaces that preset, whatever its letter case.
    bool exists = false;
    for (int i = 0; i < m_list->count() && !name.isEmpty(); ++i) {
        if (!m_list->itemData(i, Qt::UserRole).toString().isEmpty()
            && m_list->itemText(i).compare(name, Qt::CaseInsensitive) == 0)
            exists = true;
    }
    m_saveButton->setText(exists ? tr("Overwrite") : tr("Save"));
}

void PresetsPanel::saveCurrent()
{
    const QString name = m_nameEdit->text().trimmed();
    if (name.isEmpty() || !m_controller)
        return;
    const QJsonObject snapshot = m_controller->saveControlsPreset(m_kind);
    const auto id = std::make_shared<QString>();
    // The toast comes once the preset is on disk; a refusal or a failure is shown by the main
    // window with the store's message.
    const auto saved = [self = QPointer<PresetsPanel>(this), name, id](const QString &failure) {
        if (self && !id->isEmpty() && failure.isEmpty())
            ostra::showToast(self, tr("Saved \u201C%1\u201D").arg(name));
    };
    FileWriter::shared().batch([&] { *id = m_controller->profileManager()->saveUserPreset(m_kind, name, snapshot); },
                               saved);
    if (id->isEmpty())
        return;
    m_nameEdit->clear();
    const int index = m_list->findData(*id, Qt::UserRole, Qt::MatchExactly);
    if (index >= 0)
        m_list->setCurrentIndex(index);
}

void PresetsPanel::loadSelected()
{
    if (!m_controller)
        return;
    const UserPreset *found = m_controller->profileManager()->findUserPreset(currentId());
    if (!found)
        return;
    // Applying may change the store (a mapping is saved into the profile): keep a copy.
    const UserPreset preset = *found;
    QString message;
    if (!m_controller->loadControlsPreset(preset.kind, preset.data, &message))
        return;
    QPointer<PresetsPanel> alive(this);
    emit presetLoaded();
    if (!alive)
        return;
    if (message.isEmpty())
        ostra::showToast(this, tr("Loaded \u201C%1\u201D").arg(preset.name));
    else
        QMessageBox::information(this, tr("Preset loaded"), message, QMessageBox::Ok);
}

void PresetsPanel::deleteSelected()
{
    const QString id = currentId();
    if (id.isEmpty() || !m_controller)
        return;
    const QString name = m_list->currentText();
    QPointer<PresetsPanel> alive(this);
    const auto answer = QMessageBox::question(this, tr("Delete preset"), tr("Delete \u201C%1\u201D?").arg(name),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (!alive || answer != QMessageBox::Yes)
        return;
    m_controller->profileManager()->deleteUserPreset(id);
}

} // namespace corvane
