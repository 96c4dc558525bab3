#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

namespace ostratest {

// Answers every message box that opens while it lives, with the next of `replies` while any are
// left, else with `answer`, and keeps its title and text, so no test hangs on a modal question.
class MessageBoxAnswerer : public QObject
{
public:
    explicit MessageBoxAnswerer(QMessageBox::StandardButton reply = QMessageBox::Yes)
        : answer(reply)
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            asked << box->windowTitle() + QLatin1Char('|') + box->text();
            formats << box->textFormat();
            defaults << (box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton);
            QAbstractButton *button = box->button(replies.isEmpty() ? answer : replies.takeFirst());
            if (!button)
                button = box->buttons().value(0);
            button->click();
        });
        m_timer.start(10);
    }

    QMessageBox::StandardButton answer;
    QList<QMessageBox::StandardButton> replies;
    QStringList asked;
    QList<Qt::TextFormat> formats;
    QList<QMessageBox::StandardButton> defaults;

private:
    QTimer m_timer;
};

} // namespace ostratest
