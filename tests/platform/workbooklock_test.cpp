#include "platform/workbooklock.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>

using namespace corvane::platform;

namespace {

void write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
}

} // namespace

TEST(WorkbookLock, AWorkbookIsHeldByOneRunAtATimeAndTheLockFollowsItsName)
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath("book.xlsx");
    write(path, "one");

    WorkbookLock first;
    ASSERT_TRUE(first.acquire(path, 0));
    WorkbookLock second;
    EXPECT_FALSE(second.acquire(path, 0));
    EXPECT_FALSE(second.acquire(path, 120)); // waits, then gives up
    first.release();
    EXPECT_TRUE(second.acquire(path, 0));
    second.release();

    // A save puts a new file in the old one's place: the lock on the file that was replaced
    // guards nothing, and a later run locks the file that is there now.
    ASSERT_TRUE(first.acquire(path, 0));
    write(tmp.filePath("new"), "two");
    ASSERT_EQ(
        std::rename(QFile::encodeName(tmp.filePath("new")).constData(), QFile::encodeName(path).constData()),
        0);
    ASSERT_TRUE(second.acquire(path, 0));
    WorkbookLock third;
    EXPECT_FALSE(third.acquire(path, 0));
}

TEST(WorkbookLock, AFileThatCannotBeOpenedIsLeftToTheServersOpen)
{
    WorkbookLock lock;
    EXPECT_TRUE(lock.acquire(QStringLiteral("/nonexistent/corvane/book.xlsx"), 0));
    EXPECT_EQ(inUseByAnotherRunReason(), QStringLiteral("in use by another run"));
}
