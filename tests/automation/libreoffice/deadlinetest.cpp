#include "deadline.h"

#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

using corvane::automation::libreoffice::Deadline;

namespace {

// A stand-in for soffice: leader of its own process group, like the office we start.
struct GroupLeader
{
    GroupLeader()
    {
        process.start(QStringLiteral("setsid"), {QStringLiteral("sleep"), QStringLiteral("30")});
        process.waitForStarted();
    }
    ~GroupLeader()
    {
        process.kill();
        process.waitForFinished();
    }
    QProcess process;
};

} // namespace

TEST(Deadline, EndsTheOfficeWhenACallTakesTooLong)
{
    GroupLeader office;
    ASSERT_EQ(office.process.state(), QProcess::Running);
    {
        const Deadline deadline(static_cast<pid_t>(office.process.processId()), 100);
        QThread::msleep(400);
        EXPECT_TRUE(deadline.expired());
    }
    EXPECT_TRUE(office.process.waitForFinished(5000));
    EXPECT_EQ(office.process.exitStatus(), QProcess::CrashExit);
}

TEST(Deadline, LeavesTheOfficeAloneWhenTheCallReturnsInTime)
{
    GroupLeader office;
    {
        const Deadline deadline(static_cast<pid_t>(office.process.processId()), 60000);
        EXPECT_FALSE(deadline.expired());
    }
    EXPECT_FALSE(office.process.waitForFinished(300));
    EXPECT_EQ(office.process.state(), QProcess::Running);
}
