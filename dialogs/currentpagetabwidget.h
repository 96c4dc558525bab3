#pragma once

#include <QTabWidget>

namespace corvane {

// A tab widget that asks for the height of the page it shows, not of its tallest page: a short
// page then leaves no gap under itself, and the dialog's free height goes where its layout puts
// its stretch.
class CurrentPageTabWidget : public QTabWidget
{
    Q_OBJECT
public:
    explicit CurrentPageTabWidget(QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // Pages with wrapped text are laid out by height for width, which Qt takes of the tallest
    // and this of the shown page alone.
    int heightForWidth(int width) const override;
    // Where a page built whole before it is added is made: adding it then moves nothing, and a
    // move restyles all the page holds.
    QWidget *pageParent() const;

private:
    // The whole hint with the pages' share replaced by the current page's.
    QSize forCurrentPage(QSize whole, QSize (QWidget::*pageHint)() const) const;
};

} // namespace corvane
