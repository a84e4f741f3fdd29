#include "signalstop.h"

#include "platform/savingfiles.h"

#include <atomic>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace corvane::cli {
namespace {

// The handler only writes the signal's number into a pipe (write() is async-signal-safe); a
// thread reads it and does the rest. Byte 0 tells the thread to end.
int g_pipe[2] = {-1, -1};
std::atomic<int> g_firstSignal{0};
struct sigaction g_oldInt;
struct sigaction g_oldTerm;

void onSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

void writeStderr(const char* text)
{
    std::size_t length = 0;
    while (text[length])
        ++length;
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text, length);
}

} // namespace

int exitStatusForSignal(int signal)
{
    return 128 + signal;
}

SignalStop::SignalStop(std::function<void()> stop) : m_stop(std::move(stop))
{
    g_firstSignal = 0;
    if (::pipe2(g_pipe, O_CLOEXEC) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &g_oldInt);
    ::sigaction(SIGTERM, &action, &g_oldTerm);
    m_installed = true;
    m_watcher = std::thread([this] { watch(); });
}

SignalStop::~SignalStop()
{
    if (!m_installed)
        return;
    ::sigaction(SIGINT, &g_oldInt, nullptr);
    ::sigaction(SIGTERM, &g_oldTerm, nullptr);
    const unsigned char quit = 0;
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &quit, 1);
    m_watcher.join();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

int SignalStop::signal() const
{
    return g_firstSignal.load();
}

void SignalStop::watch()
{
    for (;;) {
        unsigned char byte = 0;
        const ssize_t n = ::read(g_pipe[0], &byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || byte == 0)
            return;
        int expected = 0;
        if (g_firstSignal.compare_exchange_strong(expected, byte)) {
            writeStderr("corvane-cli: stopping after the current workbook (signal again to end at once)\n");
            m_stop();
            continue;
        }
        // Again: end now. A save in progress loses only its temporary file.
        platform::removeTemporaryFiles();
        writeStderr("corvane-cli: ended at once; no workbook was left half-written\n");
        ::_exit(exitStatusForSignal(byte));
    }
}

} // namespace corvane::cli
