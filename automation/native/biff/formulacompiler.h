// Formula text compiled into tokens: one class, whose parsing (formulaparser.cpp) and writing of
// tokens (formulacompiler.cpp) are each long enough for a file of their own.
#pragma once

#include "builtinfunctions.h"
#include "formulatokens.h"

#include "automation/native/formula/formulatokenizer.h"

#include <QByteArray>
#include <QString>

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane::automation::native::biff {

namespace fx = corvane::automation::native::formula;

struct Lexeme
{
    enum Kind
    {
        Operand, // a tokenizer token other than Other
        Symbol,  // one operator or punctuation character (or <=, >=, <>)
        End,
    };
    Kind kind = End;
    fx::Token token;
    QString text;   // the symbol, or the operand's text
    QString spaces; // whitespace in front of it, line breaks as '\n'
};

struct Node
{
    enum Kind
    {
        Number,
        String,
        Bool,
        Error,
        Reference,
        Name,
        Function,
        Unary, // op: '+' or '-'
        Percent,
        Binary, // ptg
        Paren,
        Missing,
        Array, // children: the values row by row; ptg: the number of columns
    };
    Kind kind = Missing;
    QString text;
    QString spaces;      // in front of the token
    QString closeSpaces; // in front of the closing parenthesis
    int ptg = 0;
    const BuiltinFunction* function = nullptr;   // null for a function called through a name
    std::optional<std::pair<int, int>> external; // ptgNameX of an add-in function
    fx::Reference reference;
    std::vector<Node> children;
};

class Compiler
{
public:
    Compiler(const QString& text, const FormulaContext& context, bool arrayFormula = false)
        : m_context(context), m_arrayFormula(arrayFormula)
    {
        QString t = text;
        m_validText = t.isValidUtf16();
        if (t.startsWith(QLatin1Char('=')))
            t.remove(0, 1);
        m_utf8 = t.toUtf8().toStdString();
    }

    // tokenSize receives the size of the tokens without their trailing data; without it, array
    // constants (which need trailing data) are refused.
    std::optional<QByteArray> run(QString* reason, int* tokenSize);

private:
    bool refuse(const QString& why)
    {
        if (m_reason.isEmpty())
            m_reason = why;
        return false;
    }
    bool unsupported(const QString& what)
    {
        return refuse(QStringLiteral("not supported in .xls formulas: ") + what);
    }
    bool lex();
    const Lexeme& peek() const { return m_lexemes[m_next]; }
    bool peekSymbol(const char* s) const
    {
        return peek().kind == Lexeme::Symbol && peek().text == QLatin1String(s);
    }
    Lexeme take() { return m_lexemes[m_next++]; }

    bool parseComparison(Node& out);
    bool parseConcat(Node& out);
    bool parseAdditive(Node& out);
    bool parseMultiplicative(Node& out);
    bool parsePower(Node& out);
    bool parsePercent(Node& out);
    bool parseUnary(Node& out);
    bool parseIntersection(Node& out);
    bool parseRange(Node& out);
    bool parsePrimary(Node& out);
    bool parseOperand(const Lexeme& lexeme, Node& out);
    bool parseArray(Node& out);
    bool parseFunction(const Lexeme& lexeme, Node& out);
    using Level = bool (Compiler::*)(Node&);
    bool parseBinary(Node& out, Level next, std::initializer_list<std::pair<const char*, int>> operators);

    bool write(const Node& node, char expected);
    bool writeReference(const Node& node, char cls);
    bool writeUserDefined(const Node& node, char expected);
    void writeSpaces(const QString& spaces, int spaceType);
    void put8(int v) { m_out.append(static_cast<char>(v & 0xFF)); }
    void put16(int v)
    {
        put8(v);
        put8(v >> 8);
    }
    void patch16(int at, int v)
    {
        m_out[at] = static_cast<char>(v & 0xFF);
        m_out[at + 1] = static_cast<char>((v >> 8) & 0xFF);
    }
    QString textOf(const fx::Token& t) const
    {
        return QString::fromUtf8(m_utf8.data() + t.begin, static_cast<int>(t.end - t.begin));
    }
    QString viewText(std::string_view v) const
    {
        return QString::fromUtf8(v.data(), static_cast<int>(v.size()));
    }

    const FormulaContext& m_context;
    bool m_arrayFormula = false; // the tokens of an ARRAY record
    std::string m_utf8;
    std::vector<Lexeme> m_lexemes;
    std::size_t m_next = 0;
    QByteArray m_out;
    QString m_reason;
    QByteArray m_extra; // trailing data: the values of array constants
    bool m_arraysAllowed = false;
    bool m_validText = true;
    bool m_volatile = false;
    int m_depth = 0;
};

} // namespace corvane::automation::native::biff
