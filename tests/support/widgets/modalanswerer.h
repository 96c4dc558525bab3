#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

class QTimer;
class QWidget;

namespace ostratest {

// What one answered window showed.
struct ModalRecord
{
    QString kind;          // "message", "input", "menu" or "dialog"
    QString title;         // window title (empty for a menu)
    QString over;          // the title of the window it was opened over (empty: none)
    QString text;          // message text or input label
    QString preset;        // an input box's preset text
    QStringList entries;   // a menu's entries, a message box's buttons
    QStringList checked;   // a menu's checked entries
    QStringList painted;   // the texts the window painted, as a user saw them
};

// Answers the windows a test's call opens (message boxes, input dialogs, popup menus and other
// modal dialogs) as a user would, in the order the answers were queued, and records what each showed:
//
//     ostratest::ModalAnswerer answer;
//     answer.type("Buggy");            // the next input box: type and press OK
//     answer.press("Yes");             // then: press the button or menu entry with this text
//     dialog.onCreateProfile();
//     QCOMPARE(answer.records().at(0).title, "New Profile");
class ModalAnswerer : public QObject
{
    Q_OBJECT
public:
    explicit ModalAnswerer(QObject *parent = nullptr);
    ~ModalAnswerer() override;

    // The next window: press the button (matched by text without '&', or by tool tip) or the menu entry.
    void press(const QString &button);
    // The next input box: replace its text and press OK.
    void type(const QString &text);
    // The next window: close it without an answer (reject, or close the menu).
    void cancel();
    // The next window: press Return on it, as the keyboard alone does.
    void returnKey();

    QList<ModalRecord> records() const { return m_records; }
    int pending() const { return int(m_answers.size()); }

private:
    enum class Action { Press, Type, Cancel, Return };
    struct Answer
    {
        Action action;
        QString value;
    };

    void enqueue(Action action, const QString &value);
    void poll();
    void answer(QWidget *window, const Answer &answer);

    QList<Answer> m_answers;
    QList<ModalRecord> m_records;
    QPointer<QWidget> m_lastAnswered;
    QTimer *m_timer;
};

} // namespace ostratest
