// Formula text parsed into the compiler's tree: operators by precedence, functions, references and
// array constants, with the spacing each token had.
#include "formulacompiler.h"

#include "tokencodes.h"

#include <cmath>

namespace corvane::automation::native::biff {

bool Compiler::lex()
{
    fx::Tokenizer tokenizer(m_utf8);
    fx::Token token;
    QString spaces;
    while (tokenizer.next(token)) {
        if (token.kind != fx::TokenKind::Other) {
            Lexeme l;
            l.kind = Lexeme::Operand;
            l.token = token;
            l.text = textOf(token);
            l.spaces.swap(spaces);
            m_lexemes.push_back(std::move(l));
            continue;
        }
        const std::string_view run(m_utf8.data() + token.begin, token.end - token.begin);
        for (std::size_t i = 0; i < run.size(); ++i) {
            const char c = run[i];
            if (c == ' ' || c == '\n') {
                spaces += QLatin1Char(c);
                continue;
            }
            if (c == '\r') {
                // A line break typed on Windows; the tokens keep one line break either way.
                if (i + 1 >= run.size() || run[i + 1] != '\n')
                    spaces += QLatin1Char('\n');
                continue;
            }
            QString symbol = QString(QLatin1Char(c));
            const char d = i + 1 < run.size() ? run[i + 1] : '\0';
            if ((c == '<' && (d == '=' || d == '>')) || (c == '>' && d == '=')) {
                symbol += QLatin1Char(d);
                ++i;
            }
            static const QString known = QStringLiteral("+-*/^&=<>%(),:;{}");
            if (!known.contains(QLatin1Char(c)))
                return refuse(QStringLiteral("unexpected character \"%1\"").arg(QLatin1Char(c)));
            Lexeme l;
            l.kind = Lexeme::Symbol;
            l.text = symbol;
            l.spaces.swap(spaces);
            m_lexemes.push_back(std::move(l));
        }
    }
    m_lexemes.push_back(Lexeme{});
    return true;
}

bool Compiler::parseBinary(Node& out, Level next,
                           std::initializer_list<std::pair<const char*, int>> operators)
{
    if (!(this->*next)(out))
        return false;
    for (;;) {
        int ptg = 0;
        for (const auto& [symbol, code] : operators) {
            if (peekSymbol(symbol))
                ptg = code;
        }
        if (!ptg)
            return true;
        const Lexeme op = take();
        Node right;
        if (!(this->*next)(right))
            return false;
        Node n;
        n.kind = Node::Binary;
        n.ptg = ptg;
        n.spaces = op.spaces;
        n.children.push_back(std::move(out));
        n.children.push_back(std::move(right));
        out = std::move(n);
    }
}

bool Compiler::parseComparison(Node& out)
{
    return parseBinary(
        out, &Compiler::parseConcat,
        {{"=", PtgEq}, {"<>", PtgNe}, {"<", PtgLt}, {"<=", PtgLe}, {">", PtgGt}, {">=", PtgGe}});
}

bool Compiler::parseConcat(Node& out)
{
    return parseBinary(out, &Compiler::parseAdditive, {{"&", PtgConcat}});
}

bool Compiler::parseAdditive(Node& out)
{
    return parseBinary(out, &Compiler::parseMultiplicative, {{"+", PtgAdd}, {"-", PtgSub}});
}

bool Compiler::parseMultiplicative(Node& out)
{
    return parseBinary(out, &Compiler::parsePower, {{"*", PtgMul}, {"/", PtgDiv}});
}

bool Compiler::parsePower(Node& out)
{
    return parseBinary(out, &Compiler::parsePercent, {{"^", PtgPower}});
}

bool Compiler::parsePercent(Node& out)
{
    if (!parseUnary(out))
        return false;
    while (peekSymbol("%")) {
        Node n;
        n.kind = Node::Percent;
        n.spaces = take().spaces;
        n.children.push_back(std::move(out));
        out = std::move(n);
    }
    return true;
}

bool Compiler::parseUnary(Node& out)
{
    // Every nesting, by parentheses, arguments or signs, passes here; the bound keeps hostile
    // text from exhausting the stack.
    struct Depth
    {
        int& depth;
        explicit Depth(int& d) : depth(++d) {}
        ~Depth() { --depth; }
    } depth(m_depth);
    if (m_depth > kMaxNesting)
        return refuse(QStringLiteral("formula nested too deeply"));
    if (peekSymbol("-") || peekSymbol("+")) {
        const Lexeme op = take();
        Node n;
        n.kind = Node::Unary;
        n.ptg = op.text == QLatin1String("-") ? PtgUminus : PtgUplus;
        n.spaces = op.spaces;
        n.children.emplace_back();
        if (!parseUnary(n.children.back()))
            return false;
        out = std::move(n);
        return true;
    }
    return parseIntersection(out);
}

bool Compiler::parseIntersection(Node& out)
{
    if (!parseRange(out))
        return false;
    // A space where an operator is due, before something that can be a reference, intersects.
    for (;;) {
        Lexeme& next = m_lexemes[m_next];
        const bool operand = next.kind == Lexeme::Operand && (next.token.kind == fx::TokenKind::Reference ||
                                                              next.token.kind == fx::TokenKind::Name ||
                                                              next.token.kind == fx::TokenKind::Function);
        const int space = next.spaces.indexOf(QLatin1Char(' '));
        if (space < 0 || !(operand || peekSymbol("(")))
            return true;
        // The operator is one space; line breaks and further spaces stay as spacing.
        next.spaces.remove(space, 1);
        Node right;
        if (!parseRange(right))
            return false;
        Node n;
        n.kind = Node::Binary;
        n.ptg = PtgIsect;
        n.children.push_back(std::move(out));
        n.children.push_back(std::move(right));
        out = std::move(n);
    }
}

bool Compiler::parseRange(Node& out)
{
    return parseBinary(out, &Compiler::parsePrimary, {{":", PtgRange}});
}

bool Compiler::parsePrimary(Node& out)
{
    const Lexeme lexeme = take();
    if (lexeme.kind == Lexeme::End)
        return refuse(QStringLiteral("formula ends too early"));
    if (lexeme.kind == Lexeme::Operand) {
        if (lexeme.token.kind == fx::TokenKind::Function)
            return parseFunction(lexeme, out);
        return parseOperand(lexeme, out);
    }
    if (lexeme.text == QLatin1String("{"))
        return parseArray(out);
    if (lexeme.text != QLatin1String("("))
        return refuse(QStringLiteral("unexpected \"%1\"").arg(lexeme.text));
    // Inside parentheses a comma joins references into a union.
    Node inner;
    if (!parseComparison(inner))
        return false;
    while (peekSymbol(",")) {
        const Lexeme op = take();
        Node right;
        if (!parseComparison(right))
            return false;
        Node n;
        n.kind = Node::Binary;
        n.ptg = PtgUnion;
        n.spaces = op.spaces;
        n.children.push_back(std::move(inner));
        n.children.push_back(std::move(right));
        inner = std::move(n);
    }
    if (!peekSymbol(")"))
        return refuse(QStringLiteral("missing \")\""));
    out = Node{};
    out.kind = Node::Paren;
    out.spaces = lexeme.spaces;
    out.closeSpaces = take().spaces;
    out.children.push_back(std::move(inner));
    return true;
}

bool Compiler::parseArray(Node& out)
{
    if (!m_arraysAllowed)
        return unsupported(QStringLiteral("array constants"));
    out = Node{};
    out.kind = Node::Array;
    int columns = 0;
    int inRow = 0;
    for (;;) {
        Lexeme value = take();
        bool negative = false;
        if (value.kind == Lexeme::Symbol &&
            (value.text == QLatin1String("-") || value.text == QLatin1String("+"))) {
            negative = value.text == QLatin1String("-");
            value = take();
            if (value.kind != Lexeme::Operand || value.token.kind != fx::TokenKind::Number)
                return refuse(
                    QStringLiteral("array constants hold only numbers, texts, booleans and errors"));
        }
        if (value.kind != Lexeme::Operand)
            return refuse(QStringLiteral("array constants hold only numbers, texts, booleans and errors"));
        Node item;
        if (!parseOperand(value, item))
            return false;
        if (item.kind != Node::Number && item.kind != Node::String && item.kind != Node::Bool &&
            item.kind != Node::Error)
            return refuse(QStringLiteral("array constants hold only numbers, texts, booleans and errors"));
        if (negative)
            item.text.prepend(QLatin1Char('-'));
        out.children.push_back(std::move(item));
        ++inRow;
        const Lexeme separator = take();
        if (separator.text == QLatin1String(",") && separator.kind == Lexeme::Symbol)
            continue;
        if (separator.kind != Lexeme::Symbol ||
            (separator.text != QLatin1String(";") && separator.text != QLatin1String("}")))
            return refuse(QStringLiteral("missing \"}\""));
        if (columns && inRow != columns)
            return refuse(QStringLiteral("array constant rows of different lengths"));
        columns = inRow;
        inRow = 0;
        if (separator.text == QLatin1String("}"))
            break;
    }
    const int rows = static_cast<int>(out.children.size()) / columns;
    if (columns > kMaxColumn + 1 || rows > kMaxRow + 1)
        return unsupported(QStringLiteral("array constant too large"));
    out.ptg = columns;
    return true;
}

bool Compiler::parseFunction(const Lexeme& lexeme, Node& out)
{
    out = Node{};
    out.kind = Node::Function;
    out.spaces = lexeme.spaces;
    out.text = lexeme.text;
    out.function = functionByName(lexeme.text);
    if (out.function && out.function->index == kUserDefinedFunction)
        out.function = nullptr;
    // A function the workbook already calls as an add-in (SERIESSUM of the Analysis ToolPak) is
    // written as the workbook writes it: other readers do not know its index in the table.
    if (out.function && m_context.externNameIndex(lexeme.text))
        out.function = nullptr;
    if (!out.function) {
        // Functions the table lacks live in the workbook as names or add-in names.
        if (const auto name = m_context.nameIndex(QStringLiteral("_xlfn.") + lexeme.text, QString()))
            out.ptg = *name;
        else if (const auto plain = m_context.nameIndex(lexeme.text, QString()))
            out.ptg = *plain;
        else if (const auto external = m_context.externNameIndex(lexeme.text))
            out.external = external;
        else
            return unsupported(QStringLiteral("function ") + lexeme.text);
    }
    if (!peekSymbol("("))
        return refuse(QStringLiteral("missing \"(\" after ") + lexeme.text);
    take();
    if (!peekSymbol(")")) {
        for (;;) {
            out.children.emplace_back();
            if (peekSymbol(",") || peekSymbol(")")) {
                out.children.back().kind = Node::Missing;
            } else if (!parseComparison(out.children.back())) {
                return false;
            }
            if (!peekSymbol(","))
                break;
            take();
        }
    }
    if (!peekSymbol(")"))
        return refuse(QStringLiteral("missing \")\" after the arguments of ") + lexeme.text);
    out.closeSpaces = take().spaces;
    const int count = static_cast<int>(out.children.size());
    if (!out.function)
        return count < 30 ? true : refuse(QStringLiteral("wrong number of arguments for ") + lexeme.text);
    if (count < out.function->minArgs || count > out.function->maxArgs)
        return refuse(QStringLiteral("wrong number of arguments for ") + lexeme.text);
    if (isVolatile(*out.function))
        m_volatile = true;
    return true;
}

bool Compiler::parseOperand(const Lexeme& lexeme, Node& out)
{
    out = Node{};
    out.spaces = lexeme.spaces;
    out.text = lexeme.text;
    switch (lexeme.token.kind) {
    case fx::TokenKind::Number: {
        bool ok = false;
        const double v = lexeme.text.toDouble(&ok);
        if (!ok || !std::isfinite(v))
            return refuse(QStringLiteral("number out of range: ") + lexeme.text);
        out.kind = Node::Number;
        return true;
    }
    case fx::TokenKind::String: {
        // The tokenizer runs an unclosed text to the end; "ab"" is such a text.
        bool closed = false;
        for (int i = 1; i < lexeme.text.size(); ++i) {
            if (lexeme.text.at(i) != QLatin1Char('"'))
                continue;
            if (i + 1 < lexeme.text.size() && lexeme.text.at(i + 1) == QLatin1Char('"'))
                ++i;
            else
                closed = i == lexeme.text.size() - 1;
        }
        if (!closed)
            return refuse(QStringLiteral("text without its closing quote"));
        out.kind = Node::String;
        out.text =
            lexeme.text.mid(1, lexeme.text.size() - 2).replace(QStringLiteral("\"\""), QStringLiteral("\""));
        if (out.text.size() > 255)
            return unsupported(QStringLiteral("text longer than 255 characters"));
        return true;
    }
    case fx::TokenKind::Error:
        if (!errorCode(lexeme.text))
            return unsupported(lexeme.text);
        out.kind = Node::Error;
        return true;
    case fx::TokenKind::Name:
        if (lexeme.text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0 ||
            lexeme.text.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0) {
            out.kind = Node::Bool;
            return true;
        }
        out.kind = Node::Name;
        return true;
    case fx::TokenKind::Reference: {
        const fx::Reference& r = lexeme.token.reference;
        if (r.external)
            return unsupported(QStringLiteral("references to other workbooks"));
        if (r.sheetLost && !m_context.deletedSheetIndex())
            return unsupported(QStringLiteral("references to deleted sheets"));
        if (r.shape == fx::ReferenceShape::Name)
            return unsupported(QStringLiteral("sheet-qualified names"));
        out.kind = Node::Reference;
        out.reference = r;
        return true;
    }
    case fx::TokenKind::StructuredReference:
        return unsupported(QStringLiteral("table references"));
    default:
        return refuse(QStringLiteral("unexpected \"%1\"").arg(lexeme.text));
    }
}

} // namespace corvane::automation::native::biff
