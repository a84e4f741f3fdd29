// The result lists are shown through the text opener; an override lets tests record the call
// instead of starting an editor.
#include "platform/textopener.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

using namespace corvane::platform;

TEST(TextOpener, RunsTheOverrideWithThePathAsOneArgument)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString record = dir.filePath(QStringLiteral("record.txt"));
    const QString recorder = dir.filePath(QStringLiteral("recorder.sh"));
    {
        QFile script(recorder);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > \"$0.tmp\" && mv \"$0.tmp\" " +
                     QFile::encodeName(record) + "\n");
        script.close();
        ASSERT_TRUE(script.setPermissions(script.permissions() | QFileDevice::ExeOwner));
    }
    const QString listPath = dir.filePath(QStringLiteral("包含内容并成功修改的 文件目录.txt"));

    ::setenv(kTextOpenerVariable, QFile::encodeName(recorder).constData(), 1);
    openTextFile(listPath);
    ::unsetenv(kTextOpenerVariable);

    for (int i = 0; i < 500 && !QFile::exists(record); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    QFile result(record);
    ASSERT_TRUE(result.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(result.readAll()), QStringLiteral("1|") + listPath);
}
