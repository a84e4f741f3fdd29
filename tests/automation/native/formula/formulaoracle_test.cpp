// LibreOffice as a second opinion on reference adjustment: it edits a generated workbook itself
// and every adjusted formula and name must point where ours do.
#include "automation/native/formula/formularewriter.h"
#include "automation/native/formula/formulatokenizer.h"
#include "automation/native/formula/sheetname.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <string>
#include <vector>

using namespace corvane::automation::native::formula;

namespace {

// What each reference of a formula points at, spelling aside: LibreOffice writes A1:A1048576
// as A:A, a 3-D single cell as B2:B2 and a lost reference as a bare #REF!.
std::vector<std::string> targets(const std::string& text)
{
    std::vector<std::string> out;
    Tokenizer tokenizer(text);
    Token token;
    while (tokenizer.next(token)) {
        if (token.kind == TokenKind::Error) {
            out.emplace_back(text, token.begin, token.end - token.begin);
            continue;
        }
        // Names are never adjusted; LibreOffice also drops the [0]! of names of the workbook itself.
        if (token.kind != TokenKind::Reference || token.reference.shape == ReferenceShape::Name)
            continue;
        const Reference& r = token.reference;
        int r1 = r.first.row, c1 = r.first.column, r2 = r.last.row, c2 = r.last.column;
        if (r.shape == ReferenceShape::Columns) {
            r1 = 1;
            r2 = 1048576;
        } else if (r.shape == ReferenceShape::Rows) {
            c1 = 1;
            c2 = 16384;
        }
        std::string sheet = unquoteSheetName(std::string(r.quoted ? "'" : "") + std::string(r.sheet) +
                                             std::string(r.quoted ? "'" : ""));
        if (r.isThreeD())
            sheet += ":" + std::string(r.lastSheet);
        for (char& c : sheet)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        out.push_back(sheet + "!" + std::to_string(r1) + "," + std::to_string(c1) + ":" + std::to_string(r2) +
                      "," + std::to_string(c2));
    }
    return out;
}

std::string unescape(const QByteArray& s)
{
    std::string out;
    for (int i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            const char c = s[++i];
            out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool parseEdit(const std::string& text, SheetEdit& edit)
{
    const std::size_t a = text.find(':');
    const std::size_t b = text.find(':', a + 1);
    if (a == std::string::npos || b == std::string::npos)
        return false;
    const std::string kind = text.substr(0, a);
    const int first = std::stoi(text.substr(a + 1, b - a - 1));
    const int count = std::stoi(text.substr(b + 1));
    if (kind == "delete-rows")
        edit = SheetEdit::deleteRows(first, count);
    else if (kind == "insert-rows")
        edit = SheetEdit::insertRows(first, count);
    else if (kind == "delete-columns")
        edit = SheetEdit::deleteColumns(first, count);
    else if (kind == "insert-columns")
        edit = SheetEdit::insertColumns(first, count);
    else
        return false;
    return true;
}

// Where we deliberately differ from LibreOffice. A difference that disappears fails the test too,
// so this list stays true.
struct KnownDifference
{
    const char* edit;
    const char* cell; // on sheet Other
    const char* reason;
};

constexpr KnownDifference kKnownDifferences[] = {
    {"delete-columns:2:1", "A301",
     "3-D reference spanning the edited sheet: LibreOffice turns it into #REF! when the column is deleted on "
     "one sheet of the span; the spreadsheet application adjusts 3-D references only for edits made on all "
     "its "
     "sheets at once, so we leave them"},
    {"delete-columns:2:1", "A302", "same 3-D rule, span starting at the edited sheet"},
};

const KnownDifference* knownDifference(const std::string& edit, const std::string& sheet,
                                       const std::string& cell)
{
    if (sheet != "Other")
        return nullptr;
    for (const KnownDifference& k : kKnownDifferences) {
        if (edit == k.edit && cell == k.cell)
            return &k;
    }
    return nullptr;
}

struct OracleLine
{
    std::string edit;
    std::string editedSheet;
    std::string homeSheet;
    std::string cell;
    std::string before;
    std::string libreOffice;
};

// Runs lo_edit_references.py with the given arguments; empty with a failure recorded when it
// cannot run.
std::vector<OracleLine> runLibreOffice(const QStringList& arguments)
{
    std::vector<OracleLine> lines;
    QProcess process;
    process.start(qEnvironmentVariable("CORVANE_PYTHON"),
                  QStringList{QDir(qEnvironmentVariable("CORVANE_TEST_TOOLS"))
                                  .filePath(QStringLiteral("lo_edit_references.py"))} +
                      arguments);
    if (!process.waitForFinished(300000)) {
        ADD_FAILURE() << "lo_edit_references.py did not finish";
        return lines;
    }
    if (process.exitCode() != 0) {
        ADD_FAILURE() << process.readAllStandardError().toStdString();
        return lines;
    }
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() == 6) {
            lines.push_back({f[0].toStdString(), f[1].toStdString(), f[2].toStdString(), f[3].toStdString(),
                             unescape(f[4]), unescape(f[5])});
        }
    }
    return lines;
}

bool libreOfficeAvailable()
{
    return !qEnvironmentVariable("CORVANE_PYTHON").isEmpty() &&
           !qEnvironmentVariable("CORVANE_TEST_TOOLS").isEmpty() &&
           !qEnvironmentVariable("CORVANE_SOFFICE").isEmpty();
}

std::string ours(const OracleLine& line, const std::vector<std::string>& sheetOrder)
{
    if (line.edit == "remove-sheet")
        return removeSheetFromFormula(line.before, line.editedSheet, sheetOrder, LostReferenceStyle::Bare);
    SheetEdit edit;
    if (!parseEdit(line.edit, edit)) {
        ADD_FAILURE() << "unknown edit " << line.edit;
        return {};
    }
    return adjustFormula(line.before, line.homeSheet, line.editedSheet, edit, LostReferenceStyle::Bare);
}

// Corpus workbooks with many formulas across sheets, names and shared formulas.
constexpr const char* kCorpusWorkbooks[] = {
    "sheetjs__formula_stress_test.xlsx",
    "poi__45544.xlsx",
    "poi__StructuredRefs-lots-with-lookups.xlsx",
    "poi__ConditionalFormattingSamples.xlsx",
    "poi__simple-monthly-budget.xlsx",
    "poi__mv-calculator-final-2-20-2013.xlsm",
    "sheetjs__named_ranges_2011.xlsx",
    "poi__xlookup.xlsx",
};

} // namespace

