// Every formula and defined name of the real-world corpus pushed through the rewrites: texts must
// survive untouched when nothing moves, and edits that undo each other must give the text back.
#include "automation/native/formula/formularewriter.h"
#include "automation/native/formula/formulatokenizer.h"
#include "automation/native/formula/sheetname.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>
#include <zip.h>

#include <QDir>
#include <QProcess>
#include <QString>

#include <memory>
#include <string>
#include <vector>

using namespace corvane::automation::native::formula;

namespace {

struct CorpusFormula
{
    std::string file;
    std::string sheet; // home sheet name, empty for defined names
    std::string text;
};

std::string readEntry(zip_t* archive, const char* name)
{
    zip_stat_t st;
    if (zip_stat(archive, name, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
        return {};
    std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> file(zip_fopen(archive, name, 0), zip_fclose);
    if (!file)
        return {};
    std::string data(static_cast<std::size_t>(st.size), '\0');
    if (zip_fread(file.get(), data.data(), st.size) != static_cast<zip_int64_t>(st.size))
        return {};
    return data;
}

// Sheet name for each worksheet part, through workbook.xml and its relationships.
std::vector<std::pair<std::string, std::string>> sheetParts(zip_t* archive)
{
    std::vector<std::pair<std::string, std::string>> parts;
    pugi::xml_document workbook;
    pugi::xml_document rels;
    const std::string wb = readEntry(archive, "xl/workbook.xml");
    const std::string rl = readEntry(archive, "xl/_rels/workbook.xml.rels");
    if (!workbook.load_buffer(wb.data(), wb.size()) || !rels.load_buffer(rl.data(), rl.size()))
        return parts;
    for (const pugi::xml_node sheet : workbook.child("workbook").child("sheets").children("sheet")) {
        const char* id = sheet.attribute("r:id").value();
        for (const pugi::xml_node rel : rels.child("Relationships").children("Relationship")) {
            if (std::string(rel.attribute("Id").value()) != id)
                continue;
            std::string target = rel.attribute("Target").value();
            target = target.rfind("/xl/", 0) == 0 ? target.substr(1) : "xl/" + target;
            parts.emplace_back(sheet.attribute("name").value(), target);
        }
    }
    return parts;
}

std::vector<CorpusFormula> corpusFormulas(const QString& folder, int& workbooks)
{
    std::vector<CorpusFormula> all;
    const QStringList files =
        QDir(folder).entryList({QStringLiteral("*.xlsx"), QStringLiteral("*.xlsm")}, QDir::Files, QDir::Name);
    for (const QString& name : files) {
        const std::string path = QDir(folder).filePath(name).toStdString();
        int error = 0;
        std::unique_ptr<zip_t, void (*)(zip_t*)> archive(zip_open(path.c_str(), ZIP_RDONLY, &error),
                                                         zip_discard);
        if (!archive)
            continue;
        ++workbooks;
        for (const auto& [sheetName, part] : sheetParts(archive.get())) {
            const std::string xml = readEntry(archive.get(), part.c_str());
            pugi::xml_document doc;
            if (!doc.load_buffer(xml.data(), xml.size()))
                continue;
            for (const pugi::xml_node row : doc.child("worksheet").child("sheetData").children("row")) {
                for (const pugi::xml_node cell : row.children("c")) {
                    const char* text = cell.child("f").text().get();
                    if (*text)
                        all.push_back({path, sheetName, text});
                }
            }
        }
        pugi::xml_document workbook;
        const std::string wb = readEntry(archive.get(), "xl/workbook.xml");
        if (workbook.load_buffer(wb.data(), wb.size())) {
            for (const pugi::xml_node dn :
                 workbook.child("workbook").child("definedNames").children("definedName")) {
                if (*dn.text().get())
                    all.push_back({path, std::string(), dn.text().get()});
            }
        }
    }
    return all;
}

class FormulaCorpus : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        const QString folder = qEnvironmentVariable("CORVANE_CORPUS_DIR");
        if (folder.isEmpty() || !QDir(folder).exists())
            return;
        s_formulas = corpusFormulas(folder, s_workbooks);
    }

    void SetUp() override
    {
        if (s_formulas.empty())
            GTEST_SKIP() << "corpus folder missing (CORVANE_CORPUS_DIR) or without formulas";
    }

    static std::vector<CorpusFormula> s_formulas;
    static int s_workbooks;
};

std::vector<CorpusFormula> FormulaCorpus::s_formulas;
int FormulaCorpus::s_workbooks = 0;

int countRefErrors(const std::string& s)
{
    int n = 0;
    for (std::size_t p = s.find("#REF!"); p != std::string::npos; p = s.find("#REF!", p + 1))
        ++n;
    return n;
}

// References the application would never write in this spelling (lower case, reversed corners)
// come back normalised from a move and its inverse; those formulas are not expected to round-trip.
bool hasOnlyCanonicalReferences(const std::string& text)
{
    Tokenizer tokenizer(text);
    Token token;
    std::string written;
    while (tokenizer.next(token)) {
        if (token.kind != TokenKind::Reference)
            continue;
        const Reference& r = token.reference;
        written.clear();
        appendAddress(written, r.shape, r.first, r.last);
        const std::string_view address(text.data() + r.addressBegin, token.end - r.addressBegin);
        if (r.shape != ReferenceShape::Name && address != written)
            return false;
    }
    return true;
}

} // namespace

