#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace corvane {

// The modal boxes of the receiver pages: questions, information and text input. A box runs a
// nested event loop, so the caller must check afterwards that it still exists and read the state
// it acts on again. Tests install an answerer that stands in for the person at the screen.
class ReceiverPrompts
{
public:
    enum Kind { Question, Confirm, Information, TextInput };

    struct Request
    {
        Kind kind = Question;
        QString title;
        QString text;
        // Text input only: the answer the field starts with.
        QString prefill;
    };

    struct Answer
    {
        // Yes or OK.
        bool accepted = false;
        QString text;
    };

    using Answerer = std::function<Answer(QWidget *parent, const Request &request)>;

    // A question with Yes and No; true for Yes.
    static bool question(QWidget *parent, const QString &title, const QString &text);
    // An information box with OK and Cancel; true for OK.
    static bool confirm(QWidget *parent, const QString &title, const QString &text);
    // An information box in rich text with OK.
    static void inform(QWidget *parent, const QString &title, const QString &richText);
    // A one-line text input; true with the typed text in `answer` when the user pressed OK.
    static bool textInput(QWidget *parent, const QString &title, const QString &label,
                          const QString &prefill, QString *answer);

    // From now on every box goes to `answerer` instead of the screen; an empty one restores the
    // real boxes.
    static void setAnswerer(Answerer answerer);

private:
    static Answerer &answerer();
};

} // namespace corvane
