// The worker on its own thread, as the window runs it: signals, the server's thread, result
// list files and the order in which they are shown, replacement of the worker pair.
#include "jobs/joboptions.h"
#include "jobs/launch.h"
#include "jobs/resultlists.h"
#include "jobs/runmonitor.h"
#include "jobs/serverregistry.h"
#include "jobs/threadobject.h"
#include "platform/officeleftovers.h"
#include "tests/support/memoryserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

using namespace corvane::jobs;
using namespace corvane::testsupport;

namespace {

bool waitFor(const std::function<bool()>& done, int ms = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Points the text opener at a script that appends each path it is given to a file.
struct OpenerRecorder
{
    QTemporaryDir dir;
    QString record = dir.path() + "/opened.txt";

    OpenerRecorder()
    {
        const QString script = dir.path() + "/record.sh";
        QFile f(script);
        f.open(QIODevice::WriteOnly);
        f.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$(dirname \"$0\")/opened.txt\"\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("CORVANE_TEXT_OPENER", QFile::encodeName(script));
    }
    ~OpenerRecorder() { qputenv("CORVANE_TEXT_OPENER", saved); }
    QByteArray saved = qgetenv("CORVANE_TEXT_OPENER");
    QStringList opened() const { return QString::fromUtf8(readAll(record)).split('\n', Qt::SkipEmptyParts); }
};

// Collects what a worker sends, on the test's (GUI) thread.
struct Receiver
{
    QObject context;
    QStringList statuses;
    int ended = 0;
    std::pair<int, int> lastProgress{-1, -1};

    void attach(ThreadObject& worker)
    {
        QObject::connect(&worker, &ThreadObject::ShowDisposingFile, &context,
                         [this](const QString& text) { statuses.append(text); });
        QObject::connect(&worker, &ThreadObject::Set_pBtn_Enable, &context, [this] { ++ended; });
        QObject::connect(worker.monitor(), &RunMonitor::progressed, &context, [this](int done, int total) {
            lastProgress = {done, total};
        });
    }
};

struct Job
{
    QTemporaryDir folder;
    std::shared_ptr<ServerJournal> journal = std::make_shared<ServerJournal>();
    std::unique_ptr<QThread> thread;
    std::unique_ptr<ThreadObject> worker;
    Receiver receiver;

    QString path(const QString& name) const { return folder.path() + "/" + name; }

    void launch(const QString& find, const QString& with, bool openLists = true)
    {
        JobOptions& o = jobOptions();
        o.sourcePath = folder.path() + "/";
        o.findText = find;
        o.replaceText = with;
        o.justShow = false;
        o.onlyFirstSheet = false;
        o.appointedSheet = false;
        o.openLists = openLists;
        ASSERT_TRUE(prepareRun(o));
        retireWorker(thread, worker);
        startWorker(thread, worker);
        receiver.attach(*worker);
        QMetaObject::invokeMethod(worker.get(), "ReplaceExcelText", Qt::QueuedConnection);
    }
    ~Job() { retireWorker(thread, worker); }
};

} // namespace

TEST(Worker, ReplaceRunsOnItsOwnThreadAndShowsTheListsInOrder)
{
    OpenerRecorder opener;
    Job job;
    installServerFactory([journal = job.journal] { return std::make_unique<MemoryServer>(journal); });
    QFile junk(job.path("broken.xlsx"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a workbook");
    junk.close();
    QDir(job.folder.path()).mkpath("子目录");
    writeMemoryWorkbook(job.path("子目录/命中.xlsx"), {{"Sheet1", {{"A1", "旧值"}}}});
    writeMemoryWorkbook(job.path("miss.xlsm"), {{"Sheet1", {{"A1", "other"}}}});

    job.launch(QStringLiteral("旧"), QStringLiteral("新"));
    ASSERT_TRUE(waitFor([&] { return opener.opened().size() == 3; }));

    const QString broken = QDir::toNativeSeparators(job.path("broken.xlsx"));
    const QString hit = QDir::toNativeSeparators(job.path("子目录/命中.xlsx"));
    const QString miss = QDir::toNativeSeparators(job.path("miss.xlsm"));
    const JobOptions& o = jobOptions();
    // The viewers start in the order failed, matched, unmatched (the run skeleton's tests hold
    // the order); detached, they may record in any order.
    QStringList opened = opener.opened();
    opened.sort();
    QStringList lists{QDir::toNativeSeparators(o.openFailedListPath),
                      QDir::toNativeSeparators(o.matchedListPath),
                      QDir::toNativeSeparators(o.unmatchedListPath)};
    lists.sort();
    EXPECT_EQ(opened, lists);
    EXPECT_EQ(QString::fromLocal8Bit(readAll(o.openFailedListPath)), broken + "\r\n");
    EXPECT_EQ(QString::fromLocal8Bit(readAll(o.matchedListPath)), hit + "\r\n");
    EXPECT_EQ(QString::fromLocal8Bit(readAll(o.unmatchedListPath)), miss + "\r\n");
    EXPECT_EQ(readMemorySheet(job.path("子目录/命中.xlsx"), 0).value("A1").toString(),
              QStringLiteral("新值"));

    EXPECT_EQ(job.receiver.ended, 1);
    EXPECT_EQ(job.receiver.lastProgress, std::make_pair(3, 3));
    ASSERT_FALSE(job.receiver.statuses.isEmpty());
    EXPECT_TRUE(job.receiver.statuses.last().startsWith(
        QStringLiteral("查找2个Excel文件,包含查找内容有1个Excel文件,耗时")));

    // One server, made, used and destroyed on the worker's thread only.
    EXPECT_EQ(job.journal->serversMade, 1);
    EXPECT_EQ(job.journal->destroyed, 1);
    for (QThread* t : job.journal->threads)
        EXPECT_EQ(t, job.thread.get());

    // The next launch on the folder deletes the lists, and the walk never takes them for
    // workbooks: a run over the same folder lists only its own entries.
    job.launch(QStringLiteral("nothing here"), QStringLiteral("x"));
    EXPECT_FALSE(QFile::exists(o.matchedListPath));
    ASSERT_TRUE(waitFor([&] { return opener.opened().size() == 5; }));
    EXPECT_FALSE(QFile::exists(o.matchedListPath));
    const QString unmatched = QString::fromLocal8Bit(readAll(o.unmatchedListPath));
    EXPECT_EQ(unmatched.count("\r\n"), 2);
    EXPECT_FALSE(unmatched.contains(".txt"));
    installServerFactory({});
}

TEST(Worker, MissingServerStillEndsTheBusyState)
{
    Job job;
    installServerFactory([journal = job.journal] { return std::make_unique<MemoryServer>(journal, false); });
    writeMemoryWorkbook(job.path("a.xlsx"), {{"Sheet1", {{"A1", "old"}}}});
    job.launch("old", "new");
    ASSERT_TRUE(waitFor([&] { return job.receiver.ended == 1; }));
    EXPECT_EQ(job.receiver.statuses.last(), corvane::automation::serverMissingMessage());
    EXPECT_TRUE(job.journal->opened.isEmpty());
    EXPECT_FALSE(QFile::exists(jobOptions().unmatchedListPath));
    installServerFactory({});
}

TEST(Worker, NextLaunchWaitsForThePreviousSlotThenUsesAFreshPair)
{
    Job job;
    QSemaphore entered;
    QSemaphore gate;
    installServerFactory([journal = job.journal, &entered, &gate] {
        entered.release();
        gate.acquire();
        return std::make_unique<MemoryServer>(journal);
    });
    writeMemoryWorkbook(job.path("a.xlsx"), {{"Sheet1", {{"A1", "old"}}}});
    job.launch("old", "new", false);
    ASSERT_TRUE(entered.tryAcquire(1, 10000));
    QPointer<ThreadObject> firstWorker = job.worker.get();

    // Release the first run a little later from elsewhere; retiring must block until then.
    std::unique_ptr<QThread> releaser(QThread::create([&gate] {
        QThread::msleep(300);
        gate.release();
    }));
    releaser->start();
    QElapsedTimer timer;
    timer.start();
    retireWorker(job.thread, job.worker);
    EXPECT_GE(timer.elapsed(), 250);
    EXPECT_EQ(job.journal->destroyed, 1);
    EXPECT_TRUE(firstWorker.isNull());
    EXPECT_FALSE(job.thread);
    EXPECT_FALSE(job.worker);
    releaser->wait();

    gate.release(); // the second run passes at once
    job.launch("new", "newer", false);
    ASSERT_TRUE(job.thread);
    EXPECT_TRUE(job.thread->isRunning());
    ASSERT_TRUE(waitFor([&] { return job.receiver.ended >= 1 && job.journal->destroyed == 2; }));
    EXPECT_EQ(readMemorySheet(job.path("a.xlsx"), 0).value("A1").toString(), "newer");
    installServerFactory({});
}

namespace {

// A process whose command line names `profile` as its office profile, as a Corvane office
// has it; the shell keeps the argument in its command line. It waits on a built-in (for input
// that never comes): a command it forked would show the same command line until it started, and
// be counted twice.
void startWithProfile(QProcess& process, const QString& profile)
{
    process.start(QStringLiteral("/bin/sh"),
                  {QStringLiteral("-c"), QStringLiteral("read line"),
                   QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile).toString()});
}

void writeOwner(const QString& profile, const QByteArray& pid)
{
    QDir().mkpath(profile);
    QFile owner(profile + "/owner");
    owner.open(QIODevice::WriteOnly);
    owner.write(pid);
}

// The user's own LibreOffice (soffice.bin itself, so no launcher stands between) with a profile
// of the test's own; a stand-in with the same kind of command line when none is installed.
void startUsersOffice(QProcess& office, const QString& profile)
{
    const QString launcher = qEnvironmentVariable("CORVANE_SOFFICE");
    const QString bin = QFileInfo(QFileInfo(launcher).canonicalFilePath()).absolutePath() + "/soffice.bin";
    if (launcher.isEmpty() || !QFileInfo(bin).isExecutable()) {
        startWithProfile(office, profile);
        return;
    }
    office.start(bin, {"--headless", "--invisible", "--norestore", "--nologo", "--nodefault",
                       "-env:UserInstallation=" + QUrl::fromLocalFile(profile).toString()});
}

} // namespace

TEST(ServerSweep, EndsOnlyTheOfficeLeftByAGoneCorvaneNeverTheUsersOwn)
{
    if (!corvane::platform::officeLeftovers().isEmpty())
        GTEST_SKIP() << "leftover Corvane office processes run already; the counts would not be ours";
    QTemporaryDir tmp;
    int asked = 0;
    int askedCount = 0;
    auto decline = [&](int count) {
        ++asked;
        askedCount = count;
        return false;
    };

    // The user's own office, and one of a Corvane that still runs (this process): nothing asked.
    QProcess users;
    startUsersOffice(users, tmp.path() + "/users-profile");
    ASSERT_TRUE(users.waitForStarted());
    const QString prefix = corvane::platform::officeProfilePrefix();
    const QString living = prefix + QStringLiteral("test-living-%1").arg(QCoreApplication::applicationPid());
    writeOwner(living, QByteArray::number(QCoreApplication::applicationPid()));
    QProcess current;
    startWithProfile(current, living);
    ASSERT_TRUE(current.waitForStarted());
    EXPECT_TRUE(ServerSweep(decline));
    EXPECT_EQ(asked, 0);

    // One whose Corvane is gone: asked about it alone; No ends nothing.
    const QString gone = prefix + QStringLiteral("test-gone-%1").arg(QCoreApplication::applicationPid());
    writeOwner(gone, "2147483000"); // above any pid Linux hands out
    QProcess leftover;
    startWithProfile(leftover, gone);
    ASSERT_TRUE(leftover.waitForStarted());
    EXPECT_FALSE(ServerSweep(decline));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(askedCount, 1);
    EXPECT_EQ(leftover.state(), QProcess::Running);

    // Yes ends the leftover and removes its profile; the others were not ended by the sweep (a
    // first LibreOffice start on a fresh profile may end by itself, asking to be restarted).
    EXPECT_TRUE(ServerSweep([](int) { return true; }));
    EXPECT_TRUE(leftover.waitForFinished(5000));
    EXPECT_FALSE(QFileInfo::exists(gone));
    EXPECT_TRUE(users.state() == QProcess::Running || users.exitStatus() == QProcess::NormalExit);
    EXPECT_EQ(current.state(), QProcess::Running);
    EXPECT_TRUE(sweepQuestion(2).contains("2"));

    for (QProcess* p : {&users, &current}) {
        p->kill();
        p->waitForFinished();
    }
    QDir(living).removeRecursively();
}
