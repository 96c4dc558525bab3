#include "support/widgets/modalanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "support/widgets/textrecorder.h"

namespace ostratest {

namespace {

QString plain(QString text)
{
    return text.remove(QLatin1Char('&'));
}

bool matches(const QAbstractButton *button, const QString &name)
{
    return button->isVisible() && button->isEnabled()
           && (plain(button->text()) == name || button->toolTip() == name);
}

} // namespace

ModalAnswerer::ModalAnswerer(QObject *parent)
    : QObject(parent), m_timer(new QTimer(this))
{
    m_timer->setInterval(5);
    connect(m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
}

ModalAnswerer::~ModalAnswerer() = default;

void ModalAnswerer::press(const QString &button)
{
    enqueue(Action::Press, button);
}

void ModalAnswerer::type(const QString &text)
{
    enqueue(Action::Type, text);
}

void ModalAnswerer::cancel()
{
    enqueue(Action::Cancel, QString());
}

void ModalAnswerer::returnKey()
{
    enqueue(Action::Return, QString());
}

void ModalAnswerer::enqueue(Action action, const QString &value)
{
    m_answers.append({action, value});
    m_timer->start();
}

void ModalAnswerer::poll()
{
    // A menu that was answered may still count as the active popup while its entry acts.
    for (QWidget *window : {QApplication::activePopupWidget(), QApplication::activeModalWidget()}) {
        if (!window || !window->isVisible() || window == m_lastAnswered)
            continue;
        m_lastAnswered = window;
        const Answer next = m_answers.takeFirst();
        if (m_answers.isEmpty())
            m_timer->stop();
        // Answered from a call of its own: what the answer opens runs its own event loop, in
        // which this timer must be able to fire again.
        QTimer::singleShot(0, this, [this, target = QPointer<QWidget>(window), next] {
            if (target)
                answer(target, next);
        });
        return;
    }
}

void ModalAnswerer::answer(QWidget *window, const Answer &answer)
{
    ModalRecord record;
    record.title = window->windowTitle();
    if (const QWidget *parent = window->parentWidget())
        record.over = parent->window()->windowTitle();
    record.painted = TextRecorder::paintedBy(window);
    if (auto *menu = qobject_cast<QMenu *>(window)) {
        record.kind = QStringLiteral("menu");
        record.title.clear();
        QAction *chosen = nullptr;
        for (QAction *action : menu->actions()) {
            if (action->isSeparator())
                continue;
            record.entries.append(plain(action->text()));
            if (action->isChecked())
                record.checked.append(plain(action->text()));
            if (answer.action == Action::Press && plain(action->text()) == answer.value)
                chosen = action;
        }
        m_records.append(record);
        if (chosen) {
            // Chosen the way a user does, so the menu closes before the entry acts.
            menu->setActiveAction(chosen);
            QTest::keyClick(menu, Qt::Key_Return);
        } else {
            menu->close();
        }
        return;
    }

    auto *dialog = qobject_cast<QDialog *>(window);
    if (auto *input = qobject_cast<QInputDialog *>(window)) {
        record.kind = QStringLiteral("input");
        record.text = input->labelText();
        record.preset = input->textValue();
    } else if (auto *box = qobject_cast<QMessageBox *>(window)) {
        record.kind = QStringLiteral("message");
        record.text = box->text();
        for (QAbstractButton *button : box->buttons())
            record.entries.append(plain(button->text()));
    } else {
        record.kind = QStringLiteral("dialog");
    }
    m_records.append(record);

    switch (answer.action) {
    case Action::Type:
        if (auto *input = qobject_cast<QInputDialog *>(window)) {
            input->setTextValue(answer.value);
            input->accept();
            return;
        }
        break;
    case Action::Press:
        for (QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
            if (matches(button, answer.value)) {
                button->click();
                return;
            }
        }
        break;
    case Action::Return:
        QTest::keyClick(window, Qt::Key_Return);
        if (!window->isVisible())
            return;
        break;
    case Action::Cancel:
        break;
    }
    // No such button or no input box: the window is closed unanswered, so the test cannot hang.
    if (dialog)
        dialog->reject();
    else
        window->close();
}

} // namespace ostratest
