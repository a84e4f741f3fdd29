// Formulas of Excel 97-2003 workbooks: their parsed-expression tokens (rgce) turned into the A1
// text the application shows, and formula text compiled back into tokens for the common subset.
// Knows nothing about records: the caller resolves sheets, names and shared formulas through a
// FormulaContext.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>

namespace corvane::automation::native::biff {

// One EXTERNSHEET entry as a reference prefix shows it.
struct ExternSheet
{
    QString book;         // another workbook's name; empty for this workbook
    QString firstSheet;   // empty with a book: the book-level prefix of an external name
    QString lastSheet;    // empty or equal to firstSheet for a single sheet
    bool deleted = false; // the sheet was deleted: references show as #REF!A1
};

// What the tokens point at outside themselves. Rows and columns are 0-based, as in the records.
struct FormulaContext
{
    virtual ~FormulaContext() = default;

    // Decompiling.
    virtual std::optional<ExternSheet> externSheet(int ixti) const = 0;
    // The text of a defined name by its 1-based index in the NAME records (ptgName).
    virtual std::optional<QString> definedName(int index) const = 0;
    // The text of an external or add-in name (ptgNameX): a name in another workbook, or a
    // function that is not built in ("_xlfn." prefixes may be left on; they are dropped).
    virtual std::optional<QString> externName(int ixti, int index) const = 0;
    // The cell that holds the formula: relative references of shared formulas count from it.
    virtual int row() const = 0;
    virtual int column() const = 0;
    // True when the tokens come from a shared formula (SHRFMLA) or a defined name, where 3-D
    // references store relative parts as offsets like RefN/AreaN.
    virtual bool relativeThreeD() const { return false; }

    // Compiling. Each returns nothing when the workbook has no such entry; an implementation may
    // add the entry instead. A reference with a sheet prefix is written 3-D even when it names the
    // formula's own sheet, as the application does, so the compiler needs no current sheet.
    virtual std::optional<int> externSheetIndex(const QString& firstSheet,
                                                const QString& lastSheet) const = 0;
    // 1-based index of a defined name; sheet is empty for an unqualified name. Functions that are
    // not built in are looked up here too, as "_xlfn.NAME" and then as NAME.
    virtual std::optional<int> nameIndex(const QString& name, const QString& sheet) const = 0;
    // An EXTERNSHEET entry of a deleted sheet, for references written as #REF!A1.
    virtual std::optional<int> deletedSheetIndex() const { return std::nullopt; }
    // EXTERNSHEET index and 1-based EXTERNNAME index of an add-in function (ptgNameX).
    virtual std::optional<std::pair<int, int>> externNameIndex(const QString& name) const
    {
        Q_UNUSED(name);
        return std::nullopt;
    }
};

// The cell whose shared (SHRFMLA) or array (ARRAY) formula this cell's tokens stand for, when
// they are a single ptgExp: the cell after whose FORMULA record that record is stored, which is
// not always the top left of its range. The caller decompiles that record's tokens instead.
struct FormulaAnchor
{
    int row = 0;
    int column = 0;
};
std::optional<FormulaAnchor> formulaAnchor(const QByteArray& rgce);

// The formula text without "=". rgce holds the tokens followed by their trailing data (the
// constants of ptgArray, the rectangles of ptgMemArea), exactly as stored; tokenSize is cce, the
// size of the tokens alone (-1: rgce holds no trailing data). Returns a null string with the
// reason in error when the tokens are damaged or cannot be shown (a ptgExp among them: see
// formulaAnchor).
QString decompileFormula(const QByteArray& rgce, const FormulaContext& context, QString* error,
                         int tokenSize = -1);

// Tokens for a formula text, with or without the leading "=", followed by their trailing data
// (the values of array constants); tokenSize receives cce, the size of the tokens alone. Without
// tokenSize array constants are refused, so that the whole result is the tokens. Returns nothing
// with the reason when the text is not a valid formula or uses what this compiler does not
// write: "not supported in .xls formulas: ...".
// `arrayFormula`: the tokens of an array formula (ARRAY record), whose references give arrays
// where a cell's formula would take their values.
std::optional<QByteArray> compileFormula(const QString& text, const FormulaContext& context, QString* reason,
                                         int* tokenSize = nullptr, bool arrayFormula = false);

} // namespace corvane::automation::native::biff
