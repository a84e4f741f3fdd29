// The instance rule and the server sweep find processes by executable file name. These tests
// start copies of /bin/sleep under names no other process has, so they never touch a real
// program.
#include "platform/processes.h"

#include <QFile>
#include <QHash>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace corvane::platform;

namespace {

template <typename Condition> bool waitFor(Condition done)
{
    for (int i = 0; i < 500; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

bool hasExited(pid_t child, int* status)
{
    return ::waitpid(child, status, WNOHANG) == child;
}

class ProcessUtilities : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        const QString tag = QString::number(::getpid());
        m_shortName = QStringLiteral("cvs") + tag; // within the 15 characters the kernel keeps
        m_longName = QStringLiteral("corvane-sleeper-") + tag + QStringLiteral("-long");
        for (const QString& name : {m_shortName, m_longName})
            ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), m_dir.filePath(name)));
    }

    void TearDown() override
    {
        for (pid_t child : m_children) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
    }

    // Starts a sleeper and waits until the process list shows it under its own name (a
    // forked child carries the test's name until exec).
    pid_t start(const QString& name)
    {
        const QByteArray program = QFile::encodeName(m_dir.filePath(name));
        const pid_t child = ::fork();
        if (child == 0) {
            ::execl(program.constData(), program.constData(), "60", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        m_children.push_back(child);
        const int expected = ++m_running[name];
        EXPECT_TRUE(waitFor([&] { return CountProcessesByName(name) == expected; }));
        return child;
    }

    QTemporaryDir m_dir;
    QString m_shortName;
    QString m_longName;
    std::vector<pid_t> m_children;
    QHash<QString, int> m_running;
};

TEST_F(ProcessUtilities, CountsExactlyTheProcessesOfThatName)
{
    EXPECT_EQ(CountProcessesByName(m_shortName), 0);
    start(m_shortName);
    start(m_shortName);
    EXPECT_EQ(CountProcessesByName(m_shortName), 2);
    // Byte comparison: another case, a prefix or a longer name is another program.
    EXPECT_EQ(CountProcessesByName(m_shortName.toUpper()), 0);
    EXPECT_EQ(CountProcessesByName(m_shortName.left(m_shortName.size() - 1)), 0);
    EXPECT_EQ(CountProcessesByName(m_shortName + QLatin1Char('x')), 0);
    EXPECT_EQ(CountProcessesByName(QString()), 0);
    EXPECT_FALSE(TerminateProcessByName(QString()));
}

TEST_F(ProcessUtilities, NamesLongerThanTheKernelsProcessNameAreMatchedWhole)
{
    start(m_longName);
    EXPECT_EQ(CountProcessesByName(m_longName), 1);
    // The kernel's short name is the first 15 characters; it must not pass for the program.
    EXPECT_EQ(CountProcessesByName(m_longName.left(15)), 0);
}

TEST_F(ProcessUtilities, TerminatesOnlyTheFirstProcessInIdOrder)
{
    const pid_t first = start(m_shortName);
    const pid_t second = start(m_shortName);
    const pid_t older = std::min(first, second);
    const pid_t younger = std::max(first, second);

    EXPECT_TRUE(TerminateProcessByName(m_shortName));

    int status = 0;
    ASSERT_TRUE(waitFor([&] { return hasExited(older, &status); }));
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_FALSE(hasExited(younger, &status));
    EXPECT_EQ(CountProcessesByName(m_shortName), 1);
}

TEST_F(ProcessUtilities, AnEndedButUnreapedProcessNoLongerCounts)
{
    const pid_t child = start(m_shortName);
    ::kill(child, SIGTERM);
    // Not reaped: the child stays a zombie. A sweep that loops while the count is positive
    // must still see it gone.
    EXPECT_TRUE(waitFor([&] { return CountProcessesByName(m_shortName) == 0; }));
    EXPECT_FALSE(TerminateProcessByName(m_shortName));
}

} // namespace
