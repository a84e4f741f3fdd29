#include "biffformulas.h"

#include "biffworkbook.h"
#include "formulatokens.h"
#include "tokencodes.h"

namespace corvane::automation::native::biff {

namespace {

constexpr std::uint16_t kExternSheet = 0x0017;
constexpr std::uint16_t kName = 0x0018;
constexpr std::uint16_t kExternName = 0x0023;
constexpr std::uint16_t kSupBook = 0x01AE;

// Characters of an XLUnicodeString body whose flags byte is at `at`; false when cut short.
bool characters(const QByteArray& b, int at, int count, QString* text, int* end = nullptr)
{
    if (at < 0 || at >= b.size())
        return false;
    const auto flags = static_cast<unsigned char>(b[at]);
    int pos = at + 1;
    if (flags & 0x08)
        pos += 2;
    if (flags & 0x04)
        pos += 4;
    const bool wide = flags & 0x01;
    const int bytes = wide ? 2 * count : count;
    if (count < 0 || pos + bytes > b.size())
        return false;
    *text = storedCharacters(b.constData() + pos, count, wide);
    if (end)
        *end = pos + bytes;
    return true;
}

const char* const kBuiltInNames[] = {"Consolidate_Area", "Auto_Open",      "Auto_Close",    "Extract",
                                     "Database",         "Criteria",       "Print_Area",    "Print_Titles",
                                     "Recorder",         "Data_Form",      "Auto_Activate", "Auto_Deactivate",
                                     "Sheet_Title",      "_FilterDatabase"};

} // namespace

struct RecordFormulas::Tables
{
    struct SupBook
    {
        enum class Kind
        {
            Self,
            AddIn,
            Book
        } kind = Kind::Book;
        QString book;
        std::vector<QString> sheets;
        std::vector<QString> names;
    };
    struct Extern
    {
        int supBook = 0;
        int first = 0;
        int last = 0;
    };
    struct Name
    {
        QString text;
        int sheet = 0; // 1-based sheet a local name belongs to; 0 for the workbook
    };
    std::vector<QString> sheets;
    std::vector<SupBook> supBooks;
    std::vector<Extern> externs;
    std::vector<Name> names;
};

namespace {

using Tables = RecordFormulas::Tables;

class RecordContext : public FormulaContext
{
public:
    RecordContext(const Tables& tables, int sheet, int row, int column, bool shared)
        : m_t(tables), m_sheet(sheet), m_row(row), m_column(column), m_shared(shared)
    {
    }

    std::optional<ExternSheet> externSheet(int ixti) const override
    {
        if (ixti < 0 || std::size_t(ixti) >= m_t.externs.size())
            return std::nullopt;
        const Tables::Extern& e = m_t.externs[std::size_t(ixti)];
        if (e.supBook < 0 || std::size_t(e.supBook) >= m_t.supBooks.size())
            return std::nullopt;
        const Tables::SupBook& book = m_t.supBooks[std::size_t(e.supBook)];
        ExternSheet s;
        const std::vector<QString>& sheets =
            book.kind == Tables::SupBook::Kind::Self ? m_t.sheets : book.sheets;
        const auto named = [&](int i) {
            return i >= 0 && std::size_t(i) < sheets.size() ? sheets[std::size_t(i)] : QString();
        };
        switch (book.kind) {
        case Tables::SupBook::Kind::Self:
            if (named(e.first).isEmpty() || named(e.last).isEmpty()) {
                s.deleted = true;
                return s;
            }
            s.firstSheet = named(e.first);
            s.lastSheet = named(e.last);
            return s;
        case Tables::SupBook::Kind::AddIn:
            return s;
        case Tables::SupBook::Kind::Book:
            s.book = book.book;
            s.firstSheet = named(e.first);
            s.lastSheet = named(e.last);
            return s;
        }
        return std::nullopt;
    }
    std::optional<QString> definedName(int index) const override
    {
        if (index < 1 || std::size_t(index) > m_t.names.size())
            return std::nullopt;
        const Tables::Name& name = m_t.names[std::size_t(index - 1)];
        // Another sheet's own name is shown with its sheet, so that compiling the text again
        // finds that name and not a workbook name spelt the same.
        if (name.sheet == 0 || name.sheet == m_sheet + 1 || std::size_t(name.sheet) > m_t.sheets.size())
            return name.text;
        QString sheet = m_t.sheets[std::size_t(name.sheet - 1)];
        bool plain = !sheet.isEmpty() && !sheet[0].isDigit();
        for (const QChar c : sheet)
            plain = plain && (c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('.'));
        if (!plain)
            sheet = QLatin1Char('\'') + sheet.replace(QLatin1Char('\''), QStringLiteral("''")) +
                    QLatin1Char('\'');
        return sheet + QLatin1Char('!') + name.text;
    }
    std::optional<QString> externName(int ixti, int index) const override
    {
        if (ixti < 0 || std::size_t(ixti) >= m_t.externs.size())
            return std::nullopt;
        const int book = m_t.externs[std::size_t(ixti)].supBook;
        if (book < 0 || std::size_t(book) >= m_t.supBooks.size())
            return std::nullopt;
        const std::vector<QString>& names = m_t.supBooks[std::size_t(book)].names;
        if (index < 1 || std::size_t(index) > names.size())
            return std::nullopt;
        return names[std::size_t(index - 1)];
    }
    int row() const override { return m_row; }
    int column() const override { return m_column; }
    bool relativeThreeD() const override { return m_shared; }

