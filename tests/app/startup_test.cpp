#include "app/startup.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace corvane::app;

TEST(StartupPaths, ExeFolderIsCutAfterTheLastSeparator)
{
    EXPECT_EQ(exeFolderOf(QStringLiteral("/opt/corvane/bin/Corvane")), QStringLiteral("/opt/corvane/bin/"));
    EXPECT_EQ(exeFolderOf(QStringLiteral("./Corvane")), QStringLiteral("./"));
    EXPECT_EQ(exeFolderOf(QStringLiteral("Corvane")), QString());
    EXPECT_EQ(exeFolderOf(QString()), QString());
}

TEST(StartupPaths, SettingsMoveToTheConfigurationFolderWhenTheProgramFolderIsUnusable)
{
    const QString config = QStringLiteral("/home/u/.config/Corvane");
    EXPECT_EQ(settingsFilePathFor(QStringLiteral("/opt/c/"), true, config),
              QStringLiteral("/opt/c/Corvane.qrt"));
    EXPECT_EQ(settingsFilePathFor(QStringLiteral("/usr/bin/"), false, config),
              QStringLiteral("/home/u/.config/Corvane/Corvane.qrt"));
    EXPECT_EQ(settingsFilePathFor(QString(), false, config),
              QStringLiteral("/home/u/.config/Corvane/Corvane.qrt"));
    // Without a configuration folder the working directory is the last resort.
    EXPECT_EQ(settingsFilePathFor(QString(), false, QString()), QStringLiteral("Corvane.qrt"));
}

TEST(StartupPaths, DerivedFromTheArgumentVector)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray program = QFile::encodeName(dir.filePath(QStringLiteral("Corvane")));
    const char* argv[] = {program.constData(), "-autorun", "ignored"};

    const StartupPaths paths = deriveStartupPaths(3, argv, QStringLiteral("/cfg"));
    EXPECT_EQ(paths.startArgument, QByteArray("-autorun"));
    EXPECT_EQ(paths.exeFolder, dir.path() + QLatin1Char('/'));
    EXPECT_EQ(paths.settingsFilePath, dir.filePath(QStringLiteral("Corvane.qrt")));

    const char* throughPath[] = {"Corvane"};
    const StartupPaths fromPath = deriveStartupPaths(1, throughPath, QStringLiteral("/cfg"));
    EXPECT_TRUE(fromPath.startArgument.isEmpty());
    EXPECT_TRUE(fromPath.exeFolder.isEmpty());
    EXPECT_EQ(fromPath.settingsFilePath, QStringLiteral("/cfg/Corvane.qrt"));
}

TEST(StartupPaths, ReadOnlyProgramFolderUsesTheConfigurationFolder)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write into any folder, so no folder is read-only for this test";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const QByteArray program = QFile::encodeName(dir.filePath(QStringLiteral("Corvane")));
    const char* argv[] = {program.constData()};
    EXPECT_EQ(deriveStartupPaths(1, argv, QStringLiteral("/cfg")).settingsFilePath,
              QStringLiteral("/cfg/Corvane.qrt"));
    QFile::setPermissions(dir.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST(StartupPaths, OnlyTheExactAutorunWordStartsHidden)
{
    EXPECT_TRUE(startsHidden("-autorun"));
    EXPECT_FALSE(startsHidden("-AUTORUN"));
    EXPECT_FALSE(startsHidden("-autorun2"));
    EXPECT_FALSE(startsHidden(" -autorun"));
    EXPECT_FALSE(startsHidden(QByteArray()));
}
