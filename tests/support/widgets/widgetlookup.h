#pragma once

#include <QFontInfo>
#include <QLabel>
#include <QObject>
#include <QString>
#include <QStringList>

namespace ostratest {

// The first widget of type W under `parent` whose text is `text` (a button, a label, a check
// box: what the user reads on it); null when there is none.
template <typename W>
W *withText(const QObject *parent, const QString &text)
{
    for (W *widget : parent->findChildren<W *>()) {
        if (widget->text() == text)
            return widget;
    }
    return nullptr;
}

// The labels under `parent` showing the no-value dash "—" in a fixed-pitch face, whose dash
// fills a single cell and reads as a short one, by object name; empty when every such dash is
// the text face's long one.
inline QStringList shortDashes(const QObject *parent)
{
    QStringList found;
    for (QLabel *label : parent->findChildren<QLabel *>()) {
        label->ensurePolished();
        if (label->text() == QStringLiteral("\u2014") && QFontInfo(label->font()).fixedPitch())
            found.append(label->objectName().isEmpty() ? QStringLiteral("unnamed") : label->objectName());
    }
    return found;
}

} // namespace ostratest