    std::optional<int> externSheetIndex(const QString& first, const QString& last) const override
    {
        for (std::size_t i = 0; i < m_t.externs.size(); ++i) {
            const Tables::Extern& e = m_t.externs[i];
            if (e.supBook < 0 || std::size_t(e.supBook) >= m_t.supBooks.size() ||
                m_t.supBooks[std::size_t(e.supBook)].kind != Tables::SupBook::Kind::Self)
                continue;
            if (e.first < 0 || e.last < 0 || std::size_t(e.first) >= m_t.sheets.size() ||
                std::size_t(e.last) >= m_t.sheets.size())
                continue;
            const QString& to = last.isEmpty() ? first : last;
            if (m_t.sheets[std::size_t(e.first)].compare(first, Qt::CaseInsensitive) == 0 &&
                m_t.sheets[std::size_t(e.last)].compare(to, Qt::CaseInsensitive) == 0)
                return int(i);
        }
        return std::nullopt;
    }
    std::optional<int> nameIndex(const QString& name, const QString& sheet) const override
    {
        // A sheet's own name hides a workbook name of the same spelling on that sheet.
        int wanted = m_sheet + 1;
        if (!sheet.isEmpty()) {
            wanted = 0;
            for (std::size_t i = 0; i < m_t.sheets.size(); ++i) {
                if (m_t.sheets[i].compare(sheet, Qt::CaseInsensitive) == 0)
                    wanted = int(i) + 1;
            }
            if (!wanted)
                return std::nullopt;
        }
        std::optional<int> global;
        for (std::size_t i = 0; i < m_t.names.size(); ++i) {
            const Tables::Name& n = m_t.names[i];
            if (n.text.compare(name, Qt::CaseInsensitive) != 0)
                continue;
            if (n.sheet == wanted)
                return int(i) + 1;
            if (n.sheet == 0 && sheet.isEmpty() && !global)
                global = int(i) + 1;
        }
        return global;
    }
    std::optional<int> deletedSheetIndex() const override
    {
        for (std::size_t i = 0; i < m_t.externs.size(); ++i) {
            const auto s = externSheet(int(i));
            if (s && s->deleted)
                return int(i);
        }
        return std::nullopt;
    }
    std::optional<std::pair<int, int>> externNameIndex(const QString& name) const override
    {
        for (std::size_t i = 0; i < m_t.externs.size(); ++i) {
            const int book = m_t.externs[i].supBook;
            if (book < 0 || std::size_t(book) >= m_t.supBooks.size() ||
                m_t.supBooks[std::size_t(book)].kind != Tables::SupBook::Kind::AddIn)
                continue;
            const std::vector<QString>& names = m_t.supBooks[std::size_t(book)].names;
            for (std::size_t k = 0; k < names.size(); ++k) {
                if (names[k].compare(name, Qt::CaseInsensitive) == 0)
                    return std::make_pair(int(i), int(k) + 1);
            }
        }
        return std::nullopt;
    }

private:
    const Tables& m_t;
    int m_sheet;
    int m_row;
    int m_column;
    bool m_shared;
};

// A record's body with the CONTINUE records that follow it.
QByteArray joined(const std::vector<Record>& records, std::size_t index)
{
    QByteArray body = records[index].data;
    for (std::size_t k = index + 1; k < records.size() && records[k].type == rt::kContinue; ++k)
        body.append(records[k].data);
    return body;
}

} // namespace

RecordFormulas::RecordFormulas() = default;
RecordFormulas::~RecordFormulas() = default;

const RecordFormulas::Tables& RecordFormulas::tables(const BiffWorkbook& workbook)
{
    if (m_tables)
        return *m_tables;
    m_tables = std::make_unique<Tables>();
    Tables& t = *m_tables;
    t.sheets = workbook.sheetNames();
    const std::vector<Record>& records = workbook.stream().records();
    for (std::size_t i = 1; i < records.size() && records[i].type != rt::kEof; ++i) {
        const std::uint16_t type = records[i].type;
        if (type != kSupBook && type != kExternName && type != kExternSheet && type != kName)
            continue;
        const QByteArray b = joined(records, i);
        if (type == kSupBook && b.size() >= 4) {
            Tables::SupBook book;
            const int count = le16(b, 0);
            const int cch = le16(b, 2);
            if (cch == 0x0401) {
                book.kind = Tables::SupBook::Kind::Self;
            } else if (cch == 0x3A01) {
                book.kind = Tables::SupBook::Kind::AddIn;
            } else {
                int at = 0;
                QString path;
                if (characters(b, 4, cch, &path, &at)) {
                    // The encoded path: its last part is the book's file name.
                    while (!path.isEmpty() && path[0].unicode() < 0x08)
                        path.remove(0, 1);
                    const int cut = std::max(path.lastIndexOf(QChar(0x03)), path.lastIndexOf(QChar(0x02)));
                    book.book = path.mid(cut + 1);
                    for (int s = 0; s < count && at + 2 <= b.size(); ++s) {
                        QString sheet;
                        if (!characters(b, at + 2, le16(b, at), &sheet, &at))
                            break;
                        book.sheets.push_back(sheet);
                    }
                }
            }
            t.supBooks.push_back(book);
        } else if (type == kExternName && !t.supBooks.empty() && b.size() >= 7) {
            QString name;
            characters(b, 7, static_cast<unsigned char>(b[6]), &name);
            t.supBooks.back().names.push_back(name);
        } else if (type == kExternSheet && b.size() >= 2) {
            const int count = le16(b, 0);
            for (int k = 0; k < count && 2 + 6 * k + 6 <= b.size(); ++k)
                t.externs.push_back({le16(b, 2 + 6 * k), le16(b, 4 + 6 * k), le16(b, 6 + 6 * k)});
        } else if (type == kName && b.size() >= 15) {
            Tables::Name name;
            characters(b, 14, static_cast<unsigned char>(b[3]), &name.text);
            name.sheet = le16(b, 8);
            if ((le16(b, 0) & 0x0020) && !name.text.isEmpty() &&
                name.text[0].unicode() < std::size(kBuiltInNames))
                name.text = QString::fromLatin1(kBuiltInNames[name.text[0].unicode()]);
            t.names.push_back(name);
        }
    }
    return t;
}

const std::map<std::pair<int, int>, RecordFormulas::Group>&
RecordFormulas::groups(const BiffWorkbook& workbook, int sheet)
{
    const auto found = m_groups.find(sheet);
    if (found != m_groups.end())
        return found->second;
    std::map<std::pair<int, int>, Group>& out = m_groups[sheet];
    const std::vector<Record>& records = workbook.stream().records();
    const auto [bof, eof] = workbook.sheetRecords(sheet);
    std::optional<std::pair<int, int>> last;
    for (std::size_t i = bof + 1; i < eof && i < records.size(); ++i) {
        const Record& r = records[i];
        if (r.type == rt::kFormula && r.data.size() >= 22) {
            last = std::make_pair(int(le16(r.data, 0)), int(le16(r.data, 2)));
        } else if (r.type == rt::kShrFmla && r.data.size() >= 10 && last) {
            out[*last] = {true, le16(r.data, 8), joined(records, i).mid(10)};
        } else if (r.type == rt::kArray && r.data.size() >= 14 && last) {
            out[*last] = {false, le16(r.data, 12), joined(records, i).mid(14)};
        } else if (r.type == rt::kTable && last) {
            out.erase(*last);
        }
    }
    return out;
}

FormulaShape RecordFormulas::shape(const BiffWorkbook& workbook, int sheet, const QByteArray& body)
{
    if (body.size() < 22)
        return FormulaShape::Other;
    const QByteArray rgce = body.mid(22);
    const auto anchor = formulaAnchor(rgce);
    if (!anchor)
        return FormulaShape::Own;
    const auto& all = groups(workbook, sheet);
    const auto group = all.find({anchor->row, anchor->column});
    if (group == all.end())
        return FormulaShape::Other;
    return group->second.shared ? FormulaShape::Shared : FormulaShape::Array;
}

std::optional<QString> RecordFormulas::formulaText(const BiffWorkbook& workbook, int sheet,
                                                   const QByteArray& body)
{
    if (body.size() < 22) {
        m_lastError = QStringLiteral("a formula record is cut short");
        return std::nullopt;
    }
    const Tables& t = tables(workbook);
    const int row = le16(body, 0);
    const int column = le16(body, 2);
    QByteArray rgce = body.mid(22);
    int tokenSize = le16(body, 20);
    bool shared = false;
    if (const auto anchor = formulaAnchor(rgce)) {
        const auto& all = groups(workbook, sheet);
        const auto group = all.find({anchor->row, anchor->column});
        if (group == all.end()) {
            m_lastError = QStringLiteral("a formula of a data table, or whose shared formula is missing");
            return std::nullopt;
        }
        shared = group->second.shared;
        rgce = group->second.rgce;
        tokenSize = group->second.tokenSize;
    }
    if (tokenSize > rgce.size()) {
        m_lastError = QStringLiteral("a formula's tokens are cut short");
        return std::nullopt;
    }
    const RecordContext context(t, sheet, row, column, shared);
    QString error;
    const QString text = decompileFormula(rgce, context, &error, tokenSize);
    if (text.isNull()) {
        m_lastError = error;
        return std::nullopt;
    }
    return QStringLiteral("=") + text;
}

std::optional<QByteArray> RecordFormulas::formulaTokens(const BiffWorkbook& workbook, int sheet, int row,
                                                        int column, const QString& text, int* tokenSize,
                                                        QString* reason, bool arrayFormula)
{
    const RecordContext context(tables(workbook), sheet, row, column, false);
    return compileFormula(text, context, reason, tokenSize, arrayFormula);
}

} // namespace corvane::automation::native::biff
