// What the engine's tests on real workbooks share: a temporary folder with copies in it, opening
// through the engine, and running the independent readers (python3 with openpyxl, headless
// LibreOffice) over what the engine wrote. Apart from workbookfixture.h, which needs no engine.
#pragma once

#include "automation/native/nativeserver.h"
#include "automation/workbook.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace corvane::testing {

// The shared corpus folder (CORVANE_CORPUS_DIR); empty when it is not there.
QString corpusDir();
// Copies `source` over `target` and lets the owner write the copy: corpus files are read-only.
bool copyWorkbook(const QString& source, const QString& target);

// The lines of a tab-separated list, split into columns; empty lines and # comments left out.
std::vector<QStringList> readTsv(const QString& path);
// The texts of a JSON array.
QStringList strings(const QJsonValue& array);

// Opens `file` through a fresh engine, applies `change` and saves: empty when all went well,
// else the engine's reason (the open's and the save's with "not opened: ", "not saved: ").
QString changeAndSave(const QString& file, const std::function<bool(automation::Workbook&)>& change);

class WorkbookTest : public ::testing::Test
{
protected:
    void SetUp() override;

    QString path(const QString& name) const { return m_dir.path() + QLatin1Char('/') + name; }
    // Opens `file` through the engine; a refusal is a test failure with the engine's reason.
    std::unique_ptr<automation::Workbook> open(const QString& file);

    // Converts `file` with headless LibreOffice (CORVANE_SOFFICE) into `outDir`, with a profile
    // of the test's own. False when it did not finish within `timeout` ms; `errors` takes what
    // LibreOffice wrote to its error channel.
    bool officeConvert(const QString& file, const QString& outDir,
                       const QString& filter = QStringLiteral("csv"), int timeout = 240000,
                       QString* errors = nullptr);
    // The first sheet as LibreOffice computes it, as CSV lines; empty without LibreOffice.
    QStringList officeFirstSheet(const QString& file);

    // Runs python3 (CORVANE_PYTHON) with `arguments`, `input` on its standard input; it must
    // start, end within `timeout` ms and exit with 0. What it printed.
    QByteArray python(const QStringList& arguments, const QByteArray& input = {}, int timeout = 120000);

    QTemporaryDir m_dir;
    automation::native::NativeServer m_server;
    QString m_python; // empty when the build found no python3
};

// For the tests that read back with openpyxl: skipped without python3.
class OpenpyxlTest : public WorkbookTest
{
protected:
    void SetUp() override;
};

} // namespace corvane::testing
