#include "dialogs/currentpagetabwidget.h"

namespace corvane {

CurrentPageTabWidget::CurrentPageTabWidget(QWidget *parent)
    : QTabWidget(parent)
{
    connect(this, &QTabWidget::currentChanged, this, &QWidget::updateGeometry);
}

QSize CurrentPageTabWidget::sizeHint() const
{
    return forCurrentPage(QTabWidget::sizeHint(), &QWidget::sizeHint);
}

QSize CurrentPageTabWidget::minimumSizeHint() const
{
    return forCurrentPage(QTabWidget::minimumSizeHint(), &QWidget::minimumSizeHint);
}

QSize CurrentPageTabWidget::forCurrentPage(QSize whole, QSize (QWidget::*pageHint)() const) const
{
    const QWidget *shown = currentWidget();
    if (!shown)
        return whole;
    int tallest = 0;
    for (int i = 0; i < count(); ++i)
        tallest = qMax(tallest, (widget(i)->*pageHint)().height());
    const int shownHeight = (shown->*pageHint)().height();
    return QSize(whole.width(), whole.height() - qMax(0, tallest - shownHeight));
}

} // namespace corvane
