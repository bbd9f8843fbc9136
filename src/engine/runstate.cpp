#include "engine/runstate.h"

namespace archivon {

RunState::Value RunState::value() const
{
    const std::lock_guard lock(m_mutex);
    return m_value;
}

bool RunState::hold()
{
    const std::lock_guard lock(m_mutex);
    if (m_value != Value::Running)
        return false;
    m_value = Value::Held;
    return true;
}

void RunState::release()
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_value == Value::Held)
            m_value = Value::Running;
    }
    m_changed.notify_all();
}

bool RunState::stop()
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_value == Value::Ended)
            return false;
        m_value = Value::Stopping;
        m_stopRequested = true;
    }
    m_changed.notify_all();
    return true;
}

bool RunState::proceed()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_value != Value::Held; });
    return m_value == Value::Running;
}

bool RunState::stopRequested() const
{
    const std::lock_guard lock(m_mutex);
    return m_stopRequested;
}

bool RunState::complete()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_value != Value::Held; });
    if (m_value != Value::Running)
        return false;
    m_value = Value::Ended;
    return true;
}

void RunState::end()
{
    {
        const std::lock_guard lock(m_mutex);
        m_value = Value::Ended;
    }
    m_changed.notify_all();
}

} // namespace archivon
