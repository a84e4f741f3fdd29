// One private LibreOffice process: hidden, with a throw-away profile and a pipe no other
// client knows, so it never meets the user's own LibreOffice or settings.
#pragma once

#include <QString>

#include <sys/types.h>

#include <utility>

namespace corvane::automation::libreoffice {

class OfficeProcess
{
public:
    // `program` replaces the search of findProgram() when it is not empty.
    explicit OfficeProcess(QString program = {}) : m_override(std::move(program)) {}
    ~OfficeProcess();
    OfficeProcess(const OfficeProcess&) = delete;
    OfficeProcess& operator=(const OfficeProcess&) = delete;

    // The soffice program to start: $CORVANE_SOFFICE, the installation found at build time,
    // or soffice/libreoffice on PATH. Empty when there is none.
    static QString findProgram();

    // Creates the profile and starts the process. False with `error` set when it cannot start.
    bool start(QString* error);

    // The process (and process group) id; -1 when not running.
    pid_t pid() const { return m_pid; }

    // The name of the pipe the process accepts UNO connections on.
    QString pipeName() const { return m_pipeName; }

    // Whether the process is still there. A first start on a fresh profile ends with the
    // "restart me" code; this starts it again, as LibreOffice's own launcher would.
    bool isRunning();

    // Exit status text for messages once the process is gone ("crashed (signal 6)").
    QString exitDescription() const { return m_exitDescription; }

    // Waits up to `graceMsecs` for the process to end by itself (after a terminate request),
    // then ends it and everything it started; removes the profile.
    void stop(int graceMsecs);

    // Ends soffice processes left behind by a Corvane process that no longer exists (their
    // profile names an owner that is gone) and removes their profiles.
    static void endOrphans();

private:
    bool spawn(QString* error);
    bool reap(bool wait);
    void removeProfile();

    pid_t m_pid = -1;
    QString m_override;
    QString m_program;
    QString m_profileDir;
    QString m_pipeName;
    QString m_exitDescription;
    int m_restarts = 0;
};

} // namespace corvane::automation::libreoffice
