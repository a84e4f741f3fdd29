// What the corvane-cli tests share: a command run in-process, and a folder whose workbooks the
// in-memory test server serves.
#pragma once

#include "cli/commands.h"
#include "jobs/serverregistry.h"
#include "tests/support/memoryserver.h"

#include <QStringList>
#include <QTemporaryDir>
#include <QTextStream>

#include <memory>

namespace corvane::testsupport {

struct Cli
{
    QString out;
    QString err;
    int status = -1;

    explicit Cli(const QStringList& args)
    {
        QTextStream o(&out);
        QTextStream e(&err);
        status = cli::runCommandLine(args, o, e);
    }
    QStringList outLines() const { return out.split('\n', Qt::SkipEmptyParts); }
};

// Installs the test server for as long as it lives; `available` false makes it fail to start.
struct CliFolder
{
    QTemporaryDir dir;
    std::shared_ptr<ServerJournal> journal = std::make_shared<ServerJournal>();
    bool available = true;

    CliFolder()
    {
        jobs::installServerFactory([this] { return std::make_unique<MemoryServer>(journal, available); });
    }
    ~CliFolder() { jobs::installServerFactory({}); }
    CliFolder(const CliFolder&) = delete;
    CliFolder& operator=(const CliFolder&) = delete;

    QString path(const QString& name = {}) const { return dir.path() + "/" + name; }
};

} // namespace corvane::testsupport
