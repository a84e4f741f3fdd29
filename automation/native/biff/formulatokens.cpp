// Decompiling: formula tokens turned into the text the formula bar shows. The compiler, the
// function table and the token codes both share are in files of their own.
#include "formulatokens.h"

#include "builtinfunctions.h"
#include "tokencodes.h"

#include "automation/native/formula/sheetname.h"
#include "automation/native/text/celltext.h"

#include <QStringList>
#include <QtEndian>

#include <vector>

namespace corvane::automation::native::biff {

namespace {

namespace fx = corvane::automation::native::formula;

// Operator precedence, loosest first; an operand binds tightest.
enum Precedence : int
{
    PrecCompare = 1,
    PrecConcat,
    PrecAdd,
    PrecMul,
    PrecPower,
    PrecPercent,
    PrecUnary,
    PrecUnion,
    PrecIsect,
    PrecRange,
    PrecOperand,
};

QString quotedString(const QString& s)
{
    QString out = s;
    out.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

QString columnLetters(int column)
{
    QString letters;
    for (int c = column + 1; c > 0; c = (c - 1) / 26)
        letters.prepend(QLatin1Char(static_cast<char>('A' + (c - 1) % 26)));
    return letters;
}

QString cellText(int row, int column, bool rowRelative, bool columnRelative)
{
    return (columnRelative ? QString() : QStringLiteral("$")) + columnLetters(column) +
           (rowRelative ? QString() : QStringLiteral("$")) + QString::number(row + 1);
}

QString areaText(int row1, int row2, int col1, int col2, bool row1Rel, bool row2Rel, bool col1Rel,
                 bool col2Rel)
{
    auto dollar = [](bool relative) { return relative ? QString() : QStringLiteral("$"); };
    if (row1 == 0 && row2 == kMaxRow && !(col1 == 0 && col2 == kMaxColumn))
        return dollar(col1Rel) + columnLetters(col1) + QLatin1Char(':') + dollar(col2Rel) +
               columnLetters(col2);
    if (col1 == 0 && col2 == kMaxColumn && !(row1 == 0 && row2 == kMaxRow))
        return dollar(row1Rel) + QString::number(row1 + 1) + QLatin1Char(':') + dollar(row2Rel) +
               QString::number(row2 + 1);
    return cellText(row1, col1, row1Rel, col1Rel) + QLatin1Char(':') + cellText(row2, col2, row2Rel, col2Rel);
}

class Decompiler
{
public:
    Decompiler(const QByteArray& data, int tokenSize, const FormulaContext& context)
        : m_data(data), m_end(tokenSize), m_extra(tokenSize), m_context(context)
    {
    }

    QString run(QString* error);

private:
    struct Item
    {
        QString text;
        int precedence = PrecOperand;
    };

    bool fail(const QString& why)
    {
        if (m_error.isEmpty())
            m_error = why;
        return false;
    }
    bool need(int bytes) { return m_pos + bytes <= m_end ? true : fail(QStringLiteral("tokens cut short")); }
    int u8(int at) const { return static_cast<unsigned char>(m_data.at(at)); }
    int u16(int at) const { return u8(at) | (u8(at + 1) << 8); }
    bool pop(Item& item)
    {
        if (m_stack.empty())
            return fail(QStringLiteral("operator without operand"));
        item = std::move(m_stack.back());
        m_stack.pop_back();
        return true;
    }
    QString takeSpaces(QString& slot)
    {
        QString s;
        s.swap(slot);
        return s;
    }

    bool token();
    bool binary(const char* symbol, int precedence);
    bool function(const QString& name, int argumentCount, bool userDefined);
    bool reference(int kind);
    bool arrayConstant();
    std::optional<QString> sheetPrefix(int ixti);
    void push(QString text, int precedence = PrecOperand)
    {
        m_stack.push_back({takeSpaces(m_before) + text, precedence});
    }

    const QByteArray& m_data;
    int m_pos = 0;
    int m_end;
    int m_extra;
    const FormulaContext& m_context;
    std::vector<Item> m_stack;
    QString m_error;
    // Whitespace recorded by tAttrSpace for the next token: in front of it, in front of an
    // opening parenthesis, in front of a closing one.
    QString m_before;
    QString m_beforeOpen;
    QString m_beforeClose;
};

QString Decompiler::run(QString* error)
{
    if (m_end < 0 || m_end > m_data.size())
        m_end = m_extra = m_data.size();
    while (m_pos < m_end) {
        if (!token())
            break;
    }
    if (m_error.isEmpty() && m_stack.size() != 1)
        fail(m_stack.empty() ? QStringLiteral("no expression") : QStringLiteral("operands left over"));
    if (!m_error.isEmpty()) {
        if (error)
            *error = m_error;
        return {};
    }
    if (error)
        error->clear();
    return m_stack.back().text;
}

bool Decompiler::binary(const char* symbol, int precedence)
{
    Item right;
    Item left;
    if (!pop(right) || !pop(left))
        return false;
    QString text = left.precedence < precedence ? QLatin1Char('(') + left.text + QLatin1Char(')') : left.text;
    text += takeSpaces(m_before) + QLatin1String(symbol);
    text += right.precedence <= precedence && right.precedence != PrecOperand
                ? QLatin1Char('(') + right.text + QLatin1Char(')')
                : right.text;
    m_stack.push_back({text, precedence});
    return true;
}

bool Decompiler::function(const QString& name, int argumentCount, bool userDefined)
{
    if (static_cast<int>(m_stack.size()) < argumentCount)
        return fail(QStringLiteral("function without its arguments"));
    QStringList arguments;
    for (auto it = m_stack.end() - argumentCount; it != m_stack.end(); ++it)
        arguments << (it->precedence == PrecUnion ? QLatin1Char('(') + it->text + QLatin1Char(')')
                                                  : it->text);
    m_stack.resize(m_stack.size() - static_cast<std::size_t>(argumentCount));
    QString shown = name;
    if (userDefined) {
        // The name came first, as an operand.
        if (arguments.isEmpty())
            return fail(QStringLiteral("user-defined function without its name"));
        shown = arguments.takeFirst();
        if (shown.startsWith(QLatin1String("_xlfn."), Qt::CaseInsensitive))
            shown.remove(0, 6);
    }
    const QString close = takeSpaces(m_beforeClose);
    push(shown + QLatin1Char('(') + arguments.join(QLatin1Char(',')) + close + QLatin1Char(')'));
    return true;
}

std::optional<QString> Decompiler::sheetPrefix(int ixti)
{
    const std::optional<ExternSheet> sheet = m_context.externSheet(ixti);
    if (!sheet) {
        fail(QStringLiteral("unknown EXTERNSHEET index %1").arg(ixti));
        return std::nullopt;
    }
    if (sheet->deleted)
        return QStringLiteral("#REF!");
    QString inner = sheet->firstSheet;
    if (!sheet->lastSheet.isEmpty() && sheet->lastSheet.compare(sheet->firstSheet, Qt::CaseInsensitive) != 0)
        inner += QLatin1Char(':') + sheet->lastSheet;
    const bool quote =
        fx::sheetNameNeedsQuotes(sheet->firstSheet) ||
        (inner.size() > sheet->firstSheet.size() && fx::sheetNameNeedsQuotes(sheet->lastSheet));
    if (!sheet->book.isEmpty()) {
        inner = QLatin1Char('[') + sheet->book + QLatin1Char(']') + inner;
        if (sheet->firstSheet.isEmpty())
            return inner + QLatin1Char('!');
    }
    if (quote || !sheet->book.isEmpty())
        return QLatin1Char('\'') + inner.replace(QLatin1Char('\''), QStringLiteral("''")) +
               QStringLiteral("'!");
    return inner + QLatin1Char('!');
}

bool Decompiler::reference(int kind)
{
    const bool threeD = kind == PtgRef3d || kind == PtgArea3d || kind == PtgRefErr3d || kind == PtgAreaErr3d;
    const bool area = kind == PtgArea || kind == PtgAreaN || kind == PtgArea3d || kind == PtgAreaErr ||
                      kind == PtgAreaErr3d;
    const bool lost = kind == PtgRefErr || kind == PtgAreaErr || kind == PtgRefErr3d || kind == PtgAreaErr3d;
    const bool offsets = kind == PtgRefN || kind == PtgAreaN || (threeD && m_context.relativeThreeD());
    const int size = (threeD ? 2 : 0) + (area ? 8 : 4);
    if (!need(1 + size))
        return false;
    int at = m_pos + 1;
    QString prefix;
    if (threeD) {
        const std::optional<QString> p = sheetPrefix(u16(at));
        if (!p)
            return false;
        prefix = *p;
        at += 2;
    }
    m_pos += 1 + size;
    if (lost) {
        push(prefix + QStringLiteral("#REF!"));
        return true;
    }
    auto rowOf = [&](int rw, bool relative) {
        return relative && offsets ? (m_context.row() + static_cast<qint16>(rw)) & 0xFFFF : rw;
    };
    auto columnOf = [&](int col, bool relative) {
        return relative && offsets ? (m_context.column() + static_cast<qint8>(col & 0xFF)) & 0xFF
                                   : col & 0x3FFF;
    };
    if (!area) {
        const int rw = u16(at);
        const int col = u16(at + 2);
        const bool rowRel = col & 0x8000;
        const bool colRel = col & 0x4000;
        const int row = rowOf(rw, rowRel);
        const int column = columnOf(col, colRel);
        if (column > kMaxColumn)
            return fail(QStringLiteral("column out of range"));
        push(prefix + cellText(row, column, rowRel, colRel));
        return true;
    }
    const int col1 = u16(at + 4);
    const int col2 = u16(at + 6);
    const bool row1Rel = col1 & 0x8000;
    const bool col1Rel = col1 & 0x4000;
    const bool row2Rel = col2 & 0x8000;
    const bool col2Rel = col2 & 0x4000;
    const int r1 = rowOf(u16(at), row1Rel);
    const int r2 = rowOf(u16(at + 2), row2Rel);
    const int c1 = columnOf(col1, col1Rel);
    const int c2 = columnOf(col2, col2Rel);
    if (c1 > kMaxColumn || c2 > kMaxColumn)
        return fail(QStringLiteral("column out of range"));
    push(prefix + areaText(r1, r2, c1, c2, row1Rel, row2Rel, col1Rel, col2Rel));
    return true;
}

bool Decompiler::arrayConstant()
{
    const int size = m_data.size();
    int at = m_extra;
    if (at + 3 > size)
        return fail(QStringLiteral("array constant without its data"));
    const int columns = u8(at) + 1;
    const int rows = u16(at + 1) + 1;
    at += 3;
    QStringList rowTexts;
    for (int r = 0; r < rows; ++r) {
        QStringList values;
        for (int c = 0; c < columns; ++c) {
            if (at >= size)
                return fail(QStringLiteral("array constant cut short"));
            const int type = u8(at);
            ++at;
            if (type == 0x02) {
                if (at + 3 > size)
                    return fail(QStringLiteral("array constant cut short"));
                const int cch = u16(at);
                const bool wide = u8(at + 2) & 1;
                at += 3;
                const int bytes = wide ? 2 * cch : cch;
                if (at + bytes > size)
                    return fail(QStringLiteral("array constant cut short"));
                const QString s = storedCharacters(m_data.constData() + at, cch, wide);
                at += bytes;
                values << quotedString(s);
                continue;
            }
            if (at + 8 > size)
                return fail(QStringLiteral("array constant cut short"));
            switch (type) {
            case 0x00:
                values << QString();
                break;
            case 0x01:
                values << generalNumberText(qFromLittleEndian<double>(m_data.constData() + at));
                break;
            case 0x04:
                values << (u8(at) ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
                break;
            case 0x10: {
                const QString e = errorText(u8(at));
                if (e.isEmpty())
                    return fail(QStringLiteral("unknown error code"));
                values << e;
                break;
            }
            default:
                return fail(QStringLiteral("unknown array constant type"));
            }
            at += 8;
        }
        rowTexts << values.join(QLatin1Char(','));
    }
    m_extra = at;
    push(QLatin1Char('{') + rowTexts.join(QLatin1Char(';')) + QLatin1Char('}'));
    return true;
}

bool Decompiler::token()
{
    const int ptg = u8(m_pos);
    if (ptg >= 0x20 && ptg < 0x80) {
        const int kind = ptg & 0x1F;
        switch (kind) {
        case PtgArray:
            if (!need(8))
                return false;
            m_pos += 8;
            return arrayConstant();
        case PtgFunc: {
            if (!need(3))
                return false;
            const BuiltinFunction* f = functionByIndex(u16(m_pos + 1));
            if (!f)
                return fail(QStringLiteral("unknown function index %1").arg(u16(m_pos + 1)));
            m_pos += 3;
            return function(QLatin1String(f->name), f->minArgs, false);
        }
        case PtgFuncVar: {
            if (!need(4))
                return false;
            const int count = u8(m_pos + 1) & 0x7F;
            const int index = u16(m_pos + 2) & 0x7FFF;
            m_pos += 4;
            if (index == kUserDefinedFunction)
                return function(QString(), count, true);
            const BuiltinFunction* f = functionByIndex(index);
            if (!f)
                return fail(QStringLiteral("unknown function index %1").arg(index));
            return function(QLatin1String(f->name), count, false);
        }
        case PtgName: {
            if (!need(5))
                return false;
            const std::optional<QString> name = m_context.definedName(u16(m_pos + 1));
            if (!name)
                return fail(QStringLiteral("unknown name index %1").arg(u16(m_pos + 1)));
            m_pos += 5;
            push(*name);
            return true;
        }
        case PtgNameX: {
            if (!need(7))
                return false;
            std::optional<QString> name = m_context.externName(u16(m_pos + 1), u16(m_pos + 3));
            if (!name)
                return fail(QStringLiteral("unknown external name %1").arg(u16(m_pos + 3)));
            if (name->startsWith(QLatin1String("_xlfn."), Qt::CaseInsensitive))
                name->remove(0, 6);
            m_pos += 7;
            push(*name);
            return true;
        }
        case PtgRef:
        case PtgArea:
        case PtgRefErr:
        case PtgAreaErr:
        case PtgRefN:
        case PtgAreaN:
        case PtgRef3d:
        case PtgArea3d:
        case PtgRefErr3d:
        case PtgAreaErr3d:
            return reference(kind);
        case PtgMemArea: {
            // The subexpression after it computes the same reference; only the cached
            // rectangles in the trailing data need skipping.
            if (!need(7))
                return false;
            m_pos += 7;
            if (m_extra + 2 > m_data.size())
                return fail(QStringLiteral("ptgMemArea without its data"));
            const int count = u16(m_extra);
            if (m_extra + 2 + 8 * count > m_data.size())
                return fail(QStringLiteral("ptgMemArea data cut short"));
            m_extra += 2 + 8 * count;
            return true;
        }
        case PtgMemErr:
        case PtgMemNoMem:
            if (!need(7))
                return false;
            m_pos += 7;
            return true;
        case PtgMemFunc:
        case PtgMemAreaN:
        case PtgMemNoMemN:
            if (!need(3))
                return false;
            m_pos += 3;
            return true;
        default:
            return fail(QStringLiteral("unknown token 0x%1").arg(ptg, 2, 16, QLatin1Char('0')));
        }
    }

    switch (ptg) {
    case PtgExp:
        return fail(QStringLiteral("shared or array formula"));
    case PtgTbl:
        return fail(QStringLiteral("data table"));
    case PtgAdd:
        ++m_pos;
        return binary("+", PrecAdd);
    case PtgSub:
        ++m_pos;
        return binary("-", PrecAdd);
    case PtgMul:
        ++m_pos;
        return binary("*", PrecMul);
    case PtgDiv:
        ++m_pos;
        return binary("/", PrecMul);
    case PtgPower:
        ++m_pos;
        return binary("^", PrecPower);
    case PtgConcat:
        ++m_pos;
        return binary("&", PrecConcat);
    case PtgLt:
        ++m_pos;
        return binary("<", PrecCompare);
    case PtgLe:
        ++m_pos;
        return binary("<=", PrecCompare);
    case PtgEq:
        ++m_pos;
        return binary("=", PrecCompare);
    case PtgGe:
        ++m_pos;
        return binary(">=", PrecCompare);
    case PtgGt:
        ++m_pos;
        return binary(">", PrecCompare);
    case PtgNe:
        ++m_pos;
        return binary("<>", PrecCompare);
    case PtgIsect:
        ++m_pos;
        return binary(" ", PrecIsect);
    case PtgUnion:
        ++m_pos;
        return binary(",", PrecUnion);
    case PtgRange:
        ++m_pos;
        return binary(":", PrecRange);
    case PtgUplus:
    case PtgUminus: {
        ++m_pos;
        Item x;
        if (!pop(x))
            return false;
        const QString operand =
            x.precedence < PrecUnary ? QLatin1Char('(') + x.text + QLatin1Char(')') : x.text;
        push((ptg == PtgUplus ? QStringLiteral("+") : QStringLiteral("-")) + operand, PrecUnary);
        return true;
    }
    case PtgPercent: {
        ++m_pos;
        Item x;
        if (!pop(x))
            return false;
        const QString operand =
            x.precedence < PrecPercent ? QLatin1Char('(') + x.text + QLatin1Char(')') : x.text;
        m_stack.push_back({operand + takeSpaces(m_before) + QLatin1Char('%'), PrecPercent});
        return true;
    }
    case PtgParen: {
        ++m_pos;
        Item x;
        if (!pop(x))
            return false;
        const QString open = takeSpaces(m_beforeOpen);
        push(open + QLatin1Char('(') + x.text + takeSpaces(m_beforeClose) + QLatin1Char(')'));
        return true;
    }
    case PtgMissArg:
        ++m_pos;
        push(QString());
        return true;
    case PtgStr: {
        if (!need(3))
            return false;
        const int cch = u8(m_pos + 1);
        const bool wide = u8(m_pos + 2) & 1;
        const int bytes = wide ? 2 * cch : cch;
        if (!need(3 + bytes))
            return false;
        const QString s = storedCharacters(m_data.constData() + m_pos + 3, cch, wide);
        m_pos += 3 + bytes;
        push(quotedString(s));
        return true;
    }
    case PtgAttr: {
        if (!need(4))
            return false;
        const int bits = u8(m_pos + 1);
        const int data = u16(m_pos + 2);
        int size = 4;
        if (bits & AttrChoose)
            size += 2 * (data + 1);
        if (!need(size))
            return false;
        m_pos += size;
        if (bits & AttrSum)
            return function(QStringLiteral("SUM"), 1, false);
        if (bits & AttrSpace) {
            const int type = data & 0xFF;
            const QString run(data >> 8, type % 2 ? QLatin1Char('\n') : QLatin1Char(' '));
            if (type <= 1)
                m_before += run;
            else if (type <= 3)
                m_beforeOpen += run;
            else if (type <= 5)
                m_beforeClose += run;
        }
        return true;
    }
    case PtgErr: {
        if (!need(2))
            return false;
        const QString e = errorText(u8(m_pos + 1));
        if (e.isEmpty())
            return fail(QStringLiteral("unknown error code"));
        m_pos += 2;
        push(e);
        return true;
    }
    case PtgBool:
        if (!need(2))
            return false;
        push(u8(m_pos + 1) ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
        m_pos += 2;
        return true;
    case PtgInt:
        if (!need(3))
            return false;
        push(QString::number(u16(m_pos + 1)));
        m_pos += 3;
        return true;
    case PtgNum:
        if (!need(9))
            return false;
        push(generalNumberText(qFromLittleEndian<double>(m_data.constData() + m_pos + 1)));
        m_pos += 9;
        return true;
    default:
        return fail(QStringLiteral("unknown token 0x%1").arg(ptg, 2, 16, QLatin1Char('0')));
    }
}

} // namespace

std::optional<FormulaAnchor> formulaAnchor(const QByteArray& rgce)
{
    if (rgce.size() < 5 || static_cast<unsigned char>(rgce.at(0)) != PtgExp)
        return std::nullopt;
    const auto* d = reinterpret_cast<const unsigned char*>(rgce.constData());
    return FormulaAnchor{d[1] | (d[2] << 8), d[3] | (d[4] << 8)};
}

QString decompileFormula(const QByteArray& rgce, const FormulaContext& context, QString* error, int tokenSize)
{
    return Decompiler(rgce, tokenSize, context).run(error);
}

} // namespace corvane::automation::native::biff
