#pragma once

#include <QBackingStore>
#include <QImage>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include "ostraui/theme.h"
#include "ostraui/tickpace.h"
#include "support/darktwin.h"
#include "support/testenvironment.h"

// Where a render of a dialog or live display goes, by theme.
inline QString dialogPicture(const QString &name)
{
    return ostratest::artefactDir("dialogs") + QStringLiteral("/%1-%2.png").arg(name, ostra::isDarkTheme() ? "dark" : "light");
}

// The light run paints the given test functions once more in the dark theme.
inline bool renderDarkTwin(const QStringList &functions)
{
    return ostra::isDarkTheme() || ostratest::runDarkTwin("dialogs", functions);
}

// Shows the widget at its size, lets it lay out and paint, and saves it under the given name.
inline bool saveWidgetPicture(QWidget *widget, const QString &name)
{
    widget->show();
    if (!QTest::qWaitForWindowExposed(widget))
        return false;
    QTest::qWait(50);
    return widget->grab().toImage().save(dialogPicture(name));
}

// The widget with its children, as it shows.
inline QImage renderWidget(QWidget &widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    widget.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}

// What a shown window has on screen now (its backing store, painted tick by tick), and what
// painting it whole gives, to compare.
inline QImage shownOnScreen(QWidget &window)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    return static_cast<QImage *>(window.backingStore()->paintDevice())->convertToFormat(QImage::Format_RGB32);
}
inline QImage paintedWhole(QWidget &window)
{
    return window.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Shows a live display full screen as its launcher does while the channel ticks come, which has
// what its first paint needs made ahead; true once it is exposed.
inline bool showFullScreenWhileTicking(QWidget &window, ostra::PassBuilder *firstPaint)
{
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, ostra::TickPace::instance(), &ostra::TickPace::ticked);
    ticks.start(7);
    ostra::TickPace::instance()->ticked();
    ostra::showFullScreenAfterTick(&window, firstPaint);
    return QTest::qWaitForWindowExposed(&window);
}
