#pragma once

// What the receiver page tests share: the stand-in for the person answering the page's boxes and
// ways to find the page's controls by what the user sees.

#include "bridge/receiverrig.h"
#include "ostraui/theme.h"
#include "ostraui/toggle.h"
#include "platform/serial/serialportlister.h"
#include "platform/storage/settingsfile.h"
#include "receiver/receiverprompts.h"
#include "support/testenvironment.h"
#include "support/widgets/themedrender.h"
#include "support/widgets/widgetlookup.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <functional>
#include <memory>

using corvane::ReceiverConfigManager;
using corvane::ReceiverPrompts;
using corvane::ReceiverSettingsPanel;
using corvane::SerialPortEntry;
using corvane::SerialPortLister;
using ostratest::ReceiverRig;

namespace paneltest {

inline const QString ConnectFirst = QStringLiteral("Connect the receiver (USB or ELRS) first");
inline const QString OlderHint = QStringLiteral("Older QOR receiver: it has the OSD (on its CH12 header, firmware 1.9.0 or "
                                         "later) and the HUD speed. The other features need a QOR receiver V4; they "
                                         "unlock once the car sends its V4 telemetry.");
inline const QString V4Hint = QStringLiteral("These are QOR receiver V4 features. They unlock once the car sends its attitude "
                                      "telemetry (start transmission) or the receiver is connected.");

// Stands in for the person answering the page's boxes: queued answers in order, then No/Cancel.
class Prompts
{
public:
    using Reply = std::function<ReceiverPrompts::Answer(const ReceiverPrompts::Request &)>;

    Prompts()
    {
        ReceiverPrompts::setAnswerer([this](QWidget *, const ReceiverPrompts::Request &request) {
            asked.append(request);
            return replies.isEmpty() ? ReceiverPrompts::Answer() : replies.takeFirst()(request);
        });
    }
    ~Prompts() { ReceiverPrompts::setAnswerer({}); }

    void answer(bool accepted, const QString &text = QString())
    {
        replies.append([=](const ReceiverPrompts::Request &) { return ReceiverPrompts::Answer{accepted, text}; });
    }
    // Runs `during` while the box is open, as its event loop would, then answers.
    void answerAfter(const std::function<void()> &during, bool accepted)
    {
        replies.append([=](const ReceiverPrompts::Request &) {
            during();
            return ReceiverPrompts::Answer{accepted, {}};
        });
    }

    QStringList titles() const
    {
        QStringList result;
        for (const ReceiverPrompts::Request &r : asked)
            result.append(r.title);
        return result;
    }

    QList<ReceiverPrompts::Request> asked;
    QList<Reply> replies;
};

inline QPushButton *button(QWidget *page, const QString &text) { return ostratest::withText<QPushButton>(page, text); }

inline QLabel *label(QWidget *page, const QString &text) { return ostratest::withText<QLabel>(page, text); }

// The switch of the setting row titled `title`.
inline ostra::Toggle *toggle(QWidget *page, const QString &title)
{
    for (QLabel *l : page->findChildren<QLabel *>()) {
        if (l->text() != title)
            continue;
        if (auto *t = l->parentWidget()->findChild<ostra::Toggle *>(QString(), Qt::FindDirectChildrenOnly))
            return t;
    }
    return nullptr;
}

// A combo known by its first item.
inline QComboBox *comboStartingWith(QWidget *page, const QString &first)
{
    for (QComboBox *c : page->findChildren<QComboBox *>()) {
        if (c->count() > 0 && c->itemText(0) == first)
            return c;
    }
    return nullptr;
}

inline QWidget *control(QWidget *page, const QString &name)
{
    static const QHash<QString, QString> combos = {
        {"Top speed", "10 km/h"}, {"Acceleration", "5 km/h/s"}, {"Braking", "10 km/h/s"},
        {"Update rate", "Module default"}, {"G-force rate", "5 Hz"}};
    if (combos.contains(name))
        return comboStartingWith(page, combos.value(name));
    if (QPushButton *b = button(page, name))
        return b;
    return toggle(page, name);
}

inline QPlainTextEdit *console(QWidget *page) { return page->findChild<QPlainTextEdit *>(); }
inline QLineEdit *consoleInput(QWidget *page) { return page->findChild<QLineEdit *>(); }

inline QStringList consoleLines(QWidget *page)
{
    return console(page)->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

inline void typeCommand(QWidget *page, const QString &text)
{
    QLineEdit *input = consoleInput(page);
    input->setText(text);
    QTest::keyClick(input, Qt::Key_Return);
}

inline QJsonObject storedReceiverSettings(ReceiverRig &rig)
{
    ostratest::writesDone();
    corvane::ProfileManager *store = rig.controller->profileManager();
    QFile file(store->profileFilePath(store->activeProfileId()));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object().value("receiverSettings").toObject();
}

// The simulated receiver as the only serial port on the list, a USB device as the real one is.
inline void listReceiverPort(ReceiverRig &rig)
{
    SerialPortEntry entry;
    entry.portName = rig.rx.portName();
    entry.description = QStringLiteral("QOR Receiver");
    entry.vendorId = 0x2E8A;
    SerialPortLister::setFixedPorts({entry});
}

inline QString picture(const QString &name) { return ostratest::themedPicture("receiver", name); }

} // namespace paneltest

Q_DECLARE_METATYPE(QList<corvane::SerialPortEntry>)
