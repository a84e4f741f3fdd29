// Every formula of the corpus's binary workbooks: its tokens decompiled, compiled again and
// decompiled once more; and the text the engine's sheets give each formula cell, read through the
// workbook's own records, against the text LibreOffice gives the same cell. The figures are
// printed; differences with LibreOffice that are understood are listed by kind in
// formulatokens_known_differences.tsv, and anything else fails.
#include "automation/native/biff/biffformulas.h"
#include "automation/native/biff/biffworkbook.h"
#include "automation/native/biff/formulatokens.h"
#include "workbooktest.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

using namespace corvane::automation;
using namespace corvane::automation::native::biff;

namespace {

class JsonContext : public FormulaContext
{
public:
    JsonContext(const QJsonObject& book, const QJsonObject& formula) : m_book(book), m_formula(formula) {}

    std::optional<ExternSheet> externSheet(int ixti) const override
    {
        const QJsonArray all = m_book.value(QStringLiteral("externSheets")).toArray();
        if (ixti < 0 || ixti >= all.size())
            return std::nullopt;
        const QJsonObject e = all.at(ixti).toObject();
        ExternSheet s;
        s.deleted = e.value(QStringLiteral("deleted")).toBool();
        s.book = e.value(QStringLiteral("book")).toString();
        s.firstSheet = e.value(QStringLiteral("first")).toString();
        s.lastSheet = e.value(QStringLiteral("last")).toString();
        return s;
    }
    std::optional<QString> definedName(int index) const override
    {
        const QJsonArray names = m_book.value(QStringLiteral("names")).toArray();
        if (index < 1 || index > names.size())
            return std::nullopt;
        return names.at(index - 1).toString();
    }
    std::optional<QString> externName(int ixti, int index) const override
    {
        const QJsonArray books = m_book.value(QStringLiteral("externSheetBooks")).toArray();
        if (ixti < 0 || ixti >= books.size())
            return std::nullopt;
        const QJsonArray names =
            m_book.value(QStringLiteral("externNames")).toArray().at(books.at(ixti).toInt()).toArray();
        if (index < 1 || index > names.size())
            return std::nullopt;
        return names.at(index - 1).toString();
    }
    int row() const override { return m_formula.value(QStringLiteral("row")).toInt(); }
    int column() const override { return m_formula.value(QStringLiteral("col")).toInt(); }
    bool relativeThreeD() const override { return m_formula.value(QStringLiteral("shared")).toBool(); }
    std::optional<int> externSheetIndex(const QString& first, const QString& last) const override
    {
        const QJsonArray all = m_book.value(QStringLiteral("externSheets")).toArray();
        for (int i = 0; i < all.size(); ++i) {
            const QJsonObject e = all.at(i).toObject();
            if (e.contains(QStringLiteral("book")) || e.value(QStringLiteral("deleted")).toBool())
                continue;
            if (e.value(QStringLiteral("first")).toString().compare(first, Qt::CaseInsensitive) == 0 &&
                e.value(QStringLiteral("last")).toString().compare(last, Qt::CaseInsensitive) == 0)
                return i;
        }
        return std::nullopt;
    }
    std::optional<int> deletedSheetIndex() const override
    {
        const QJsonArray all = m_book.value(QStringLiteral("externSheets")).toArray();
        for (int i = 0; i < all.size(); ++i) {
            if (all.at(i).toObject().value(QStringLiteral("deleted")).toBool())
                return i;
        }
        return std::nullopt;
    }
    std::optional<std::pair<int, int>> externNameIndex(const QString& name) const override
    {
        const QJsonArray all = m_book.value(QStringLiteral("externSheets")).toArray();
        const QJsonArray books = m_book.value(QStringLiteral("externSheetBooks")).toArray();
        for (int i = 0; i < all.size() && i < books.size(); ++i) {
            if (!all.at(i).toObject().value(QStringLiteral("addin")).toBool())
                continue;
            const QJsonArray names =
                m_book.value(QStringLiteral("externNames")).toArray().at(books.at(i).toInt()).toArray();
            for (int k = 0; k < names.size(); ++k) {
                if (names.at(k).toString().compare(name, Qt::CaseInsensitive) == 0)
                    return std::make_pair(i, k + 1);
            }
        }
        return std::nullopt;
    }
    std::optional<int> nameIndex(const QString& name, const QString& sheet) const override
    {
        if (!sheet.isEmpty())
            return std::nullopt;
        const QJsonArray names = m_book.value(QStringLiteral("names")).toArray();
        for (int i = 0; i < names.size(); ++i) {
            if (names.at(i).toString().compare(name, Qt::CaseInsensitive) == 0)
                return i + 1;
        }
        return std::nullopt;
    }

private:
    const QJsonObject& m_book;
    const QJsonObject& m_formula;
};

// Understood differences with LibreOffice's text, by kind: "norm" lines rewrite both texts
// (pattern, replacement) before they are compared again, "pair" lines accept a pair
// "ours<TAB>office" that their pattern matches.
struct KnownKind
{
    QString kind;
    bool pair = false;
    QRegularExpression pattern;
    QString replacement;
};

std::vector<KnownKind> knownKinds()
{
    std::vector<KnownKind> out;
    for (const QStringList& c : corvane::testing::readTsv(QStringLiteral(CORVANE_BIFF_FORMULA_KNOWN))) {
        if (c.size() >= 5)
            out.push_back({c[1], c[0] == QLatin1String("pair"), QRegularExpression(c[2]), c[3]});
    }
    return out;
}

// The kind that explains the difference, or an empty string.
QString explain(const std::vector<KnownKind>& known, QString ours, QString office)
{
    for (const KnownKind& k : known) {
        if (k.pair) {
            if (k.pattern.match(ours + QLatin1Char('\t') + office).hasMatch())
                return k.kind;
            continue;
        }
        const QString o = QString(ours).replace(k.pattern, k.replacement);
        const QString l = QString(office).replace(k.pattern, k.replacement);
        if (o == ours && l == office)
            continue;
        if (o == l)
            return k.kind;
        const QString rest = explain(known, o, l);
        if (!rest.isEmpty())
            return k.kind;
    }
    return {};
}

// The corpus formulas as biff_formulas.py lists them, with LibreOffice's texts when office is set:
// "--office" for every workbook, "--office=MAXBYTES" for those up to that size.
// CORVANE_BIFF_FORMULAS=FILE reads a list kept from an earlier run instead.
QJsonArray corpusFormulas(QTemporaryDir& dir, const QString& office, QString* why)
{
    QString path = qEnvironmentVariable("CORVANE_BIFF_FORMULAS");
    if (path.isEmpty()) {
        const QString corpus = corvane::testing::corpusDir();
        if (corpus.isEmpty()) {
            *why = QStringLiteral("corpus folder missing (CORVANE_CORPUS_DIR)");
            return {};
        }
        path = dir.filePath(QStringLiteral("formulas.json"));
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList arguments{QStringLiteral(CORVANE_BIFF_FORMULA_SCRIPT), path, corpus};
        if (!office.isEmpty())
            arguments << office;
        p.start(qEnvironmentVariable("CORVANE_PYTHON", QStringLiteral("/usr/bin/python3")), arguments);
        if (p.waitForFinished(900000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 3) {
            *why = QStringLiteral("python3-xlrd missing");
            return {};
        }
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            ADD_FAILURE() << "biff_formulas.py failed";
            *why = QStringLiteral("biff_formulas.py failed");
            return {};
        }
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("no formula list");
        return {};
    }
    return QJsonDocument::fromJson(f.readAll()).array();
}

// Decompiles every formula, compiles the text again and decompiles the result; prints the figures.
void checkFormulas(const QJsonArray& books)
{
    int total = 0, decompiled = 0, roundTripped = 0, identical = 0, ownBytes = 0;
    std::map<QString, int> notDecompiled, refused;
    int roundTripFailures = 0;
    // CORVANE_BIFF_FORMULA_DIFFS=FILE keeps every difference for study.
    QFile diffs(qEnvironmentVariable("CORVANE_BIFF_FORMULA_DIFFS"));
    if (!diffs.fileName().isEmpty())
        diffs.open(QIODevice::WriteOnly | QIODevice::Truncate);
    for (const QJsonValue& bookValue : books) {
        const QJsonObject book = bookValue.toObject();
        const QString file = book.value(QStringLiteral("file")).toString();
        for (const QJsonValue& fv : book.value(QStringLiteral("formulas")).toArray()) {
            const QJsonObject formula = fv.toObject();
            ++total;
            const JsonContext context(book, formula);
            const QByteArray rgce =
                QByteArray::fromHex(formula.value(QStringLiteral("rgce")).toString().toLatin1());
            const int cce = formula.value(QStringLiteral("cce")).toInt();
            const QString where = file + QLatin1Char(' ') +
                                  formula.value(QStringLiteral("sheet")).toString() +
                                  QStringLiteral(" r%1c%2").arg(context.row()).arg(context.column());
            QString error;
            const QString text = decompileFormula(rgce, context, &error, cce);
            if (text.isNull()) {
                ++notDecompiled[error];
                continue;
            }
            ++decompiled;
            QString reason;
            int compiledSize = 0;
            const std::optional<QByteArray> tokens = compileFormula(text, context, &reason, &compiledSize);
            if (!tokens) {
                ++refused[reason];
                if (diffs.isOpen())
                    diffs.write((where + QStringLiteral("\trefused\t") + reason + QLatin1Char('\t') + text +
                                 QLatin1Char('\n'))
                                    .toUtf8());
                continue;
            }
            const QString again = decompileFormula(*tokens, context, &error, compiledSize);
            if (again == text) {
                ++roundTripped;
            } else if (++roundTripFailures <= 40) {
                ADD_FAILURE() << where.toStdString() << ": " << text.toStdString()
                              << " compiles to tokens shown as " << again.toStdString() << " "
                              << error.toStdString();
            }
            if (!formula.value(QStringLiteral("shared")).toBool() &&
                !formula.value(QStringLiteral("array")).toBool()) {
                ++ownBytes;
                if (*tokens == rgce)
                    ++identical;
                else if (diffs.isOpen())
                    diffs.write((where + QStringLiteral("\ttokens\t") + text + QLatin1Char('\t') +
                                 QString::fromLatin1(rgce.toHex()) + QLatin1Char('\t') +
                                 QString::fromLatin1(tokens->toHex()) + QLatin1Char('\n'))
                                    .toUtf8());
            }
        }
    }
    std::cout << "formulas " << total << ", decompiled " << decompiled << ", round-tripped " << roundTripped
              << ", tokens identical " << identical << " of " << ownBytes << " plain formulas\n";
    for (const auto& [reason, n] : notDecompiled)
        std::cout << "  not decompiled (" << reason.toStdString() << "): " << n << "\n";
    for (const auto& [reason, n] : refused)
        std::cout << "  refused (" << reason.toStdString() << "): " << n << "\n";
    EXPECT_EQ(roundTripFailures, 0);
    // Our own text may use what .xls formulas cannot hold, but must always parse.
    for (const auto& [reason, n] : refused)
        EXPECT_TRUE(reason.startsWith(QLatin1String("not supported in .xls formulas: ")))
            << n << " decompiled formulas refused: " << reason.toStdString();
    EXPECT_GT(total, 30000) << "the corpus lost its formulas";
}

// The formula text the engine's sheets give every listed formula cell (the workbook's records
// resolving sheets, names, links and shared and array formulas) against LibreOffice's text where
// the list has it; prints the figures. Returns how many were compared.
int checkEngineFormulas(const QJsonArray& books, const QString& corpus)
{
    const std::vector<KnownKind> known = knownKinds();
    int total = 0, read = 0, compared = 0, matched = 0, otherThanTokens = 0;
    std::map<QString, int> notRead, notOpened, knownCounts;
    std::map<QString, int> unexplained;
    QFile diffs(qEnvironmentVariable("CORVANE_BIFF_FORMULA_DIFFS"));
    if (!diffs.fileName().isEmpty())
        diffs.open(QIODevice::WriteOnly | QIODevice::Truncate);
    for (const QJsonValue& bookValue : books) {
        const QJsonObject book = bookValue.toObject();
        const QJsonArray formulas = book.value(QStringLiteral("formulas")).toArray();
        if (formulas.isEmpty())
            continue;
        const QString file = book.value(QStringLiteral("file")).toString();
        RecordFormulas source;
        BiffWorkbook workbook;
        // Cell work opens a workbook whatever its formulas; a search in formulas would hand on
        // one with a formula the engine cannot read, which is what is counted here.
        if (!workbook.open(QDir(corpus).filePath(file), WorkKind::CellText, &source)) {
            notOpened[workbook.lastError()] += formulas.size();
            total += formulas.size();
            continue;
        }
        const std::vector<QString> names = workbook.sheetNames();
        for (const QJsonValue& fv : formulas) {
            const QJsonObject formula = fv.toObject();
            ++total;
            const QString sheetName = formula.value(QStringLiteral("sheet")).toString();
            const int row = formula.value(QStringLiteral("row")).toInt();
            const int column = formula.value(QStringLiteral("col")).toInt();
            const QString where =
                file + QLatin1Char(' ') + sheetName + QStringLiteral(" r%1c%2").arg(row).arg(column);
            const auto position = std::find(names.begin(), names.end(), sheetName);
            Sheet* sheet =
                position == names.end() ? nullptr : workbook.sheet(int(position - names.begin()) + 1);
            if (!sheet) {
                ADD_FAILURE() << where.toStdString() << ": the engine has no such sheet";
                continue;
            }
            const QString bar = sheet->formula(CellAddress{row + 1, column + 1});
            if (!bar.startsWith(QLatin1Char('='))) {
                ++notRead[bar.isEmpty() ? source.lastError() : QStringLiteral("not a formula: ") + bar];
                continue;
            }
            ++read;
            const QString text = bar.mid(1);
            // The same tokens through the context this test builds from the list: a difference
            // is the engine's reading of the records, not the decompiler.
            const JsonContext context(book, formula);
            QString error;
            const QString listed = decompileFormula(
                QByteArray::fromHex(formula.value(QStringLiteral("rgce")).toString().toLatin1()), context,
                &error, formula.value(QStringLiteral("cce")).toInt());
            if (listed != text) {
                ++otherThanTokens;
                if (diffs.isOpen())
                    diffs.write((where + QStringLiteral("\tcontext\t") + text + QLatin1Char('\t') + listed +
                                 QLatin1Char('\n'))
                                    .toUtf8());
            }
            if (!formula.contains(QStringLiteral("office")))
                continue;
            ++compared;
            const QString office = formula.value(QStringLiteral("office")).toString();
            if (office == text) {
                ++matched;
                continue;
            }
            if (diffs.isOpen())
                diffs.write(
                    (where + QLatin1Char('\t') + text + QLatin1Char('\t') + office + QLatin1Char('\n'))
                        .toUtf8());
            const QString kind = explain(known, text, office);
            if (!kind.isEmpty()) {
                ++knownCounts[kind];
                continue;
            }
            if (unexplained.size() < 40)
                ADD_FAILURE() << where.toStdString() << ": engine " << text.toStdString() << " | office "
                              << office.toStdString();
            ++unexplained[where];
        }
    }
    std::cout << "formula cells " << total << ", read by the engine " << read
              << ", compared with LibreOffice " << compared << ", same text " << matched
              << ", other than the listed tokens' text " << otherThanTokens << "\n";
    for (const auto& [reason, n] : notOpened)
        std::cout << "  workbook not opened (" << reason.toStdString() << "): " << n << "\n";
    for (const auto& [reason, n] : notRead)
        std::cout << "  not read (" << reason.toStdString() << "): " << n << "\n";
    for (const auto& [kind, n] : knownCounts)
        std::cout << "  known difference (" << kind.toStdString() << "): " << n << "\n";
    EXPECT_TRUE(unexplained.empty()) << unexplained.size() << " formulas differ from LibreOffice unexplained";
    return compared;
}

TEST(BiffFormulaCorpus, EveryFormulaCompilesBackToItsTextOrIsRefused)
{
    QTemporaryDir dir;
    QString why;
    const QJsonArray books = corpusFormulas(dir, QString(), &why);
    if (books.isEmpty())
        GTEST_SKIP() << why.toStdString();
    checkFormulas(books);
}

// LibreOffice converts the smaller workbooks (a fifth of the formulas, in about a minute);
// CORVANE_BIFF_FORMULA_ORACLE=full converts them all.
TEST(BiffFormulaCorpus, EngineFormulaTextAgreesWithLibreOffice)
{
    QTemporaryDir dir;
    QString why;
    const bool full = qEnvironmentVariable("CORVANE_BIFF_FORMULA_ORACLE") == QLatin1String("full");
    const QJsonArray books =
        corpusFormulas(dir, full ? QStringLiteral("--office") : QStringLiteral("--office=320000"), &why);
    if (books.isEmpty())
        GTEST_SKIP() << why.toStdString();
    const QString corpus = corvane::testing::corpusDir();
    if (corpus.isEmpty())
        GTEST_SKIP() << "corpus folder missing (CORVANE_CORPUS_DIR)";
    EXPECT_GT(checkEngineFormulas(books, corpus), 3000);
}

} // namespace
