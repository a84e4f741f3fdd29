#include "jobs/joboptions.h"
#include "jobs/launch.h"
#include "jobs/resultlists.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextCodec>

#include <gtest/gtest.h>

using namespace corvane::jobs;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void touch(const QString& path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("old run");
}

// Restores the process's locale codec after a test that changes it.
struct LocaleCodec
{
    QTextCodec* saved = QTextCodec::codecForLocale();
    explicit LocaleCodec(const char* name) { QTextCodec::setCodecForLocale(QTextCodec::codecForName(name)); }
    ~LocaleCodec() { QTextCodec::setCodecForLocale(saved); }
};

} // namespace

TEST(ResultLists, PathsArePlainConcatenations)
{
    JobOptions o;
    o.sourcePath = "/data/";
    setListPaths(o);
    EXPECT_EQ(o.openFailedListPath, QStringLiteral("/data/无法打开修改的文件目录(文件格式有误).txt"));
    EXPECT_EQ(o.matchedListPath, QStringLiteral("/data/包含内容并成功修改的文件目录.txt"));
    EXPECT_EQ(o.unmatchedListPath, QStringLiteral("/data/不包含内容无修改的文件目录.txt"));
    o.sourcePath = "/data";
    setListPaths(o);
    EXPECT_EQ(o.matchedListPath, QStringLiteral("/data包含内容并成功修改的文件目录.txt"));
}

TEST(ResultLists, LaunchDeletesOnlyThisFoldersListsBeforeTheFolderTest)
{
    QTemporaryDir tmp;
    const QString parent = tmp.path() + "/";
    QDir(tmp.path()).mkpath("books");
    // Lists of a run on "books/" (inside) and of a run on "books" typed without a separator
    // (beside it), plus an unrelated text file.
    JobOptions inside;
    inside.sourcePath = parent + "books/";
    setListPaths(inside);
    JobOptions beside;
    beside.sourcePath = parent + "books";
    setListPaths(beside);
    for (const QString& p : {inside.openFailedListPath, inside.matchedListPath, inside.unmatchedListPath,
                             beside.matchedListPath})
        touch(p);
    touch(parent + "books/notes.txt");

    JobOptions launch;
    launch.sourcePath = parent + "books/";
    EXPECT_TRUE(prepareRun(launch));
    EXPECT_FALSE(QFile::exists(inside.openFailedListPath));
    EXPECT_FALSE(QFile::exists(inside.matchedListPath));
    EXPECT_FALSE(QFile::exists(inside.unmatchedListPath));
    EXPECT_TRUE(QFile::exists(beside.matchedListPath));
    EXPECT_TRUE(QFile::exists(parent + "books/notes.txt"));

    // A missing folder is refused, but only after its lists were deleted: typed without a
    // separator, its lists lie beside it and can exist although it does not.
    JobOptions missing;
    missing.sourcePath = parent + "gone";
    setListPaths(missing);
    touch(missing.unmatchedListPath);
    EXPECT_FALSE(prepareRun(missing));
    EXPECT_FALSE(QFile::exists(missing.unmatchedListPath));

    JobOptions besideLaunch;
    besideLaunch.sourcePath = parent + "books";
    EXPECT_TRUE(prepareRun(besideLaunch));
    EXPECT_FALSE(QFile::exists(beside.matchedListPath));
}

TEST(ResultLists, FolderTestRefusesEmptyPathsAndFiles)
{
    QTemporaryDir tmp;
    touch(tmp.path() + "/file.xlsx");
    JobOptions o;
    EXPECT_FALSE(prepareRun(o));
    o.sourcePath = tmp.path() + "/file.xlsx";
    EXPECT_FALSE(prepareRun(o));
    o.sourcePath = tmp.path();
    EXPECT_TRUE(prepareRun(o));
    o.sourcePath = tmp.path() + "/";
    EXPECT_TRUE(prepareRun(o));
}

TEST(ResultLists, WrittenInTheLocaleEncodingWithCrLfOnEveryLine)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/" + matchedListName();
    const QString text = QStringLiteral("/书/甲.xlsx\n/b.xls\n");
    {
        LocaleCodec gbk("GBK");
        ASSERT_TRUE(writeResultList(path, text));
        // 书 is CA E9 and 甲 is BC D7 in GBK; no byte-order mark.
        EXPECT_EQ(readAll(path), QByteArray("/\xCA\xE9/\xBC\xD7.xlsx\r\n/b.xls\r\n"));
    }
    {
        LocaleCodec utf8("UTF-8");
        // A shorter list replaces the earlier content whole.
        ASSERT_TRUE(writeResultList(path, QStringLiteral("/书.xls\n")));
        EXPECT_EQ(readAll(path), QByteArray("/\xE4\xB9\xA6.xls\r\n"));
    }
    QString error;
    EXPECT_FALSE(writeResultList(tmp.path() + "/no/such/folder/list.txt", text, &error));
    EXPECT_FALSE(error.isEmpty());
    // A full disk takes the open and the buffered write; only the flush finds out.
    error.clear();
    EXPECT_FALSE(writeResultList(QStringLiteral("/dev/full"), text, &error));
    EXPECT_FALSE(error.isEmpty());
}
