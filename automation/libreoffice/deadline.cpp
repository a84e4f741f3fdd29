#include "deadline.h"

#include <chrono>
#include <csignal>

namespace corvane::automation::libreoffice {

Deadline::Deadline(pid_t pid, int milliseconds)
{
    if (pid <= 0)
        return;
    m_thread = std::thread([this, pid, milliseconds] {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_done.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_finished; }))
            return;
        m_expired = true;
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
    });
}

Deadline::~Deadline()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = true;
    }
    m_done.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

bool Deadline::expired() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_expired;
}

} // namespace corvane::automation::libreoffice
