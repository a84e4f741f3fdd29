#include "officeprocess.h"

#include "platform/officeleftovers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace corvane::automation::libreoffice {

namespace {

// soffice.bin asks its launcher to start it again with this code after it set up a profile.
constexpr int kRestartCode = 81;
constexpr int kMaxRestarts = 3;

// Settings of the private profile: formulas read and written as Excel writes them (English
// names, "," between arguments), number input in the en-US form, macros never run, VBA kept
// as it was for saving back, no lock files beside the workbooks.
const char kProfileSettings[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Calc/Formula/Syntax"><prop oor:name="Grammar" oor:op="fuse"><value>1</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Formula/Syntax"><prop oor:name="EnglishFunctionName" oor:op="fuse"><value>true</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Formula/Syntax"><prop oor:name="SeparatorArg" oor:op="fuse"><value>,</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Formula/Syntax"><prop oor:name="SeparatorArrayCol" oor:op="fuse"><value>,</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Formula/Syntax"><prop oor:name="SeparatorArrayRow" oor:op="fuse"><value>;</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Filter/Import/VBA"><prop oor:name="Load" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Filter/Import/VBA"><prop oor:name="Save" oor:op="fuse"><value>true</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Filter/Import/VBA"><prop oor:name="Executable" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Security/Scripting"><prop oor:name="MacroSecurityLevel" oor:op="fuse"><value>3</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Security/Scripting"><prop oor:name="DisableMacrosExecution" oor:op="fuse"><value>true</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="UseLocking" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Setup/L10N"><prop oor:name="ooSetupSystemLocale" oor:op="fuse"><value>en-US</value></prop></item>
<item oor:path="/org.openoffice.Setup/L10N"><prop oor:name="ooLocale" oor:op="fuse"><value>en-US</value></prop></item>
</oor:items>
)";

bool isExecutableFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

// The launcher scripts and oosplash start soffice.bin as a grandchild we could not follow;
// starting soffice.bin itself keeps the whole office in one process group of ours.
QString officeBinaryFor(const QString& program)
{
    const QFileInfo info(QFileInfo(program).canonicalFilePath());
    const QString bin = info.absolutePath() + QStringLiteral("/soffice.bin");
    if (isExecutableFile(bin))
        return bin;
    return isExecutableFile(program) ? program : QString();
}

void endGroup(pid_t pid, int signal)
{
    if (pid > 0) {
        ::kill(-pid, signal);
        ::kill(pid, signal);
    }
}

QString describeStatus(int status)
{
    if (WIFEXITED(status))
        return QStringLiteral("exited with code %1").arg(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return QStringLiteral("crashed (signal %1)").arg(WTERMSIG(status));
    return QStringLiteral("ended");
}

} // namespace

OfficeProcess::~OfficeProcess()
{
    stop(0);
}

QString OfficeProcess::findProgram()
{
    const QByteArray fromEnv = qgetenv("CORVANE_SOFFICE");
    if (!fromEnv.isEmpty())
        return officeBinaryFor(QString::fromLocal8Bit(fromEnv));
#ifdef CORVANE_LIBREOFFICE_PROGRAM_DIR
    const QString built = officeBinaryFor(QStringLiteral(CORVANE_LIBREOFFICE_PROGRAM_DIR "/soffice"));
    if (!built.isEmpty())
        return built;
#endif
    for (const char* name : {"soffice", "libreoffice"}) {
        const QString found = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!found.isEmpty())
            return officeBinaryFor(found);
    }
    return {};
}

