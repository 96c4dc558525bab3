#pragma once

#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QTimer>

#include <functional>

#include "ostraui/theme.h"
#include "support/darktwin.h"
#include "support/testenvironment.h"

// What render tests share: where a picture goes by theme, the dark run, and a dialog drawn over
// its parent window.
namespace ostratest {

// Where the render `name` of the test folder `sub` goes, by the running theme.
inline QString themedPicture(const QString &sub, const QString &name)
{
    return artefactDir(sub) + QStringLiteral("/%1-%2.png").arg(name, ostra::isDarkTheme() ? "dark" : "light");
}

// From the light run, paints the given test functions once more in the dark theme; true when that
// run passed, and at once in the dark run itself.
inline bool renderDarkTwin(const QString &sub, const QStringList &functions)
{
    return ostra::isDarkTheme() || runDarkTwin(sub, functions);
}

// A dialog drawn onto its parent's picture, as it shows over the dimmed window.
inline QImage composeDialog(QWidget *parent, QWidget *dialog)
{
    QImage image = parent->grab().toImage();
    const QImage card = dialog->grab().toImage();
    QPainter(&image).drawImage(QPoint((image.width() - card.width()) / 2, (image.height() - card.height()) / 2), card);
    return image;
}

// Shows a dialog over its shown parent and saves the two as one picture at `path`.
inline bool saveDialogPicture(QWidget *parent, QDialog *dialog, const QString &path)
{
    dialog->show();
    if (!QTest::qWaitForWindowExposed(dialog))
        return false;
    QTest::qWait(100);
    return composeDialog(parent, dialog).save(path);
}

// Saves the modal window (a question, a message) that `open` shows, drawn over `parent`, at
// `path`, then closes it without an answer; false when none showed.
inline bool saveModalPicture(QWidget *parent, const std::function<void()> &open, const QString &path)
{
    QWidget *const before = QApplication::activeModalWidget();
    bool saved = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget *box = QApplication::activeModalWidget();
        if (!box || box == before || !box->isVisible())
            return;
        poll.stop();
        QTest::qWait(100);
        saved = composeDialog(parent, box).save(path);
        box->close();
    });
    poll.start();
    open();
    return saved;
}

} // namespace ostratest
