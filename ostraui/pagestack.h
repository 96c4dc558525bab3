#pragma once

#include <QPointer>
#include <QStackedWidget>

class QVariantAnimation;

namespace ostra {

// The pages of the main window; a switch fades the new page in while it rises into place.
class PageStack : public QStackedWidget
{
    Q_OBJECT
public:
    explicit PageStack(QWidget *parent = nullptr);

    void setCurrentIndexAnimated(int index);
    // Ends a running transition at once: the page at its place, fully opaque.
    void finishTransition();

private:
    void onAnimationValue(const QVariant &value);

    QVariantAnimation *m_animation;
    QPointer<QWidget> m_incoming;
    QPoint m_incomingPos;
};

} // namespace ostra
