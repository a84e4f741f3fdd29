// The compiler's tree written as tokens: operand classes, the jumps of IF and CHOOSE, spacing, and
// the trailing data of array constants.
#include "formulacompiler.h"

#include "tokencodes.h"

#include <QtEndian>

#include <cmath>

namespace corvane::automation::native::biff {

namespace {

int classed(int kind, char cls)
{
    return kind | (cls == 'R' ? 0x20 : cls == 'A' ? 0x60 : 0x40);
}

} // namespace

void Compiler::writeSpaces(const QString& spaces, int spaceType)
{
    // Runs of spaces and of line breaks, each as its own tAttrSpace, at most 255 per token.
    int i = 0;
    while (i < spaces.size()) {
        const QChar c = spaces.at(i);
        int n = 0;
        while (i < spaces.size() && spaces.at(i) == c && n < 255) {
            ++n;
            ++i;
        }
        put8(PtgAttr);
        put8(AttrSpace);
        put8(spaceType + (c == QLatin1Char('\n') ? 1 : 0));
        put8(n);
    }
}

bool Compiler::writeReference(const Node& node, char cls)
{
    // In an array formula a reference that would give a value gives its array, as the
    // application writes it.
    if (m_arrayFormula && cls == 'V')
        cls = 'A';
    const fx::Reference& r = node.reference;
    int ixti = -1;
    if (r.sheetLost) {
        ixti = *m_context.deletedSheetIndex();
    } else if (r.hasSheet()) {
        auto plain = [&](std::string_view written) {
            QString name = viewText(written);
            if (r.quoted)
                name.replace(QStringLiteral("''"), QStringLiteral("'"));
            return name;
        };
        const QString first = plain(r.sheet);
        const QString last = r.isThreeD() ? plain(r.lastSheet) : first;
        const std::optional<int> index = m_context.externSheetIndex(first, last);
        if (!index)
            return refuse(QStringLiteral("no such sheet: ") +
                          (r.isThreeD() ? first + QLatin1Char(':') + last : first));
        ixti = *index;
    }
    const bool threeD = ixti >= 0;
    if (r.shape == fx::ReferenceShape::Lost) {
        put8(classed(PtgRefErr3d, cls));
        put16(ixti);
        put16(0);
        put16(0);
        return true;
    }
    auto inSheet = [](const fx::ReferenceEnd& e) {
        return e.row <= kMaxRow + 1 && e.column <= kMaxColumn + 1;
    };
    if (!inSheet(r.first) || !inSheet(r.last))
        return unsupported(QStringLiteral("reference beyond row 65536 or column IV: ") + node.text);
    auto columnWord = [](int column, bool columnAbsolute, bool rowAbsolute) {
        return column | (columnAbsolute ? 0 : 0x4000) | (rowAbsolute ? 0 : 0x8000);
    };
    if (r.shape == fx::ReferenceShape::Cell) {
        put8(classed(threeD ? PtgRef3d : PtgRef, cls));
        if (threeD)
            put16(ixti);
        put16(r.first.row - 1);
        put16(columnWord(r.first.column - 1, r.first.columnAbsolute, r.first.rowAbsolute));
        return true;
    }
    fx::ReferenceEnd a = r.first;
    fx::ReferenceEnd b = r.last;
    if (r.shape == fx::ReferenceShape::Columns) {
        a.row = 1;
        b.row = kMaxRow + 1;
    } else if (r.shape == fx::ReferenceShape::Rows) {
        a.column = 1;
        b.column = kMaxColumn + 1;
    }
    put8(classed(threeD ? PtgArea3d : PtgArea, cls));
    if (threeD)
        put16(ixti);
    put16(a.row - 1);
    put16(b.row - 1);
    put16(columnWord(a.column - 1, a.columnAbsolute, a.rowAbsolute));
    put16(columnWord(b.column - 1, b.columnAbsolute, b.rowAbsolute));
    return true;
}

bool Compiler::write(const Node& node, char expected)
{
    // Operators work on values (arrays inside an array argument); only the reference
    // operators keep references.
    const char operand = expected == 'A' ? 'A' : 'V';
    switch (node.kind) {
    case Node::Number: {
        writeSpaces(node.spaces, 0);
        const double v = node.text.toDouble();
        if (v >= 0 && v <= 65535 && v == std::floor(v)) {
            put8(PtgInt);
            put16(static_cast<int>(v));
        } else {
            put8(PtgNum);
            char bytes[8];
            qToLittleEndian(v, bytes);
            m_out.append(bytes, 8);
        }
        return true;
    }
    case Node::String: {
        writeSpaces(node.spaces, 0);
        bool narrow = true;
        for (const QChar c : node.text)
            narrow = narrow && c.unicode() <= 0xFF;
        put8(PtgStr);
        put8(node.text.size());
        put8(narrow ? 0 : 1);
        for (const QChar c : node.text) {
            if (narrow)
                put8(c.unicode());
            else
                put16(c.unicode());
        }
        return true;
    }
    case Node::Bool:
        writeSpaces(node.spaces, 0);
        put8(PtgBool);
        put8(node.text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0 ? 1 : 0);
        return true;
    case Node::Error:
        writeSpaces(node.spaces, 0);
        put8(PtgErr);
        put8(*errorCode(node.text));
        return true;
    case Node::Missing:
        writeSpaces(node.spaces, 0);
        put8(PtgMissArg);
        return true;
    case Node::Array: {
        writeSpaces(node.spaces, 0);
        // The application writes array constants in the array class wherever they stand.
        put8(classed(PtgArray, 'A'));
        m_out.append(7, '\0');
        const int columns = node.ptg;
        m_extra.append(static_cast<char>(columns - 1));
        const int rows = static_cast<int>(node.children.size()) / columns;
        m_extra.append(static_cast<char>((rows - 1) & 0xFF));
        m_extra.append(static_cast<char>(((rows - 1) >> 8) & 0xFF));
        for (const Node& item : node.children) {
            char value[8] = {};
            switch (item.kind) {
            case Node::Number:
                m_extra.append('\x01');
                qToLittleEndian(item.text.toDouble(), value);
                break;
            case Node::String: {
                bool narrow = true;
                for (const QChar c : item.text)
                    narrow = narrow && c.unicode() <= 0xFF;
                m_extra.append('\x02');
                m_extra.append(static_cast<char>(item.text.size() & 0xFF));
                m_extra.append(static_cast<char>((item.text.size() >> 8) & 0xFF));
                m_extra.append(narrow ? '\x00' : '\x01');
                for (const QChar c : item.text) {
                    m_extra.append(static_cast<char>(c.unicode() & 0xFF));
                    if (!narrow)
                        m_extra.append(static_cast<char>(c.unicode() >> 8));
                }
                continue;
            }
            case Node::Bool:
                m_extra.append('\x04');
                value[0] = item.text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0 ? 1 : 0;
                break;
            default:
                m_extra.append('\x10');
                value[0] = static_cast<char>(*errorCode(item.text));
                break;
            }
            m_extra.append(value, 8);
        }
        return true;
    }
    case Node::Name: {
        const std::optional<int> index = m_context.nameIndex(node.text, QString());
        if (!index)
            return refuse(QStringLiteral("unknown name: ") + node.text);
        writeSpaces(node.spaces, 0);
        put8(classed(PtgName, m_arrayFormula && expected == 'V' ? 'A' : expected));
        put16(*index);
        put16(0);
        return true;
    }
    case Node::Reference: {
        const int start = m_out.size();
        writeSpaces(node.spaces, 0);
        if (!writeReference(node, expected)) {
            m_out.truncate(start);
            return false;
        }
        return true;
    }
    case Node::Unary:
        if (!write(node.children.front(), operand))
            return false;
        writeSpaces(node.spaces, 0);
        put8(node.ptg);
        return true;
    case Node::Percent:
        if (!write(node.children.front(), operand))
            return false;
        writeSpaces(node.spaces, 0);
        put8(PtgPercent);
        return true;
    case Node::Binary: {
        const bool referenceOperator = node.ptg == PtgRange || node.ptg == PtgUnion || node.ptg == PtgIsect;
        if (referenceOperator) {
            for (const Node& side : node.children) {
                const bool reference =
                    side.kind == Node::Reference || side.kind == Node::Name || side.kind == Node::Function ||
                    side.kind == Node::Paren ||
                    (side.kind == Node::Binary &&
                     (side.ptg == PtgRange || side.ptg == PtgUnion || side.ptg == PtgIsect));
                if (!reference)
                    return refuse(QStringLiteral("a range needs references on both sides"));
            }
        }
        const char cls = referenceOperator ? 'R' : operand;
        if (!write(node.children[0], cls) || !write(node.children[1], cls))
            return false;
        writeSpaces(node.spaces, 0);
        put8(node.ptg);
        return true;
    }
    case Node::Paren:
        if (!write(node.children.front(), expected))
            return false;
        writeSpaces(node.spaces, 2);
        writeSpaces(node.closeSpaces, 4);
        put8(PtgParen);
        return true;
    case Node::Function:
        break;
    }

    if (!node.function)
        return writeUserDefined(node, expected);
    const BuiltinFunction& f = *node.function;
    const int count = static_cast<int>(node.children.size());
    // Only a function that returns a reference keeps the reference class; below an array
    // argument everything is computed as an array.
    const char cls = expected == 'A' ? 'A' : (f.ret == 'R' && expected == 'R') ? 'R' : 'V';
    auto argumentExpected = [&](int i) {
        const char c = argumentClass(f, i);
        return expected == 'A' && c == 'V' ? 'A' : c;
    };
    // IF and CHOOSE carry jumps past the branches not taken.
    const bool jumps = f.index == 1 || f.index == 100;
    std::vector<int> gotos;
    int jumpAt = -1;
    for (int i = 0; i < count; ++i) {
        // CHOOSE's table holds each choice's start, counted from the table's first byte.
        if (f.index == 100 && i > 0)
            patch16(jumpAt + 4 + 2 * (i - 1), m_out.size() - (jumpAt + 4));
        if (!write(node.children[static_cast<std::size_t>(i)], argumentExpected(i)))
            return false;
        if (jumps && i == 0) {
            jumpAt = m_out.size();
            put8(PtgAttr);
            if (f.index == 1) {
                put8(AttrIf);
                put16(0);
            } else {
                put8(AttrChoose);
                put16(count - 1);
                for (int k = 0; k < count; ++k)
                    put16(0);
            }
        } else if (jumps) {
            // The call's own spaces go before the last jump, which lands on the call itself.
            if (i == count - 1) {
                writeSpaces(node.spaces, 0);
                writeSpaces(node.closeSpaces, 4);
            }
            gotos.push_back(m_out.size());
            put8(PtgAttr);
            put8(AttrGoto);
            put16(0);
            // IF jumps to its false branch, right after the true branch's goto.
            if (f.index == 1 && i == 1)
                patch16(jumpAt + 2, m_out.size() - (jumpAt + 4));
        }
    }
    if (f.index == 100 && jumpAt >= 0)
        patch16(jumpAt + 4 + 2 * (count - 1), m_out.size() - (jumpAt + 4));
    if (!jumps || count < 2) {
        writeSpaces(node.spaces, 0);
        writeSpaces(node.closeSpaces, 4);
    }
    if (f.index == 4 && count == 1) {
        put8(PtgAttr);
        put8(AttrSum);
        put16(0);
    } else if (f.variable) {
        put8(classed(PtgFuncVar, cls));
        put8(count);
        put16(f.index);
    } else {
        put8(classed(PtgFunc, cls));
        put16(f.index);
    }
    // Each jump lands on the last byte of the function token.
    for (const int at : gotos)
        patch16(at + 2, m_out.size() - (at + 4) - 1);
    return true;
}

bool Compiler::writeUserDefined(const Node& node, char expected)
{
    // The function's name comes first, as the call's first operand.
    if (node.external) {
        put8(0x39);
        put16(node.external->first);
        put16(node.external->second);
        put16(0);
    } else {
        put8(classed(PtgName, 'R'));
        put16(node.ptg);
        put16(0);
    }
    for (const Node& argument : node.children) {
        if (!write(argument, 'R'))
            return false;
    }
    writeSpaces(node.spaces, 0);
    writeSpaces(node.closeSpaces, 4);
    put8(classed(PtgFuncVar, expected == 'A' ? 'A' : 'V'));
    put8(static_cast<int>(node.children.size()) + 1);
    put16(kUserDefinedFunction);
    return true;
}

std::optional<QByteArray> Compiler::run(QString* reason, int* tokenSize)
{
    m_arraysAllowed = tokenSize != nullptr;
    Node root;
    // Unpaired surrogates would not survive the way through UTF-8.
    bool ok = m_validText ? lex() : refuse(QStringLiteral("text with broken characters"));
    if (ok && peek().kind == Lexeme::End)
        ok = refuse(QStringLiteral("empty formula"));
    ok = ok && parseComparison(root);
    if (ok && peek().kind != Lexeme::End)
        ok = refuse(QStringLiteral("unexpected \"%1\"").arg(peek().text));
    ok = ok && write(root, 'V');
    if (!ok) {
        if (reason)
            *reason = m_reason;
        return std::nullopt;
    }
    if (m_volatile)
        m_out.prepend(QByteArray("\x19\x01\x00\x00", 4));
    if (tokenSize)
        *tokenSize = m_out.size();
    m_out += m_extra;
    if (m_out.size() > kMaxTokenBytes) {
        if (reason)
            *reason = QStringLiteral("not supported in .xls formulas: formula too long");
        return std::nullopt;
    }
    if (reason)
        reason->clear();
    return m_out;
}

std::optional<QByteArray> compileFormula(const QString& text, const FormulaContext& context, QString* reason,
                                         int* tokenSize, bool arrayFormula)
{
    return Compiler(text, context, arrayFormula).run(reason, tokenSize);
}

} // namespace corvane::automation::native::biff
