#include "workbooktest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QTextStream>

namespace corvane::testing {

QString corpusDir()
{
    const QString corpus = qEnvironmentVariable("CORVANE_CORPUS_DIR");
    return !corpus.isEmpty() && QDir(corpus).exists() ? corpus : QString();
}

bool copyWorkbook(const QString& source, const QString& target)
{
    QFile::remove(target);
    if (!QFile::copy(source, target))
        return false;
    return QFile::setPermissions(target,
                                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
}

std::vector<QStringList> readTsv(const QString& path)
{
    std::vector<QStringList> out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return out;
    QTextStream in(&f);
    in.setCodec("UTF-8");
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        out.push_back(line.split(QLatin1Char('\t')));
    }
    return out;
}

QStringList strings(const QJsonValue& array)
{
    QStringList out;
    for (const QJsonValue& v : array.toArray())
        out << v.toString();
    return out;
}

QString changeAndSave(const QString& file, const std::function<bool(automation::Workbook&)>& change)
{
    automation::native::NativeServer server;
    std::unique_ptr<automation::Workbook> book = server.open(file);
    if (!book)
        return QStringLiteral("not opened: ") + server.lastError();
    if (!change(*book))
        return book->lastError();
    if (!book->save())
        return QStringLiteral("not saved: ") + book->lastError();
    book->close();
    return {};
}

void WorkbookTest::SetUp()
{
    m_python = qEnvironmentVariable("CORVANE_PYTHON");
    ASSERT_TRUE(m_dir.isValid());
}

std::unique_ptr<automation::Workbook> WorkbookTest::open(const QString& file)
{
    auto wb = m_server.open(file);
    EXPECT_TRUE(wb) << m_server.lastError().toStdString();
    return wb;
}

bool WorkbookTest::officeConvert(const QString& file, const QString& outDir, const QString& filter,
                                 int timeout, QString* errors)
{
    QDir().mkpath(outDir);
    QProcess lo;
    lo.setWorkingDirectory(outDir);
    lo.start(qEnvironmentVariable("CORVANE_SOFFICE"),
             {QStringLiteral("-env:UserInstallation=file://") + path(QStringLiteral("profile")),
              QStringLiteral("--headless"), QStringLiteral("--convert-to"), filter,
              QStringLiteral("--outdir"), outDir, file});
    const bool finished = lo.waitForFinished(timeout);
    if (errors)
        *errors = QString::fromUtf8(lo.readAllStandardError());
    return finished;
}

QStringList WorkbookTest::officeFirstSheet(const QString& file)
{
    if (qEnvironmentVariable("CORVANE_SOFFICE").isEmpty())
        return {};
    const QString out = path(QStringLiteral("office"));
    QDir(out).removeRecursively();
    EXPECT_TRUE(officeConvert(file, out));
    QFile csv(out + QLatin1Char('/') + QFileInfo(file).completeBaseName() + QStringLiteral(".csv"));
    if (!csv.open(QIODevice::ReadOnly))
        return {QStringLiteral("<LibreOffice did not open it>")};
    return QString::fromUtf8(csv.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void OpenpyxlTest::SetUp()
{
    if (qEnvironmentVariable("CORVANE_PYTHON").isEmpty())
        GTEST_SKIP() << "no python3 with openpyxl (CORVANE_PYTHON)";
    WorkbookTest::SetUp();
}

QByteArray WorkbookTest::python(const QStringList& arguments, const QByteArray& input, int timeout)
{
    QProcess p;
    p.start(m_python, arguments);
    EXPECT_TRUE(p.waitForStarted());
    p.write(input);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(timeout));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return p.readAllStandardOutput();
}

} // namespace corvane::testing
