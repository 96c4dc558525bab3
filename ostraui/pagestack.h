#pragma once

#include <QPointer>
#include <QStackedWidget>

#include <vector>

class QVariantAnimation;

namespace ostra {

// The pages of the main window; a switch fades the new page in while it rises into place. While
// the channel stream runs, the new page shows a band at a time instead, top to bottom, each
// band painted in a slack between ticks: the whole page at once takes longer than an interval.
class PageStack : public QStackedWidget
{
    Q_OBJECT
public:
    explicit PageStack(QWidget *parent = nullptr);

    void setCurrentIndexAnimated(int index);
    // Ends a running transition at once: the page at its place, fully opaque, all of it shown.
    void finishTransition();
    bool eventFilter(QObject *watched, QEvent *event) override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void onAnimationValue(const QVariant &value);
    void revealInBands();
    void revealNextBand();
    void layCurtains();
    void dropCurtains();

    QVariantAnimation *m_animation;
    QPointer<QWidget> m_incoming;
    QPoint m_incomingPos;
    // Over the bands not shown yet, the picture that was there before the switch.
    std::vector<QPointer<QWidget>> m_curtains;
    int m_bands = 0;
    QRect m_awaitedBand;
};

} // namespace ostra
