#pragma once

#include <QObject>
#include <QString>

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

} // namespace ostratest
