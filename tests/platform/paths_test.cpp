#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvane::platform;

namespace {

class PathTests : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("数据 folder")));
        QFile file(m_dir.filePath(QStringLiteral("表格.xlsx")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(QFile::link(m_dir.filePath(QStringLiteral("数据 folder")),
                                m_dir.filePath(QStringLiteral("link"))));
        ASSERT_TRUE(
            QFile::link(m_dir.filePath(QStringLiteral("gone")), m_dir.filePath(QStringLiteral("dangling"))));
    }

    QString path(const char* name) const { return m_dir.filePath(QString::fromUtf8(name)); }

    QTemporaryDir m_dir;
};

TEST_F(PathTests, PathExistsForAnyEntry)
{
    EXPECT_TRUE(PathExists(path("表格.xlsx")));
    EXPECT_TRUE(PathExists(path("数据 folder")));
    EXPECT_TRUE(PathExists(path("dangling"))); // the entry is there, though its target is not
    EXPECT_FALSE(PathExists(path("missing.xlsx")));
    EXPECT_FALSE(PathExists(QString()));
}

TEST_F(PathTests, FolderExistsOnlyForFolders)
{
    EXPECT_TRUE(FolderExists(path("数据 folder")));
    EXPECT_TRUE(FolderExists(path("数据 folder") + QLatin1Char('/')));
    EXPECT_TRUE(FolderExists(path("link")));
    EXPECT_TRUE(FolderExists(QStringLiteral("/")));
    EXPECT_FALSE(FolderExists(path("表格.xlsx")));
    EXPECT_FALSE(FolderExists(path("表格.xlsx") + QLatin1Char('/')));
    EXPECT_FALSE(FolderExists(path("dangling")));
    EXPECT_FALSE(FolderExists(path("missing")));
    EXPECT_FALSE(FolderExists(QString()));
}

} // namespace
