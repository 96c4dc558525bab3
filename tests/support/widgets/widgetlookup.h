#pragma once

#include <QFontInfo>
#include <QLabel>
#include <QObject>
#include <QSlider>
#include <QString>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionSlider>

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

// Where the slider draws its handle for its current value, in its own coordinates.
inline QRect sliderHandle(const QSlider *slider)
{
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = slider->orientation();
    // The stylesheet's slider reads the orientation from the state.
    if (slider->orientation() == Qt::Horizontal)
        option.state |= QStyle::State_Horizontal;
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = option.sliderValue = slider->value();
    return slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider);
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
