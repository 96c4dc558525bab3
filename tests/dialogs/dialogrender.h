#pragma once

#include <QImage>
#include <QWidget>

#include "ostraui/theme.h"
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

// The widget with its children, as it shows.
inline QImage renderWidget(QWidget &widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    widget.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}
