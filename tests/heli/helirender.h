#pragma once

#include <QDialog>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QWidget>

#include "ostraui/theme.h"
#include "support/darktwin.h"
#include "support/testenvironment.h"

// Where a render of the helicopter pages goes, by theme.
inline QString heliPicture(const QString &name)
{
    return ostratest::artefactDir("heli") + QStringLiteral("/%1-%2.png").arg(name, ostra::isDarkTheme() ? "dark" : "light");
}

// The light run paints the given test functions once more in the dark theme.
inline bool renderDarkTwin(const QStringList &functions)
{
    return ostra::isDarkTheme() || ostratest::runDarkTwin("heli", functions);
}

// A dialog drawn onto its parent's picture, as it shows over the dimmed window.
inline QImage composeDialog(QWidget *parent, QWidget *dialog)
{
    QImage image = parent->grab().toImage();
    const QImage card = dialog->grab().toImage();
    QPainter(&image).drawImage(QPoint((image.width() - card.width()) / 2, (image.height() - card.height()) / 2), card);
    return image;
}

// Shows a dialog over its shown parent and saves the two as one picture under the given name.
inline bool saveDialogPicture(QWidget *parent, QDialog *dialog, const QString &name)
{
    dialog->show();
    if (!QTest::qWaitForWindowExposed(dialog))
        return false;
    QTest::qWait(100);
    return composeDialog(parent, dialog).save(heliPicture(name));
}