TEST_F(FormulaCorpus, EveryTextSurvivesAZeroMoveAndANoOpEdit)
{
    std::string out;
    for (const CorpusFormula& f : s_formulas) {
        std::size_t pos = 0;
        Tokenizer tokenizer(f.text);
        Token token;
        while (tokenizer.next(token)) {
            ASSERT_EQ(token.begin, pos) << f.file << ": " << f.text;
            pos = token.end;
        }
        EXPECT_EQ(pos, f.text.size()) << f.file << ": " << f.text;
        EXPECT_FALSE(translateFormula(f.text, 0, 0, out)) << f.file << ": " << f.text << " -> " << out;
        EXPECT_FALSE(removeSheetFromFormula(f.text, "No such sheet in any corpus workbook", {}, out))
            << f.text;
        // Rows and columns beyond everything any corpus formula refers to, inserted then deleted.
        EXPECT_FALSE(adjustFormula(f.text, f.sheet, "No such sheet", SheetEdit::deleteRows(3), out))
            << f.text;
    }
    std::cout << s_formulas.size() << " formulas and names from " << s_workbooks << " workbooks\n";
}

TEST_F(FormulaCorpus, MovesAndEditsThatUndoEachOtherGiveTheTextBack)
{
    int checked = 0;
    for (const CorpusFormula& f : s_formulas) {
        if (!hasOnlyCanonicalReferences(f.text))
            continue;
        const int errors = countRefErrors(f.text);
        const std::string moved = translateFormula(f.text, 3, 2);
        if (countRefErrors(moved) == errors) {
            EXPECT_EQ(translateFormula(moved, -3, -2), f.text) << f.file << " via " << moved;
        }

        const std::string sheet = f.sheet.empty() ? std::string("Sheet1") : f.sheet;
        const std::string grown = adjustFormula(f.text, f.sheet, sheet, SheetEdit::insertRows(7, 3));
        if (countRefErrors(grown) == errors) {
            EXPECT_EQ(adjustFormula(grown, f.sheet, sheet, SheetEdit::deleteRows(7, 3)), f.text)
                << f.file << " via " << grown;
        }
        const std::string wider = adjustFormula(f.text, f.sheet, sheet, SheetEdit::insertColumns(2, 2));
        if (countRefErrors(wider) == errors) {
            EXPECT_EQ(adjustFormula(wider, f.sheet, sheet, SheetEdit::deleteColumns(2, 2)), f.text)
                << f.file << " via " << wider;
        }
        ++checked;
    }
    EXPECT_GT(checked, 1000);
}

