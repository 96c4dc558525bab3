#pragma once

#include <QString>
#include <QWidget>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace corvane {

class CorvaneController;

// Named snapshots of one dialog's settings, kept in the profile store's user presets so that a
// snapshot saved in one profile loads in any other. One panel works on one kind ("controls",
// "ffb"); the controller makes and applies the snapshots, the panel only lists, saves, loads
// and deletes them.
class PresetsPanel : public QWidget
{
    Q_OBJECT
public:
    PresetsPanel(CorvaneController *controller, const QString &kind, const QString &title,
                 const QString &description, QWidget *parent = nullptr);

    QString kind() const { return m_kind; }

signals:
    // The controller accepted a preset of this kind: the embedding dialog re-reads its values.
    void presetLoaded();

private:
    void refresh();
    void updateSaveButton();
    void saveCurrent();
    void loadSelected();
    void deleteSelected();
    QString currentId() const;

    CorvaneController *m_controller;
    QString m_kind;
    QComboBox *m_list = nullptr;
    QPushButton *m_loadButton = nullptr;
    QPushButton *m_deleteButton = nullptr;
    QLineEdit *m_nameEdit = nullptr;
    QPushButton *m_saveButton = nullptr;
};

} // namespace corvane
