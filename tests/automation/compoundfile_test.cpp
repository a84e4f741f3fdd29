// Encryption in compound files, on the corpus's real binary workbooks and encrypted packages:
// every encryption Excel writes (XOR, RC4, RC4 CryptoAPI, encrypted packages) is found, and no
// plain binary workbook is taken for encrypted.
#include "automation/compoundfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using corvane::automation::compoundFileIsEncrypted;
using corvane::automation::isCompoundFile;

TEST(CompoundFile, FindsEveryEncryptionAndNoFalseOne)
{
    const QString corpus = qEnvironmentVariable("CORVANE_CORPUS_DIR");
    if (corpus.isEmpty() || !QDir(corpus).exists())
        GTEST_SKIP() << "corpus folder missing (CORVANE_CORPUS_DIR)";
    QFile manifest(corpus + QStringLiteral("/MANIFEST.tsv"));
    ASSERT_TRUE(manifest.open(QIODevice::ReadOnly));
    int encrypted = 0;
    int plain = 0;
    while (!manifest.atEnd()) {
        const QString line = QString::fromUtf8(manifest.readLine());
        const QString name = line.section(QLatin1Char('\t'), 0, 0);
        const QString path = corpus + QLatin1Char('/') + name;
        if (!QFile::exists(path) || !isCompoundFile(path))
            continue;
        const bool expected = line.contains(QStringLiteral("encrypted:"));
        EXPECT_EQ(compoundFileIsEncrypted(path), expected) << name.toStdString();
        (expected ? encrypted : plain) += 1;
    }
    EXPECT_GE(encrypted, 5);
    EXPECT_GE(plain, 20);
}

TEST(CompoundFile, TruncatedOrForeignFilesAreNotEncrypted)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("truncated.xls"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    // The magic and a header whose tables point far beyond the file's end.
    QByteArray header = QByteArray::fromHex("d0cf11e0a1b11ae1");
    header.append(QByteArray(512 - header.size(), '\xff'));
    header[0x1E] = 9;
    header[0x1F] = 0;
    header[0x20] = 6;
    header[0x21] = 0;
    f.write(header);
    f.close();
    EXPECT_TRUE(isCompoundFile(path));
    EXPECT_FALSE(compoundFileIsEncrypted(path));
}
