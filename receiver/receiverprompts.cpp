#include "receiver/receiverprompts.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>

namespace corvane {

namespace {

// Heap boxes: when the parent page goes away during the nested loop it takes the box with it,
// and exec() returns instead of running on a deleted object.
int runBox(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
           QMessageBox::StandardButtons buttons, Qt::TextFormat format)
{
    QPointer<QMessageBox> box = new QMessageBox(icon, title, text, buttons, parent);
    box->setTextFormat(format);
    const int result = box->exec();
    delete box.data();
    return result;
}

} // namespace

ReceiverPrompts::Answerer &ReceiverPrompts::answerer()
{
    static Answerer current;
    return current;
}

void ReceiverPrompts::setAnswerer(Answerer answerer)
{
    ReceiverPrompts::answerer() = std::move(answerer);
}

bool ReceiverPrompts::question(QWidget *parent, const QString &title, const QString &text)
{
    if (answerer())
        return answerer()(parent, {Question, title, text, {}}).accepted;
    return runBox(parent, QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, Qt::AutoText)
        == QMessageBox::Yes;
}

bool ReceiverPrompts::confirm(QWidget *parent, const QString &title, const QString &text)
{
    if (answerer())
        return answerer()(parent, {Confirm, title, text, {}}).accepted;
    return runBox(parent, QMessageBox::Information, title, text, QMessageBox::Ok | QMessageBox::Cancel,
                  Qt::AutoText)
        == QMessageBox::Ok;
}

void ReceiverPrompts::inform(QWidget *parent, const QString &title, const QString &richText)
{
    if (answerer()) {
        answerer()(parent, {Information, title, richText, {}});
        return;
    }
    runBox(parent, QMessageBox::Information, title, richText, QMessageBox::Ok, Qt::RichText);
}

bool ReceiverPrompts::textInput(QWidget *parent, const QString &title, const QString &label,
                                const QString &prefill, QString *answer)
{
    if (answerer()) {
        const Answer a = answerer()(parent, {TextInput, title, label, prefill});
        if (a.accepted)
            *answer = a.text;
        return a.accepted;
    }
    bool ok = false;
    const QString text = QInputDialog::getText(parent, title, label, QLineEdit::Normal, prefill, &ok);
    if (ok)
        *answer = text;
    return ok;
}

} // namespace corvane