TEST(FormulaOracle, RowColumnAndSheetEditsPointWhereLibreOfficePoints)
{
    if (!libreOfficeAvailable())
        GTEST_SKIP()
            << "needs python with openpyxl and uno (CORVANE_PYTHON) and LibreOffice (CORVANE_SOFFICE)";
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    const std::vector<OracleLine> lines = runLibreOffice({work.path()});

    const std::vector<std::string> order = {"Other", "Data", "Third"};
    int compared = 0;
    int removals = 0;
    for (const OracleLine& line : lines) {
        const std::string result = ours(line, order);
        removals += line.edit == "remove-sheet";
        ++compared;
        if (const KnownDifference* known = knownDifference(line.edit, line.homeSheet, line.cell)) {
            EXPECT_NE(targets(result), targets(line.libreOffice))
                << "listed difference no longer differs: " << line.edit << " " << known->cell << " ("
                << known->reason << ")";
            continue;
        }
        EXPECT_EQ(targets(result), targets(line.libreOffice))
            << line.edit << " on " << line.homeSheet << "!" << line.cell << ": " << line.before
            << "\n  ours:        " << result << "\n  LibreOffice: " << line.libreOffice;
    }
    EXPECT_GT(compared, 2000);
    EXPECT_GT(removals, 300);
}

TEST(FormulaOracle, CorpusFormulasPointWhereLibreOfficePointsAfterRowAndColumnEdits)
{
    if (!libreOfficeAvailable())
        GTEST_SKIP()
            << "needs python with openpyxl and uno (CORVANE_PYTHON) and LibreOffice (CORVANE_SOFFICE)";
    const QDir corpus(qEnvironmentVariable("CORVANE_CORPUS_DIR"));
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    QStringList arguments{work.path()};
    for (const char* name : kCorpusWorkbooks) {
        const QString source = corpus.filePath(QString::fromUtf8(name));
        const QString copy = QDir(work.path()).filePath(QString::fromUtf8(name));
        if (QFile::exists(source) && QFile::copy(source, copy))
            arguments << copy;
    }
    if (arguments.size() == 1)
        GTEST_SKIP() << "corpus folder missing (CORVANE_CORPUS_DIR)";

    int compared = 0;
    for (const OracleLine& line : runLibreOffice(arguments)) {
        const std::string result = ours(line, {});
        EXPECT_EQ(targets(result), targets(line.libreOffice))
            << line.edit << " of " << line.editedSheet << ", on " << line.homeSheet << "!" << line.cell
            << ": " << line.before << "\n  ours:        " << result
            << "\n  LibreOffice: " << line.libreOffice;
        ++compared;
    }
    EXPECT_GT(compared, 10000);
}
