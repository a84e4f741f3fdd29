#include "run/folderwalk.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <unistd.h>

#include <gtest/gtest.h>

using corvane::automation::isWorkbookPath;
using corvane::automation::ListFolderFiles;

namespace {

void touch(const QString& path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

int indexOf(const QStringList& list, const QString& path)
{
    return int(list.indexOf(path));
}

} // namespace

TEST(FolderWalk, OwnFilesComeBeforeEachSubfolderWhole)
{
    QTemporaryDir tmp;
    const QString root = tmp.path();
    QDir(root).mkpath("sub/deeper");
    QDir(root).mkpath("other");
    touch(root + "/b.xls");
    touch(root + "/z.txt");
    touch(root + "/sub/a.xls");
    touch(root + "/sub/deeper/c.xlsx");
    touch(root + "/other/d.xlsm");

    const QStringList files = ListFolderFiles(root + "/");
    ASSERT_EQ(files.size(), 5);
    // The root's own files first, whatever order the file system gives them in.
    EXPECT_LT(indexOf(files, root + "/b.xls"), 2);
    EXPECT_LT(indexOf(files, root + "/z.txt"), 2);
    // sub's own file, then sub/deeper, with nothing of other in between.
    const int a = indexOf(files, root + "/sub/a.xls");
    const int c = indexOf(files, root + "/sub/deeper/c.xlsx");
    const int d = indexOf(files, root + "/other/d.xlsm");
    ASSERT_GE(a, 0);
    ASSERT_GE(c, 0);
    ASSERT_GE(d, 0);
    EXPECT_EQ(c, a + 1);
    EXPECT_TRUE(d < a || d > c);
}

TEST(FolderWalk, EntriesJoinTheFolderAsGivenWithOneSlash)
{
    QTemporaryDir tmp;
    const QString root = tmp.path();
    QDir(root).mkpath("sub");
    touch(root + "/a.xlsx");
    touch(root + "/sub/b.xlsx");

    QStringList withSlash = ListFolderFiles(root + "/");
    withSlash.sort();
    EXPECT_EQ(withSlash, QStringList({root + "/a.xlsx", root + "/sub/b.xlsx"}));

    // A relative folder stays relative for its own files; subfolders come with absolute paths.
    QString relativeRoot = QDir::current().relativeFilePath(root);
    QStringList relative = ListFolderFiles(relativeRoot);
    relative.sort();
    ASSERT_EQ(relative.size(), 2);
    EXPECT_TRUE(relative.contains(relativeRoot + "/a.xlsx"));
    EXPECT_TRUE(relative.contains(root + "/sub/b.xlsx"));
}

TEST(FolderWalk, HiddenFilesYesHiddenFoldersNoFileLinksNoFolderLinksYes)
{
    QTemporaryDir tmp;
    QTemporaryDir elsewhere;
    const QString root = tmp.path();
    QDir(root).mkpath(".hidden");
    QDir(root).mkpath("real");
    touch(root + "/.secret.xlsx");
    touch(root + "/.hidden/inside.xlsx");
    touch(root + "/real/r.xlsx");
    touch(elsewhere.path() + "/linked.xlsx");
    ASSERT_TRUE(QFile::link(root + "/real/r.xlsx", root + "/filelink.xlsx"));
    ASSERT_TRUE(QFile::link(elsewhere.path(), root + "/folderlink"));

    QStringList files = ListFolderFiles(root);
    files.sort();
    EXPECT_EQ(files,
              QStringList({root + "/.secret.xlsx", root + "/folderlink/linked.xlsx", root + "/real/r.xlsx"}));
}

TEST(FolderWalk, LinkCyclesEndAndEveryRealFolderAndFileIsListedOnce)
{
    QTemporaryDir tmp;
    const QString root = tmp.path();
    QDir(root).mkpath("a/b");
    QDir(root).mkpath("c");
    touch(root + "/top.xlsx");
    touch(root + "/a/b/deep.xlsx");
    touch(root + "/c/side.xlsx");
    ASSERT_TRUE(QFile::link(root, root + "/a/b/up"));        // back to the root
    ASSERT_TRUE(QFile::link(root + "/a", root + "/a/self")); // back to its own folder
    ASSERT_TRUE(QFile::link(root + "/c", root + "/a/toc"));  // to a sibling
    ASSERT_TRUE(QFile::link(root + "/c", root + "/alias"));  // and once more
    ASSERT_EQ(::link(QFile::encodeName(root + "/top.xlsx").constData(),
                     QFile::encodeName(root + "/a/b/hard.xlsx").constData()),
              0);

    QStringList files = ListFolderFiles(root);
    files.sort();
    // c is reached three ways and listed under whichever came first; the hard link is the
    // same file as top.xlsx.
    ASSERT_EQ(files.size(), 3) << files.join(' ').toStdString();
    EXPECT_EQ(files.filter("side.xlsx").size(), 1);
    EXPECT_TRUE(files.contains(root + "/a/b/deep.xlsx"));
    EXPECT_EQ(files.filter(QRegularExpression("/(top|hard)\\.xlsx$")).size(), 1);
}

// Two links per level to the next level: walking each path anew would list the one file
// 2^levels times and take ever longer.
TEST(FolderWalk, NestsOfLinksListEachFileOnce)
{
    QTemporaryDir tmp;
    const QString root = tmp.path();
    const int levels = 16;
    for (int i = 0; i < levels; ++i) {
        const QString level = root + QStringLiteral("/r%1").arg(i);
        QDir(root).mkpath(level);
        touch(level + "/book.xlsx");
        if (i == 0)
            continue;
        for (const char* name : {"/one", "/two"}) {
            ASSERT_TRUE(QFile::link(level, root + QStringLiteral("/r%1").arg(i - 1) + name));
        }
    }
    EXPECT_EQ(ListFolderFiles(root + "/r0").size(), levels);
}

TEST(FolderWalk, MissingOrEmptyFolderListsNothing)
{
    EXPECT_TRUE(ListFolderFiles(QString()).isEmpty());
    EXPECT_TRUE(ListFolderFiles("/nonexistent/corvane/folder").isEmpty());
}

TEST(WorkbookTest, EndingsAnyCaseAndNoLockMarkAnywhere)
{
    for (const char* yes : {"/d/a.xls", "/d/REPORT.XLSX", "/d/report.Xlsm", "/d/x.y.xlsx"})
        EXPECT_TRUE(isWorkbookPath(QString::fromUtf8(yes))) << yes;
    for (const char* no :
         {"/d/a.xlsb", "/d/a.csv", "/d/a.xls.bak", "/d/~$a.xlsx", "/d/~$old/a.xlsx", "/d/x~$y/a.xls",
          "/d/xlsx", "/d/.corvane-save-ABCDEF.xls", "/d/包含内容并成功修改的文件目录.txt"})
        EXPECT_FALSE(isWorkbookPath(QString::fromUtf8(no))) << no;
}
