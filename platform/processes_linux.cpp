#include "platform/processes.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace corvane::platform {
namespace {

// The kernel keeps at most this many characters of a process name in /proc/<pid>/comm.
constexpr int kCommLength = 15;

struct ProcessEntry
{
    pid_t pid;
    QByteArray exeName;
};

QByteArray readSmallFile(const std::string& path)
{
    QByteArray content;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return content;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && content.size() < 65536)
        content.append(buffer, static_cast<int>(n));
    std::fclose(f);
    return content;
}

QByteArray baseName(const QByteArray& path)
{
    const int slash = path.lastIndexOf('/');
    return slash < 0 ? path : path.mid(slash + 1);
}

// A zombie or dead task has finished running; counting it would make a sweep that waits for
// the count to drop spin until its parent reaps it.
bool hasFinished(const std::string& procDir)
{
    const QByteArray stat = readSmallFile(procDir + "/stat");
    const int close = stat.lastIndexOf(')');
    if (close < 0 || close + 2 >= stat.size())
        return true;
    const char state = stat.at(close + 2);
    return state == 'Z' || state == 'X' || state == 'x';
}

// The executable's file name, as Windows reports it in its process list. The exe link is the
// truth; a process of another user hides it, and then comm (cut to 15 characters) and argv[0]
// stand in. Kernel threads have neither an exe link nor a command line and are left out.
bool exeNameOf(const std::string& procDir, QByteArray* name)
{
    char target[4096];
    const ssize_t length = ::readlink((procDir + "/exe").c_str(), target, sizeof target - 1);
    if (length > 0) {
        QByteArray path(target, static_cast<int>(length));
        static const QByteArray deleted(" (deleted)");
        if (path.endsWith(deleted))
            path.chop(deleted.size());
        *name = baseName(path);
        return true;
    }
    if (errno != EACCES && errno != EPERM)
        return false;
    QByteArray comm = readSmallFile(procDir + "/comm");
    if (comm.endsWith('\n'))
        comm.chop(1);
    const QByteArray cmdline = readSmallFile(procDir + "/cmdline");
    if (cmdline.isEmpty())
        return false;
    const QByteArray argv0 = baseName(QByteArray(cmdline.constData()));
    *name = (comm.size() >= kCommLength && argv0.startsWith(comm)) ? argv0 : comm;
    return true;
}

// All running processes in ascending id order, or an empty list when /proc cannot be read.
std::vector<ProcessEntry> snapshot()
{
    std::vector<ProcessEntry> entries;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return entries;
    while (const dirent* entry = ::readdir(proc)) {
        const std::string id = entry->d_name;
        if (id.empty() || !std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const std::string dir = "/proc/" + id;
        QByteArray name;
        if (!exeNameOf(dir, &name) || hasFinished(dir))
            continue;
        entries.push_back({static_cast<pid_t>(std::strtol(id.c_str(), nullptr, 10)), name});
    }
    ::closedir(proc);
    std::sort(entries.begin(), entries.end(),
              [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
    return entries;
}

} // namespace

int CountProcessesByName(const QString& name)
{
    if (name.isEmpty())
        return 0;
    const QByteArray wanted = QFile::encodeName(name);
    int count = 0;
    for (const ProcessEntry& entry : snapshot()) {
        if (entry.exeName == wanted)
            ++count;
    }
    return count;
}

bool TerminateProcessByName(const QString& name)
{
    if (name.isEmpty())
        return false;
    const QByteArray wanted = QFile::encodeName(name);
    for (const ProcessEntry& entry : snapshot()) {
        if (entry.exeName == wanted) {
            ::kill(entry.pid, SIGTERM);
            return true;
        }
    }
    return false;
}

} // namespace corvane::platform
