#include "platform/savefile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvane::platform;

namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

void write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
}

QByteArray read(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct stat statOf(const QString& path)
{
    struct stat info = {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info;
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden);
}

} // namespace

TEST(SaveFile, TemporaryFileIsHiddenOursAndNeverLooksLikeAWorkbook)
{
    QTemporaryDir tmp;
    const QString target = tmp.filePath("Book.XLSX");
    write(target, "old");
    SaveFile save(target);
    ASSERT_TRUE(save.open()) << save.errorString().toStdString();
    const QString name = QFileInfo(save.path()).fileName();
    EXPECT_TRUE(name.startsWith('.')) << name.toStdString();
    EXPECT_TRUE(isSaveTempName(save.path()));
    EXPECT_FALSE(name.contains(QLatin1String(".xls"), Qt::CaseInsensitive)) << name.toStdString();
    EXPECT_EQ(QFileInfo(save.path()).absolutePath(), QFileInfo(target).absolutePath());
    // In use: no other run may take it away meanwhile.
    EXPECT_FALSE(removeStaleSaveFile(save.path()));
    EXPECT_TRUE(QFile::exists(save.path()));
    EXPECT_FALSE(isSaveTempName(tmp.filePath("corvane-save-1-abc.xlsx")));
    EXPECT_FALSE(isSaveTempName(tmp.filePath("Book.xlsx.fp7pfh")));
}

TEST(SaveFile, CommitReplacesTheTargetKeepingOwnerGroupAndMode)
{
    QTemporaryDir tmp;
    const QString target = tmp.filePath("book.xlsx");
    write(target, "old");
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(QFile::encodeName(target).constData(), kNobody, kNogroup), 0);
    }
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 02664), 0);
    const struct stat before = statOf(target);

    SaveFile save(target);
    ASSERT_TRUE(save.open());
    save.file().write("new content");
    ASSERT_TRUE(save.commit()) << save.errorString().toStdString();
    EXPECT_EQ(read(target), QByteArray("new content"));
    const struct stat after = statOf(target);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(after.st_mode & 07777, before.st_mode & 07777);
    EXPECT_EQ(entries(tmp.path()), QStringList({"book.xlsx"}));
}

// The mode bits decide, not access(): root may write anything.
TEST(SaveFile, ReadOnlyTargetIsRefusedAndLeftAsItWas)
{
    QTemporaryDir tmp;
    const QString target = tmp.filePath("book.xls");
    write(target, "old");
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0444), 0);
    EXPECT_EQ(refusalToReplace(target), QStringLiteral("not saved: the file is read-only"));
    {
        SaveFile save(target);
        ASSERT_TRUE(save.open());
        save.file().write("new");
        EXPECT_FALSE(save.commit());
        EXPECT_EQ(save.errorString(), QStringLiteral("not saved: the file is read-only"));
    }
    EXPECT_EQ(read(target), QByteArray("old"));
    EXPECT_EQ(statOf(target).st_mode & 07777, 0444u);
    EXPECT_EQ(entries(tmp.path()), QStringList({"book.xls"}));
}

// A user who may write a workbook but cannot give the copy its owner must leave it alone.
TEST(SaveFile, TargetWhoseOwnerCannotBeKeptIsRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as a second user";
    QTemporaryDir tmp;
    const QString target = tmp.filePath("shared.xlsx");
    write(target, "old");
    ASSERT_EQ(::chmod(QFile::encodeName(tmp.path()).constData(), 0777), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0666), 0);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(kNogroup) != 0 || ::setuid(kNobody) != 0)
            ::_exit(3);
        int code = 4;
        {
            SaveFile save(target);
            if (save.open()) {
                save.file().write("new");
                code = !save.commit() && save.errorString().contains(QLatin1String("owner")) ? 0 : 5;
            }
        }
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read(target), QByteArray("old"));
    EXPECT_EQ(statOf(target).st_uid, 0u);
    EXPECT_EQ(entries(tmp.path()), QStringList({"shared.xlsx"}));
}

TEST(SaveFile, OnlyStaleTemporaryFilesOfOursAreRemoved)
{
    QTemporaryDir tmp;
    // A process id that is not running: its run was killed.
    const pid_t gone = ::fork();
    ASSERT_GE(gone, 0);
    if (gone == 0)
        ::_exit(0);
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
    const QString dead = QString::number(gone);
    const QString stale = tmp.filePath(".corvane-save-" + dead + "-aB3xYz");
    const QString live = tmp.filePath(".corvane-save-1-aB3xYz"); // pid 1 runs
    const QString others = tmp.filePath("book.xlsx.fp7pfh");
    const QString workbook = tmp.filePath("book.xlsx");
    for (const QString& path : {stale, live, others, workbook})
        write(path, "x");

    EXPECT_TRUE(removeStaleSaveFile(stale));
    EXPECT_FALSE(removeStaleSaveFile(live));
    EXPECT_FALSE(removeStaleSaveFile(others));
    EXPECT_FALSE(removeStaleSaveFile(workbook));
    QStringList left = entries(tmp.path());
    left.sort();
    EXPECT_EQ(left, QStringList({".corvane-save-1-aB3xYz", "book.xlsx", "book.xlsx.fp7pfh"}));
}
