#include "dialogs/currentpagetabwidget.h"

#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionTabWidgetFrame>

namespace corvane {

CurrentPageTabWidget::CurrentPageTabWidget(QWidget *parent)
    : QTabWidget(parent)
{
    connect(this, &QTabWidget::currentChanged, this, &QWidget::updateGeometry);
}

QWidget *CurrentPageTabWidget::pageParent() const
{
    return findChild<QStackedWidget *>(QString(), Qt::FindDirectChildrenOnly);
}

QSize CurrentPageTabWidget::sizeHint() const
{
    return forCurrentPage(QTabWidget::sizeHint(), &QWidget::sizeHint);
}

QSize CurrentPageTabWidget::minimumSizeHint() const
{
    return forCurrentPage(QTabWidget::minimumSizeHint(), &QWidget::minimumSizeHint);
}

int CurrentPageTabWidget::heightForWidth(int width) const
{
    const QWidget *shown = currentWidget();
    if (!shown)
        return QTabWidget::heightForWidth(width);
    // Qt's sum for tabs along the top (this program's are), with the shown page in place of the
    // stack: a hidden page laid out for every width asked costs as much as the shown one.
    QStyleOptionTabWidgetFrame option;
    initStyleOption(&option);
    option.state = QStyle::State_None;
    const QSize frame = style()->sizeFromContents(QStyle::CT_TabWidget, &option, QSize(0, 0), this);
    int bar = tabBarAutoHide() && count() < 2 ? 0 : tabBar()->sizeHint().height();
    for (const Qt::Corner corner : {Qt::TopLeftCorner, Qt::TopRightCorner}) {
        if (const QWidget *widget = cornerWidget(corner))
            bar = qMax(bar, widget->sizeHint().height());
    }
    const int pageWidth = width - frame.width();
    const int page = shown->hasHeightForWidth() ? shown->heightForWidth(pageWidth) : shown->sizeHint().height();
    return frame.height() + bar + page;
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