TEST_F(FormulaCorpus, RemovingEachHomeSheetLeavesNoReferenceToIt)
{
    for (const CorpusFormula& f : s_formulas) {
        if (f.sheet.empty())
            continue;
        const std::string removed = removeSheetFromFormula(f.text, f.sheet);
        Tokenizer tokenizer(removed);
        Token token;
        while (tokenizer.next(token)) {
            const Reference& r = token.reference;
            if (token.kind == TokenKind::Reference && r.hasSheet() && !r.external && !r.isThreeD()) {
                EXPECT_FALSE(writtenSheetNameEquals(r.sheet, r.quoted, f.sheet))
                    << f.text << " -> " << removed;
            }
        }
    }
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

// Output lines of list_formulas.py with the given mode over the corpus; empty when python is
// not there (the caller skips).
QList<QByteArray> listFormulas(const QString& mode)
{
    const QString python = qEnvironmentVariable("CORVANE_PYTHON");
    const QString tools = qEnvironmentVariable("CORVANE_TEST_TOOLS");
    if (python.isEmpty() || tools.isEmpty())
        return {};
    QProcess process;
    process.start(python, {QDir(tools).filePath(QStringLiteral("list_formulas.py")), mode,
                           qEnvironmentVariable("CORVANE_CORPUS_DIR")});
    if (!process.waitForFinished(120000) || process.exitCode() != 0) {
        ADD_FAILURE() << "list_formulas.py " << mode.toStdString()
                      << " failed: " << process.readAllStandardError().toStdString();
        return {};
    }
    return process.readAllStandardOutput().split('\n');
}

// openpyxl's tokenizer finds the same references in every corpus formula (references into other
// workbooks, lost references and names aside, which its operands do not tell apart).
TEST_F(FormulaCorpus, ReferencesAreTheOnesOpenpyxlFinds)
{
    const QList<QByteArray> lines = listFormulas(QStringLiteral("--operands"));
    if (lines.isEmpty())
        GTEST_SKIP() << "no python with openpyxl (CORVANE_PYTHON) or test tools folder";
    int compared = 0;
    for (const QByteArray& line : lines) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() != 3)
            continue;
        const std::string text = unescape(f[1]);
        std::string ours;
        Tokenizer tokenizer(text);
        Token token;
        while (tokenizer.next(token)) {
            const Reference& r = token.reference;
            if (token.kind != TokenKind::Reference || r.external || r.sheetLost || r.repeatedSheet ||
                r.shape == ReferenceShape::Lost || r.shape == ReferenceShape::Name)
                continue;
            if (!ours.empty())
                ours += '\x1f';
            ours.append(text, token.begin, token.end - token.begin);
        }
        EXPECT_EQ(ours, f[2].toStdString()) << f[0].toStdString() << ": " << text;
        ++compared;
    }
    EXPECT_GT(compared, 10000);
}

// openpyxl's translator derives shared-formula members independently; both must agree.
TEST_F(FormulaCorpus, SharedFormulaMembersMatchOpenpyxl)
{
    const QList<QByteArray> lines = listFormulas(QStringLiteral("--shared"));
    if (lines.isEmpty())
        GTEST_SKIP() << "no python with openpyxl (CORVANE_PYTHON) or test tools folder";
    int compared = 0;
    for (const QByteArray& line : lines) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() != 7 || f[6].startsWith("<openpyxl"))
            continue;
        const std::string master = unescape(f[5]);
        const std::string expected = unescape(f[6]);
        EXPECT_EQ(translateFormula(master, f[3].toInt(), f[4].toInt()), expected)
            << f[0].toStdString() << " " << f[2].toStdString() << " from " << master;
        ++compared;
    }
    EXPECT_GT(compared, 1000);
    std::cout << compared << " shared-formula members compared\n";
}
