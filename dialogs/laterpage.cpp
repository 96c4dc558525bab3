#include "dialogs/laterpage.h"

#include <QList>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QWidget>

namespace corvane {

namespace {

// A widget's place among its siblings in the order Tab visits them: a tab widget's bar, made
// with it, comes before its pages, and a stack's pages go by their index (the shown one is
// raised, last among the children).
qsizetype siblingRank(const QWidget *widget)
{
    const QObject *parent = widget->parent();
    if (qobject_cast<const QTabBar *>(widget) && qobject_cast<const QTabWidget *>(parent))
        return -1;
    if (auto *stack = qobject_cast<const QStackedWidget *>(parent)) {
        if (const int index = stack->indexOf(const_cast<QWidget *>(widget)); index >= 0)
            return index;
    }
    return parent ? parent->children().indexOf(const_cast<QWidget *>(widget)) : 0;
}

// Whether `a` comes before `b` in their window, neither holding the other.
bool comesBefore(const QWidget *a, const QWidget *b)
{
    QList<const QWidget *> pathA;
    QList<const QWidget *> pathB;
    for (const QWidget *w = a; w; w = w->parentWidget())
        pathA.prepend(w);
    for (const QWidget *w = b; w; w = w->parentWidget())
        pathB.prepend(w);
    qsizetype i = 0;
    while (i < pathA.size() && i < pathB.size() && pathA[i] == pathB[i])
        ++i;
    if (i >= pathA.size() || i >= pathB.size())
        return false;
    return siblingRank(pathA[i]) < siblingRank(pathB[i]);
}

} // namespace

void settleLaterPage(QWidget *page)
{
    // New widgets join the end of their window's focus chain. The page's focusable ones go right
    // before the first focusable widget that stands after the page (only focusable ones can be
    // moved, and only they matter to Tab).
    QWidget *window = page->window();
    QList<QWidget *> inside;
    QWidget *follower = nullptr;
    for (QWidget *w = window->nextInFocusChain(); w != window; w = w->nextInFocusChain()) {
        if (w->focusPolicy() == Qt::NoFocus)
            continue;
        if (page->isAncestorOf(w))
            inside.append(w);
        else if (!follower && !w->isAncestorOf(page) && comesBefore(page, w))
            follower = w;
    }
    if (follower && !inside.isEmpty()) {
        QWidget *last = follower->previousInFocusChain();
        while (last != window && (last->focusPolicy() == Qt::NoFocus || page->isAncestorOf(last)))
            last = last->previousInFocusChain();
        if (last != window) {
            for (QWidget *w : std::as_const(inside)) {
                QWidget::setTabOrder(last, w);
                last = w;
            }
        }
    }
    // Styled now, in the part's own pass, not when the page is first turned to.
    page->ensurePolished();
    // What a layout adds to a shown page it shows only in a queued call.
    if (page->isVisible()) {
        for (QWidget *child : page->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
            if (!child->isWindow() && !(child->isHidden() && child->testAttribute(Qt::WA_WState_ExplicitShowHide)))
                child->show();
        }
    }
}

} // namespace corvane
