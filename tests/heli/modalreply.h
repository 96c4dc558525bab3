#pragma once

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <functional>

// Answers the next modal window a call opens, as the user would, so no test hangs on it: records
// its title and text, then runs `answer` on it (by default it is closed without an answer).
class ModalReply
{
public:
    using Answer = std::function<void(QDialog *)>;

    explicit ModalReply(Answer answer = {}) : m_answer(std::move(answer))
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start();
    }

    bool seen() const { return m_seen; }
    QString title() const { return m_title; }
    QString text() const { return m_text; }

private:
    void poll()
    {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        m_timer.stop();
        m_seen = true;
        m_title = dialog->windowTitle();
        if (auto *box = qobject_cast<QMessageBox *>(dialog))
            m_text = box->text();
        if (m_answer)
            m_answer(dialog);
        if (dialog->isVisible())
            dialog->reject();
    }

    Answer m_answer;
    QTimer m_timer;
    bool m_seen = false;
    QString m_title;
    QString m_text;
};
