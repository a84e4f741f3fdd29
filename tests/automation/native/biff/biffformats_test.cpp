// What a number cell of an Excel 97-2003 workbook shows to a search in values: the cell's XF, the
// workbook's FORMAT records and its date system, read by python3-xlrd (biff_number_formats.py),
// must lead the engine to the text the number-format renderer gives for that code; and the texts
// of workbooks made for the purpose must be LibreOffice's, but for the differences listed in
// biffformats_known_differences.tsv.
#include "automation/native/biff/biffsheet.h"
#include "automation/native/biff/biffworkbook.h"
#include "automation/native/text/numberformat.h"
#include "workbooktest.h"

#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>

using namespace corvane::automation;
using namespace corvane::automation::native;

namespace {

struct ListedCell
{
    QString file;
    int sheet = 0;
    int row = 0;
    int column = 0;
    double value = 0;
    int formatId = 0;
    QString code; // the workbook's FORMAT record; empty for a built-in format
    bool date1904 = false;
    QString office; // null without LibreOffice's text
};

QString unescaped(const QString& s)
{
    QString out;
    for (int i = 0; i < s.size(); ++i) {
        if (s[i] != QLatin1Char('\\') || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const QChar c = s[++i];
        out += c == QLatin1Char('t')   ? QChar('\t')
               : c == QLatin1Char('n') ? QChar('\n')
               : c == QLatin1Char('r') ? QChar('\r')
                                       : c;
    }
    return out;
}

// Runs biff_number_formats.py with `arguments`; false with the reason to skip.
bool runScript(const QStringList& arguments, QByteArray* out, QString* why)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(qEnvironmentVariable("CORVANE_PYTHON", QStringLiteral("/usr/bin/python3")),
            QStringList{QStringLiteral(CORVANE_BIFF_NUMBER_FORMATS)} + arguments);
    if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit) {
        *why = QStringLiteral("biff_number_formats.py did not finish");
        ADD_FAILURE() << why->toStdString();
        return false;
    }
    if (p.exitCode() == 3) {
        *why = QStringLiteral("python3-xlrd or python3-xlwt missing");
        return false;
    }
    if (p.exitCode() != 0) {
        *why = QStringLiteral("biff_number_formats.py failed");
        ADD_FAILURE() << why->toStdString();
        return false;
    }
    *out = p.readAllStandardOutput();
    return true;
}

std::vector<ListedCell> parseCells(const QByteArray& listing)
{
    std::vector<ListedCell> cells;
    for (const QString& line : QString::fromUtf8(listing).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList c = line.split(QLatin1Char('\t'));
        if (c.size() < 9)
            continue;
        ListedCell cell{c[0],
                        c[1].toInt(),
                        c[2].toInt(),
                        c[3].toInt(),
                        c[4].toDouble(),
                        c[5].toInt(),
                        c[6] == QLatin1String("-") ? QString() : unescaped(c[6]),
                        c[7] == QLatin1String("1"),
                        c[8] == QLatin1String("-") ? QString() : unescaped(c[8])};
        cells.push_back(cell);
    }
    return cells;
}

// The engine's text of each listed cell, from the workbooks in `folder`.
class EngineTexts
{
public:
    explicit EngineTexts(const QString& folder) : m_folder(folder) {}

    std::optional<QString> text(const ListedCell& cell)
    {
        if (m_refused.count(cell.file))
            return std::nullopt;
        auto& book = m_books[cell.file];
        if (!book) {
            // Cell work opens every workbook the engine reads, whatever its formulas.
            book = std::make_unique<biff::BiffWorkbook>();
            if (!book->open(QDir(m_folder).filePath(cell.file), WorkKind::CellText)) {
                m_refused.insert(cell.file); // older formats and encrypted ones, which xlrd reads
                return std::nullopt;
            }
        }
        auto* sheet = static_cast<biff::BiffSheet*>(book->sheet(cell.sheet + 1));
        if (!sheet)
            return std::nullopt;
        return sheet->text(CellAddress{cell.row + 1, cell.column + 1});
    }

private:
    QString m_folder;
    std::map<QString, std::unique_ptr<biff::BiffWorkbook>> m_books;
    std::set<QString> m_refused;
};

// The renderer on the code xlrd found for the cell: the workbook's own, else the built-in one.
QString rendered(const ListedCell& cell)
{
    const QString code = cell.code.isNull() ? builtinFormatCode(cell.formatId) : cell.code;
    if (code.isEmpty())
        return generalDisplayText(cell.value);
    const NumberFormat format(code);
    return format.isGeneral() ? generalDisplayText(cell.value) : format.format(cell.value, cell.date1904);
}

QString where(const ListedCell& c)
{
    return QStringLiteral("%1 sheet %2 R%3C%4 (%5, format %6 %7)")
        .arg(c.file)
        .arg(c.sheet + 1)
        .arg(c.row + 1)
        .arg(c.column + 1)
        .arg(c.value, 0, 'g', 17)
        .arg(c.formatId)
        .arg(c.code);
}

} // namespace

