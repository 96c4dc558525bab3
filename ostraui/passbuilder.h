#pragma once

#include <QObject>

class QWidget;

#include <functional>
#include <vector>

namespace ostra {

// Builds the parts of a window that are not on screen yet one per tick's slack (one per pass of
// the event loop while nothing transmits), so the 7 ms channel tick runs between them instead of
// waiting for the whole window. A part wanted now (a page turned to, a value to show) is built
// at once with ensure().
class PassBuilder : public QObject
{
    Q_OBJECT

public:
    explicit PassBuilder(QObject *parent);

    // Parts are built in the order added; the number returned names the part.
    int add(std::function<void()> build);
    // From the next slack on, one waiting part in each.
    void start();
    // start() once `window` has painted on screen for the first time: a part started with the
    // window would share the pass of its first paint, the longest of an opening. A picture taken
    // of the window while it is hidden does not count: parts built before it shows would be laid
    // out again, all at once, as it shows.
    void startAfterFirstPaint(QWidget *window);
    // Builds `part` now unless it is built already. False when it is not a part of this builder.
    bool ensure(int part);
    // Everything still waiting, now.
    void finish();
    bool isBuilt(int part) const;
    bool isFinished() const { return m_waiting == 0; }

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildNext();

    std::vector<std::function<void()>> m_parts;
    std::vector<bool> m_built;
    int m_waiting = 0;
    bool m_passQueued = false;
    bool m_awaitingPaint = false;
};

} // namespace ostra
