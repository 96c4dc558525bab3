#pragma once

#include <QWidget>

// A transparent widget that counts its paint events, to tell which repaints reach a place.
struct PaintCounter : QWidget
{
    using QWidget::QWidget;
    void paintEvent(QPaintEvent *) override { ++paints; }
    int paints = 0;
};
