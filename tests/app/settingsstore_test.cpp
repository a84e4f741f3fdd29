// The settings file is read and written byte for byte; these cases are the ones where a
// plausible implementation goes wrong.
#include "app/settingsstore.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using corvane::app::SaveMode;
using corvane::app::SettingsStore;

namespace {

class SettingsStoreTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString path() const { return m_dir.filePath(QStringLiteral("Corvane.qrt")); }

    void writeFile(const QByteArray& bytes) const
    {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    QByteArray readFile() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    SettingsStore loaded(const QByteArray& bytes) const
    {
        writeFile(bytes);
        SettingsStore store(path());
        EXPECT_TRUE(store.load());
        return store;
    }

    QTemporaryDir m_dir;
};

TEST_F(SettingsStoreTest, ReadsValuesTrimmedOfSpacesAndTabs)
{
    const SettingsStore store = loaded("sourcePath=D:\\work\\\r\npicPath=D:\\p.png\r\n");
    EXPECT_EQ(store.value("sourcePath"), QByteArray("D:\\work\\"));
    EXPECT_EQ(store.value("picPath"), QByteArray("D:\\p.png"));

    const SettingsStore spaced = loaded("sourcePath=  D:\\work\\ \t \r\n");
    EXPECT_EQ(spaced.value("sourcePath"), QByteArray("D:\\work\\"));
}

TEST_F(SettingsStoreTest, ValueWithoutLineEndOrKeyIsEmpty)
{
    EXPECT_EQ(loaded("sourcePath=D:\\work\\").value("sourcePath"), QByteArray());
    EXPECT_EQ(loaded("sourcePath=D:\\work\\\n").value("sourcePath"), QByteArray());
    EXPECT_EQ(loaded("picPath=x\r\n").value("sourcePath"), QByteArray());
    EXPECT_EQ(loaded("SourcePath=x\r\n").value("sourcePath"), QByteArray());
}

TEST_F(SettingsStoreTest, NameIsFoundAnywhereNotOnlyAtALineStart)
{
    const SettingsStore store = loaded("oldsourcePath=x\r\nsourcePath=y\r\n");
    EXPECT_EQ(store.value("sourcePath"), QByteArray("x"));
}

TEST_F(SettingsStoreTest, TextEndsAtTheFirstZeroByte)
{
    const SettingsStore store = loaded(QByteArray("a=1\r\n\0sourcePath=x\r\n", 21));
    EXPECT_EQ(store.text(), QByteArray("a=1\r\n"));
    EXPECT_EQ(store.value("sourcePath"), QByteArray());
}

TEST_F(SettingsStoreTest, MissingFileLeavesTheStoreEmpty)
{
    SettingsStore store(path());
    EXPECT_FALSE(store.load());
    EXPECT_TRUE(store.text().isEmpty());
    EXPECT_EQ(store.value("sourcePath"), QByteArray());
}

TEST_F(SettingsStoreTest, SetAppendsOrReplacesInPlace)
{
    SettingsStore empty(path());
    ASSERT_TRUE(empty.setValue("sourcePath", "D:\\a\\"));
    EXPECT_EQ(empty.text(), QByteArray("sourcePath=D:\\a\\\r\n"));

    SettingsStore unterminated = loaded("other=1");
    ASSERT_TRUE(unterminated.setValue("sourcePath", "D:\\a\\"));
    EXPECT_EQ(unterminated.text(), QByteArray("other=1\r\nsourcePath=D:\\a\\\r\n"));

    SettingsStore middle = loaded("first=1\r\nsourcePath=D:\\long\\path\\\r\n\r\nlast=3\r\n");
    ASSERT_TRUE(middle.setValue("sourcePath", "E:\\"));
    EXPECT_EQ(middle.text(), QByteArray("first=1\r\nsourcePath=E:\\\r\n\r\nlast=3\r\n"));

    // A hand-edited last entry without its line end is rewritten whole, with one.
    SettingsStore handEdited = loaded("a=1\r\nsourcePath=D:\\old");
    ASSERT_TRUE(handEdited.setValue("sourcePath", "D:\\new\\"));
    EXPECT_EQ(handEdited.text(), QByteArray("a=1\r\nsourcePath=D:\\new\\\r\n"));
    EXPECT_EQ(handEdited.value("sourcePath"), QByteArray("D:\\new\\"));
}

TEST_F(SettingsStoreTest, SaveWritesExactlyTheTextInBothModes)
{
    SettingsStore store = loaded("sourcePath=D:\\a very long folder name\\\r\npicPath=p.png\r\n");
    ASSERT_TRUE(store.setValue("sourcePath", "D:\\b\\"));
    ASSERT_TRUE(store.save(SaveMode::UpdateExisting));
    EXPECT_EQ(readFile(), QByteArray("sourcePath=D:\\b\\\r\npicPath=p.png\r\n"));

    writeFile("something much longer than the store's text, which must not survive\r\n");
    ASSERT_TRUE(store.save(SaveMode::CreateOrTruncate));
    EXPECT_EQ(readFile(), store.text());
}

TEST_F(SettingsStoreTest, UpdateModeNeverCreatesTheFile)
{
    SettingsStore store(path());
    ASSERT_TRUE(store.setValue("sourcePath", "D:\\"));
    EXPECT_FALSE(store.save(SaveMode::UpdateExisting));
    EXPECT_FALSE(QFile::exists(path()));
    EXPECT_TRUE(store.save(SaveMode::CreateOrTruncate));
    EXPECT_EQ(readFile(), QByteArray("sourcePath=D:\\\r\n"));
}

TEST_F(SettingsStoreTest, CreateModeMakesAMissingConfigurationFolder)
{
    SettingsStore store(m_dir.filePath(QStringLiteral("config/Corvane/Corvane.qrt")));
    ASSERT_TRUE(store.setValue("picPath", "/p.png"));
    ASSERT_TRUE(store.save(SaveMode::CreateOrTruncate));
    QFile file(store.filePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("picPath=/p.png\r\n"));
}

TEST_F(SettingsStoreTest, OversizedFileIsRefusedAndNeverOverwritten)
{
    QByteArray big = "sourcePath=D:\\\r\n";
    big += QByteArray(SettingsStore::kMaxTextBytes + 1 - big.size(), 'x');
    writeFile(big);
    SettingsStore store(path());
    EXPECT_FALSE(store.load());
    EXPECT_TRUE(store.text().isEmpty());
    EXPECT_FALSE(store.setValue("sourcePath", "E:\\"));
    EXPECT_FALSE(store.save(SaveMode::CreateOrTruncate));
    EXPECT_EQ(readFile(), big);

    // One byte less fits exactly.
    big.chop(1);
    writeFile(big);
    EXPECT_TRUE(store.load());
    EXPECT_EQ(store.value("sourcePath"), QByteArray("D:\\"));
}

TEST_F(SettingsStoreTest, TextNeverOutgrowsTheStore)
{
    QByteArray nearlyFull = QByteArray(SettingsStore::kMaxTextBytes - 20, 'x') + "\r\n";
    SettingsStore store = loaded(nearlyFull);
    EXPECT_FALSE(store.setValue("sourcePath", "D:\\a long enough folder\\"));
    EXPECT_EQ(store.text(), nearlyFull);
    EXPECT_TRUE(store.setValue("k", "v"));
    EXPECT_LE(store.text().size(), SettingsStore::kMaxTextBytes);
}

TEST_F(SettingsStoreTest, ValueLimitsAndLineBreaksAreRefusedWhole)
{
    SettingsStore store(path());
    const QByteArray longest(SettingsStore::kMaxValueBytes, 'v');
    EXPECT_TRUE(store.setValue("a", longest));
    EXPECT_EQ(store.value("a"), longest);
    EXPECT_FALSE(store.setValue("b", longest + 'v'));
    EXPECT_FALSE(store.setValue("c", "one\r\nc=two"));
    EXPECT_FALSE(store.setValue("d", "one\ntwo"));
    EXPECT_FALSE(store.setValue(QByteArray(), "x"));
    EXPECT_EQ(store.text(), QByteArray("a=") + longest + "\r\n");

    // A hand-made file may hold a longer value: it is not delivered cut short.
    const SettingsStore tooLong =
        loaded("sourcePath=" + QByteArray(SettingsStore::kMaxValueBytes + 1, 'v') + "\r\n");
    EXPECT_EQ(tooLong.value("sourcePath"), QByteArray());
}

} // namespace
