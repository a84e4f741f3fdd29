// SIGINT and SIGTERM during a run: the first stops the run after the workbook in hand, as the
// window's stop button does; a second ends the program at once, taking the temporary file of
// a save in progress with it (the workbook itself is only ever replaced by a rename).
#pragma once

#include <functional>
#include <thread>

namespace corvane::cli {

class SignalStop
{
public:
    // `stop` is called on a thread of its own when the first signal arrives.
    explicit SignalStop(std::function<void()> stop);
    ~SignalStop();
    SignalStop(const SignalStop&) = delete;
    SignalStop& operator=(const SignalStop&) = delete;

    // The first signal received, 0 when none came.
    int signal() const;

private:
    void watch();

    std::function<void()> m_stop;
    std::thread m_watcher;
    bool m_installed = false;
};

// The exit status for a run ended by `signal`: 128 plus its number (130 for SIGINT).
int exitStatusForSignal(int signal);

} // namespace corvane::cli
