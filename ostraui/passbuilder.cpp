#include "ostraui/passbuilder.h"

#include <QEvent>
#include <QWidget>

#include "ostraui/tickpace.h"

namespace ostra {

PassBuilder::PassBuilder(QObject *parent)
    : QObject(parent)
{
}

int PassBuilder::add(std::function<void()> build)
{
    m_parts.push_back(std::move(build));
    m_built.push_back(false);
    ++m_waiting;
    return int(m_parts.size()) - 1;
}

void PassBuilder::start()
{
    if (m_passQueued || m_waiting == 0)
        return;
    m_passQueued = true;
    TickPace::instance()->afterTick(this, [this] { buildNext(); });
}

void PassBuilder::startAfterFirstPaint(QWidget *window)
{
    if (m_awaitingPaint)
        return;
    m_awaitingPaint = true;
    window->installEventFilter(this);
}

bool PassBuilder::eventFilter(QObject *watched, QEvent *event)
{
    if (m_awaitingPaint && event->type() == QEvent::Paint && static_cast<QWidget *>(watched)->isVisible()) {
        m_awaitingPaint = false;
        watched->removeEventFilter(this);
        start();
    }
    return QObject::eventFilter(watched, event);
}

bool PassBuilder::ensure(int part)
{
    if (part < 0 || part >= int(m_parts.size()))
        return false;
    if (m_built[size_t(part)])
        return true;
    // Marked first: a part may ask for itself again while it builds.
    m_built[size_t(part)] = true;
    --m_waiting;
    std::function<void()> build = std::move(m_parts[size_t(part)]);
    m_parts[size_t(part)] = nullptr;
    build();
    return true;
}

void PassBuilder::finish()
{
    for (int part = 0; part < int(m_parts.size()); ++part)
        ensure(part);
}

bool PassBuilder::isBuilt(int part) const
{
    return part >= 0 && part < int(m_built.size()) && m_built[size_t(part)];
}

void PassBuilder::buildNext()
{
    m_passQueued = false;
    for (int part = 0; part < int(m_parts.size()); ++part) {
        if (!m_built[size_t(part)]) {
            ensure(part);
            break;
        }
    }
    start();
}

} // namespace ostra
