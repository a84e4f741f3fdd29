// Ends an office process group when a call into it takes longer than allowed, so a workbook
// that makes LibreOffice hang cannot stop the run.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include <sys/types.h>

namespace corvane::automation::libreoffice {

class Deadline
{
public:
    // Arms the deadline for the process group `pid` (nothing happens for pid <= 0).
    Deadline(pid_t pid, int milliseconds);
    // Disarms it; returns at once when the call finished in time.
    ~Deadline();
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    bool expired() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    bool m_expired = false;
    std::thread m_thread;
};

} // namespace corvane::automation::libreoffice
