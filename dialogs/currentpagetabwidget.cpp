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
    const int whole = QTabWidget::heightForWidth(width);
    const QWidget *shown = currentWidget();
    if (whole < 0 || !shown)
        return whole;
    // The pages' width, as Qt reckons it for tabs along the top (this program's are).
    QStyleOptionTabWidgetFrame option;
    initStyleOption(&option);
    option.state = QStyle::State_None;
    const int pageWidth = width - style()->sizeFromContents(QStyle::CT_TabWidget, &option, QSize(0, 0), this).width();
    const auto pageHeight = [pageWidth](const QWidget *page) {
        return page->hasHeightForWidth() ? page->heightForWidth(pageWidth) : page->sizeHint().height();
    };
    int tallest = 0;
    for (int i = 0; i < count(); ++i)
        tallest = qMax(tallest, pageHeight(widget(i)));
    return whole - qMax(0, tallest - pageHeight(shown));
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