bool OfficeProcess::start(QString* error)
{
    stop(0);
    m_program = m_override.isEmpty() ? findProgram() : officeBinaryFor(m_override);
    if (m_program.isEmpty()) {
        *error =
            m_override.isEmpty()
                ? QStringLiteral("LibreOffice is not installed (no soffice program found)")
                : QStringLiteral("LibreOffice is not installed (no soffice program at %1)").arg(m_override);
        return false;
    }
    endOrphans();

    QByteArray pattern = QFile::encodeName(platform::officeProfilePrefix() + QStringLiteral("XXXXXX"));
    if (!::mkdtemp(pattern.data())) {
        *error = QStringLiteral("LibreOffice could not be started: no temporary profile folder (%1)")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_profileDir = QFile::decodeName(pattern);
    m_pipeName = QFileInfo(m_profileDir).fileName();
    QFile owner(m_profileDir + QLatin1Char('/') + platform::officeOwnerFileName());
    QDir().mkpath(m_profileDir + QStringLiteral("/user"));
    QFile settings(m_profileDir + QStringLiteral("/user/registrymodifications.xcu"));
    if (!owner.open(QIODevice::WriteOnly) || owner.write(QByteArray::number(::getpid())) < 0 ||
        !settings.open(QIODevice::WriteOnly) || settings.write(kProfileSettings) < 0) {
        *error = QStringLiteral("LibreOffice could not be started: cannot write its profile in %1")
                     .arg(m_profileDir);
        removeProfile();
        return false;
    }
    owner.close();
    settings.close();
    m_restarts = 0;
    return spawn(error);
}

namespace {

// The caller's environment, with a UTF-8 character type when it has none: LibreOffice turns the
// URLs it is given into file names in its locale's character set, so under LANG=C a workbook
// on a Chinese path could not be found.
std::vector<std::string> officeEnvironment()
{
    const auto value = [](const char* name) {
        const char* v = std::getenv(name);
        return std::string(v ? v : "");
    };
    std::string ctype = value("LC_ALL");
    if (ctype.empty())
        ctype = value("LC_CTYPE");
    if (ctype.empty())
        ctype = value("LANG");
    const QString lower = QString::fromStdString(ctype).toLower();
    const bool utf8 = lower.contains(QLatin1String("utf-8")) || lower.contains(QLatin1String("utf8"));
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        const std::string entry(*e);
        if (!utf8 && (entry.rfind("LC_ALL=", 0) == 0 || entry.rfind("LC_CTYPE=", 0) == 0))
            continue;
        env.push_back(entry);
    }
    if (!utf8)
        env.push_back("LC_CTYPE=C.UTF-8");
    return env;
}

} // namespace

bool OfficeProcess::spawn(QString* error)
{
    const std::string program = QFile::encodeName(m_program).toStdString();
    const std::string log = QFile::encodeName(m_profileDir + QStringLiteral("/soffice.log")).toStdString();
    const QUrl profileUrl = QUrl::fromLocalFile(m_profileDir);
    std::vector<std::string> args = {
        program,
        "--headless",
        "--invisible",
        "--norestore",
        "--nologo",
        "--nodefault",
        "--nolockcheck",
        "-env:UserInstallation=" + profileUrl.toString(QUrl::FullyEncoded).toStdString(),
        "--accept=pipe,name=" + m_pipeName.toStdString() + ";urp;StarOffice.ComponentContext",
    };
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = officeEnvironment();
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        *error = QStringLiteral("LibreOffice could not be started: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::setsid();
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (in >= 0)
            ::dup2(in, 0);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    m_pid = pid;
    m_exitDescription.clear();
    return true;
}

bool OfficeProcess::reap(bool wait)
{
    if (m_pid <= 0)
        return true;
    int status = 0;
    const pid_t r = ::waitpid(m_pid, &status, wait ? 0 : WNOHANG);
    if (r == 0)
        return false;
    if (r == m_pid) {
        m_exitDescription = describeStatus(status);
        // Helpers it started (if any) must not outlive it.
        endGroup(m_pid, SIGKILL);
        const bool restart = WIFEXITED(status) && WEXITSTATUS(status) == kRestartCode;
        m_pid = -1;
        if (restart && m_restarts < kMaxRestarts) {
            ++m_restarts;
            QString ignored;
            return !spawn(&ignored);
        }
        return true;
    }
    m_pid = -1;
    return true;
}

bool OfficeProcess::isRunning()
{
    return !reap(false) && m_pid > 0;
}

void OfficeProcess::stop(int graceMsecs)
{
    if (m_pid > 0) {
        for (int waited = 0; waited < graceMsecs && !reap(false); waited += 50)
            QThread::msleep(50);
        if (m_pid > 0) {
            endGroup(m_pid, SIGTERM);
            for (int waited = 0; waited < 2000 && m_pid > 0; waited += 50) {
                int status = 0;
                if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                    m_exitDescription = describeStatus(status);
                    endGroup(m_pid, SIGKILL);
                    m_pid = -1;
                    break;
                }
                QThread::msleep(50);
            }
        }
        if (m_pid > 0) {
            endGroup(m_pid, SIGKILL);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
            m_exitDescription = describeStatus(status);
            m_pid = -1;
        }
    }
    removeProfile();
}

void OfficeProcess::removeProfile()
{
    if (!m_profileDir.isEmpty())
        QDir(m_profileDir).removeRecursively();
    m_profileDir.clear();
}

void OfficeProcess::endOrphans()
{
    platform::endOfficeLeftovers();
}

} // namespace corvane::automation::libreoffice