// Made workbooks in both date systems, and number cells of every corpus workbook.
TEST(BiffNumberFormats, CellsShowThroughTheirFormatAndDateSystem)
{
    QTemporaryDir made;
    ASSERT_TRUE(made.isValid());
    QByteArray listing;
    QString why;
    if (!runScript({QStringLiteral("make"), made.path()}, &listing, &why))
        GTEST_SKIP() << why.toStdString();
    ASSERT_TRUE(runScript({QStringLiteral("list"), made.filePath(QStringLiteral("formats.xls")),
                           made.filePath(QStringLiteral("formats1904.xls"))},
                          &listing, &why));
    const std::vector<ListedCell> madeCells = parseCells(listing);
    ASSERT_GT(madeCells.size(), 40u);
    EngineTexts madeTexts(made.path());
    for (const ListedCell& cell : madeCells)
        EXPECT_EQ(madeTexts.text(cell).value_or(QStringLiteral("(not opened)")), rendered(cell))
            << where(cell).toStdString();
    // The first cell is 2024-03-05 counted from 1900, and four years and a day later from 1904.
    EXPECT_EQ(madeTexts.text(madeCells.front()), QStringLiteral("2024-03-05"));
    const ListedCell first1904 =
        *std::find_if(madeCells.begin(), madeCells.end(), [](const ListedCell& c) { return c.date1904; });
    EXPECT_EQ(madeTexts.text(first1904), QStringLiteral("2028-03-06"));
    // A search in values finds what the cell shows, not the serial behind it.
    biff::BiffWorkbook book;
    ASSERT_TRUE(book.open(made.filePath(QStringLiteral("formats.xls")), WorkKind::FindReplace));
    Sheet* sheet = book.sheet(1);
    const RangeAddress all = sheet->usedRange().value_or(RangeAddress{1, 1, 1, 1});
    EXPECT_EQ(sheet->find(all, FindQuery{QStringLiteral("2024-03-05"), LookIn::Values, LookAt::Whole}),
              (CellAddress{1, 1}));
    EXPECT_EQ(sheet->find(all, FindQuery{QStringLiteral("45356"), LookIn::Values, LookAt::Part}),
              std::nullopt);

    const QString corpus = corvane::testing::corpusDir();
    if (corpus.isEmpty())
        GTEST_SKIP() << "no corpus (CORVANE_CORPUS_DIR)";
    QStringList arguments{QStringLiteral("list"), QStringLiteral("--per-file"), QStringLiteral("300")};
    for (const QString& name : QDir(corpus).entryList({"*.xls", "*.XLS"}, QDir::Files, QDir::Name))
        arguments << QDir(corpus).filePath(name);
    ASSERT_TRUE(runScript(arguments, &listing, &why));
    const std::vector<ListedCell> corpusCells = parseCells(listing);
    EngineTexts corpusTexts(corpus);
    int compared = 0;
    std::set<QString> files;
    for (const ListedCell& cell : corpusCells) {
        const std::optional<QString> text = corpusTexts.text(cell);
        if (!text)
            continue; // a workbook the engine does not read
        ++compared;
        files.insert(cell.file);
        EXPECT_EQ(*text, rendered(cell)) << where(cell).toStdString();
    }
    std::printf("number-formatted cells compared: %d made, %d in %d corpus workbooks\n",
                int(madeCells.size()), compared, int(files.size()));
    EXPECT_GT(compared, 1000) << "the corpus lost its formatted numbers";
}

// LibreOffice (zh-CN locale) shows the made workbooks' cells as the engine does, but for the
// differences listed by format.
TEST(BiffNumberFormats, MadeWorkbooksShowAsInLibreOffice)
{
    if (qEnvironmentVariable("CORVANE_SOFFICE").isEmpty())
        GTEST_SKIP() << "no LibreOffice (CORVANE_SOFFICE)";
    QTemporaryDir made;
    ASSERT_TRUE(made.isValid());
    QByteArray listing;
    QString why;
    if (!runScript({QStringLiteral("make"), made.path()}, &listing, &why))
        GTEST_SKIP() << why.toStdString();
    ASSERT_TRUE(runScript({QStringLiteral("list"), QStringLiteral("--office"),
                           made.filePath(QStringLiteral("formats.xls")),
                           made.filePath(QStringLiteral("formats1904.xls"))},
                          &listing, &why));
    // format id or code<TAB>kind<TAB>why
    std::map<QString, QString> known;
    for (const QStringList& c : corvane::testing::readTsv(QStringLiteral(CORVANE_BIFF_FORMATS_KNOWN))) {
        if (c.size() >= 2)
            known[c[0]] = c[1];
    }
    EngineTexts texts(made.path());
    int compared = 0, agreeing = 0;
    std::map<QString, int> byKind;
    for (const ListedCell& cell : parseCells(listing)) {
        if (cell.office.isNull())
            continue;
        ++compared;
        const QString engine = texts.text(cell).value_or(QStringLiteral("(none)"));
        const QString format = cell.code.isNull() ? QString::number(cell.formatId) : cell.code;
        const auto listed = known.find(format);
        if (engine == cell.office) {
            ++agreeing;
            continue;
        }
        if (listed != known.end())
            ++byKind[listed->second];
        else
            ADD_FAILURE() << where(cell).toStdString() << ": engine \"" << engine.toStdString()
                          << "\", LibreOffice \"" << cell.office.toStdString() << "\"";
    }
    std::printf("cells compared with LibreOffice: %d, agreeing %d\n", compared, agreeing);
    for (const auto& [kind, n] : byKind)
        std::printf("  known difference (%s): %d\n", qPrintable(kind), n);
    EXPECT_GT(compared, 40);
}
