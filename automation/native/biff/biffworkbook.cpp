// A binary workbook from open to save: the container and the refusals (encrypted, older formats,
// damage, work the engine leaves to another server), its sheets, and the stream written back. A
// sheet reads its cells in biffsheet.cpp and changes them in biffsheetedits.cpp.
#include "biffworkbook.h"

#include "biffformulas.h"
#include "biffsheet.h"
#include "formulasource.h"

namespace corvane::automation::native::biff {

QString unsupportedOnXls(const QString& what)
{
    return QStringLiteral("unsupported on .xls: ") + what;
}

BiffWorkbook::BiffWorkbook() = default;
BiffWorkbook::~BiffWorkbook() = default;

bool BiffWorkbook::open(const QString& path, WorkKind work, FormulaTextSource* formulas,
                        const QString& formula, const AutomationServer::FormulaRewrite& rewrite)
{
    m_path = path;
    if (!formulas) {
        m_ownFormulas = std::make_unique<RecordFormulas>();
        formulas = m_ownFormulas.get();
    }
    m_formulas = formulas;
    m_handOver = false;
    QString error;
    if (!m_document.read(path, &error)) {
        m_lastError = error;
        return false;
    }
    CompoundEntry* workbook = m_document.stream(QStringLiteral("Workbook"));
    if (!workbook) {
        m_handOver = true;
        m_lastError = m_document.stream(QStringLiteral("Book"))
                          ? QStringLiteral("unsupported: an Excel 5.0/95 workbook (BIFF5 or older)")
                          : QStringLiteral("unsupported: the compound file holds no workbook stream");
        return false;
    }
    if (!m_stream.parse(workbook->data, &error)) {
        m_lastError = error;
        return false;
    }
    const std::vector<Record>& records = m_stream.records();
    if (records.front().data.size() < 4 || le16(records.front().data, 0) != 0x0600) {
        m_handOver = true;
        m_lastError = QStringLiteral("unsupported: an Excel 5.0/95 workbook (BIFF5 or older)");
        return false;
    }

    struct Bound
    {
        std::uint32_t offset;
        QString name;
    };
    std::vector<Bound> bounds;
    std::size_t sst = 0;
    std::size_t i = 1;
    for (; i < records.size() && records[i].type != rt::kEof; ++i) {
        const Record& r = records[i];
        if (r.type == rt::kFilePass) {
            m_lastError = QStringLiteral("encrypted: the workbook is protected by a password");
            return false;
        }
        if (r.type == rt::kBoundSheet) {
            QString name;
            if (r.data.size() < 8 || !readUnicodeString(r.data, 6, false, &name)) {
                m_lastError = QStringLiteral("damaged: a sheet entry of the workbook is cut short");
                return false;
            }
            bounds.push_back({le32(r.data, 0), name});
        } else if (r.type == rt::kSst && sst == 0) {
            sst = i;
        } else if (r.type == rt::kExtSst) {
            m_extSst = i;
        } else if (r.type == rt::kXf) {
            m_xfLocked.push_back(r.data.size() < 6 || (le16(r.data, 4) & 0x0001) != 0);
        }
        m_formats.read(r);
    }
    if (sst) {
        m_sst = std::make_unique<SharedStringTable>();
        if (!m_sst->parse(records, sst, &error)) {
            m_lastError = error;
            return false;
        }
    }

    for (const Bound& b : bounds) {
        std::size_t bof = 0;
        for (std::size_t k = i; k < records.size(); ++k) {
            if (records[k].offset == b.offset) {
                bof = k;
                break;
            }
            if (records[k].offset > b.offset)
                break;
        }
        if (!bof || records[bof].type != rt::kBof || records[bof].data.size() < 4) {
            m_lastError = QStringLiteral("damaged: the sheet \"%1\" does not start where the workbook says")
                              .arg(b.name);
            return false;
        }
        std::size_t eof = bof + 1;
        for (int depth = 1; eof < records.size(); ++eof) {
            if (records[eof].type == rt::kBof)
                ++depth;
            else if (records[eof].type == rt::kEof && --depth == 0)
                break;
        }
        const bool grid = le16(records[bof].data, 2) == 0x0010;
        m_sheets.push_back(std::make_unique<BiffSheet>(*this, int(m_sheets.size()), b.name, bof, eof, grid));
    }
    if (m_sheets.empty()) {
        m_lastError = QStringLiteral("damaged: the workbook has no sheets");
        return false;
    }

    QString notDone;
    switch (work) {
    case WorkKind::FindReplace:
    case WorkKind::CellText:
        break;
    case WorkKind::FindReplaceBeyondCells:
        notDone = QStringLiteral("replacing outside cells");
        break;
    case WorkKind::CellFormula: {
        // One formula for all is checked once; formulas rewritten in place are checked cell by
        // cell, every cell that could be located, so that no cell is refused half-way through.
        int tokenSize = 0;
        QString reason;
        if (!formula.isEmpty()) {
            if (!m_formulas->formulaTokens(*this, 0, 0, 0, formula, &tokenSize, &reason))
                notDone = QStringLiteral("the formula %1 (%2)").arg(formula.left(100), reason);
        } else if (rewrite) {
            for (const auto& sheet : m_sheets) {
                notDone = sheet->rewriteRefusal(rewrite);
                if (!notDone.isEmpty())
                    break;
            }
        } else {
            notDone = QStringLiteral("changing formulas");
        }
        break;
    }
    case WorkKind::RowColumn:
        notDone = QStringLiteral("deleting or inserting rows and columns");
        break;
    case WorkKind::Pictures:
        notDone = QStringLiteral("pictures");
        break;
    case WorkKind::SheetRemoval:
        notDone = QStringLiteral("deleting sheets");
        break;
    case WorkKind::Other:
        notDone = QStringLiteral("this operation");
        break;
    }
    // A search in formulas needs their text, and a replacement inside one needs it written back:
    // a workbook with a formula the engine can do neither for is left to a server that can,
    // before anything is changed.
    if (notDone.isEmpty() && work == WorkKind::FindReplace) {
        for (const auto& sheet : m_sheets) {
            notDone = sheet->formulaRefusal();
            if (!notDone.isEmpty())
                break;
        }
    }
    if (!notDone.isEmpty()) {
        m_handOver = true;
        m_lastError = unsupportedOnXls(notDone);
        return false;
    }
    m_lastError.clear();
    return true;
}

std::vector<QString> BiffWorkbook::sheetNames() const
{
    std::vector<QString> names;
    for (const auto& sheet : m_sheets)
        names.push_back(sheet->m_name);
    return names;
}

std::pair<std::size_t, std::size_t> BiffWorkbook::sheetRecords(int position) const
{
    if (position < 0 || std::size_t(position) >= m_sheets.size())
        return {0, 0};
    const BiffSheet& sheet = *m_sheets[std::size_t(position)];
    return {sheet.m_bof, sheet.m_eof};
}

Sheet* BiffWorkbook::sheet(int index)
{
    if (index < 1 || index > int(m_sheets.size()))
        return nullptr;
    return m_sheets[std::size_t(index - 1)].get();
}

bool BiffWorkbook::deleteSheet(int index)
{
    (void)index;
    m_lastError = unsupportedOnXls(QStringLiteral("deleting sheets"));
    return false;
}

bool BiffWorkbook::styleLocked(int xf) const
{
    return xf < 0 || std::size_t(xf) >= m_xfLocked.size() || m_xfLocked[std::size_t(xf)];
}

bool BiffWorkbook::streamBytes(QByteArray* out, QString* error) const
{
    // Changes go into a copy, so that the workbook stays as it was should the save fail.
    WorkbookStream stream = m_stream;
    for (const auto& sheet : m_sheets)
        sheet->commit(stream);
    if (m_sst && m_sst->changed()) {
        stream.replace(m_sst->firstRecord(), m_sst->tableRecords());
        for (std::size_t k = 1; k < m_sst->recordCount(); ++k)
            stream.replace(m_sst->firstRecord() + k, {});
        if (m_extSst) {
            // Nothing before the table changes, so it stays where it was.
            stream.replace(m_extSst, {m_sst->extSst(m_stream.records()[m_sst->firstRecord()].offset)});
        }
    }
    return stream.write(out, error);
}

bool BiffWorkbook::save()
{
    if (!m_changed)
        return true; // nothing changed: the file stays as it is, byte for byte
    QByteArray workbook;
    QString error;
    if (!streamBytes(&workbook, &error)) {
        m_lastError = QStringLiteral("not saved: %1").arg(error);
        return false;
    }
    CompoundDocument document = m_document;
    document.stream(QStringLiteral("Workbook"))->data = workbook;
    QByteArray file;
    if (!document.write(&file, &error)) {
        m_lastError = QStringLiteral("not saved: %1").arg(error);
        return false;
    }
    if (!replaceFileContents(m_path, file, &error)) {
        m_lastError = error;
        return false;
    }
    m_document = std::move(document);
    return true;
}

void BiffWorkbook::close()
{
    m_sheets.clear();
}

} // namespace corvane::automation::native::biff
