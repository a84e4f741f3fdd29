#include "memoryserver.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>

namespace corvane::testsupport {

using automation::CellAddress;
using automation::CellValue;
using automation::FindQuery;
using automation::LookAt;
using automation::LookIn;
using automation::RangeAddress;

namespace {

// "*" any run, "?" one character, "~" escapes the next character; letter case ignored.
QRegularExpression wildcardPattern(const QString& what, bool whole)
{
    QString rx;
    for (int i = 0; i < what.size(); ++i) {
        const QChar c = what.at(i);
        if (c == QLatin1Char('~') && i + 1 < what.size()) {
            rx += QRegularExpression::escape(QString(what.at(++i)));
        } else if (c == QLatin1Char('*')) {
            rx += QStringLiteral(".*");
        } else if (c == QLatin1Char('?')) {
            rx += QLatin1Char('.');
        } else {
            rx += QRegularExpression::escape(QString(c));
        }
    }
    if (whole)
        rx = QStringLiteral("\\A(?:") + rx + QStringLiteral(")\\z");
    return QRegularExpression(rx, QRegularExpression::CaseInsensitiveOption |
                                      QRegularExpression::DotMatchesEverythingOption |
                                      QRegularExpression::UseUnicodePropertiesOption);
}

bool inside(const RangeAddress& r, int row, int column)
{
    return r.contains(CellAddress{row, column});
}

QString displayText(const QString& input)
{
    if (input.startsWith(QLatin1Char('=')))
        return {}; // formulas are not calculated here
    if (input.startsWith(QLatin1Char('\'')))
        return input.mid(1);
    return input;
}

} // namespace

void ServerJournal::note(QStringList& list, const QString& path)
{
    std::lock_guard<std::mutex> lock(mutex);
    list.append(path);
    threads.push_back(QThread::currentThread());
}

void ServerJournal::noteThread()
{
    std::lock_guard<std::mutex> lock(mutex);
    threads.push_back(QThread::currentThread());
}

std::optional<RangeAddress> MemorySheet::usedRange()
{
    if (m_chart)
        return std::nullopt;
    if (m_cells.empty())
        return RangeAddress{1, 1, 1, 1};
    RangeAddress r{automation::kMaxRows, automation::kMaxColumns, 1, 1};
    for (const auto& [key, text] : m_cells) {
        r.firstRow = std::min(r.firstRow, key.first);
        r.lastRow = std::max(r.lastRow, key.first);
        r.firstColumn = std::min(r.firstColumn, key.second);
        r.lastColumn = std::max(r.lastColumn, key.second);
    }
    return r;
}

std::optional<RangeAddress> MemorySheet::range(const QString& address)
{
    if (m_chart)
        return std::nullopt;
    return automation::parseRangeAddress(address);
}

std::optional<CellAddress> MemorySheet::cell(int row, int column)
{
    const CellAddress c{row, column};
    if (m_chart || !c.isValid())
        return std::nullopt;
    return c;
}

std::optional<CellAddress> MemorySheet::find(const RangeAddress& in, const FindQuery& query,
                                             std::optional<CellAddress> after)
{
    if (m_chart || query.what.isEmpty())
        return std::nullopt;
    const QRegularExpression rx = wildcardPattern(query.what, query.lookAt == LookAt::Whole);
    const CellAddress start = after.value_or(in.topLeft());
    std::optional<CellAddress> first;
    for (const auto& [key, text] : m_cells) {
        if (!inside(in, key.first, key.second))
            continue;
        const QString subject = query.lookIn == LookIn::Formulas ? text : displayText(text);
        if (!rx.match(subject).hasMatch())
            continue;
        const CellAddress here{key.first, key.second};
        if (std::make_pair(here.row, here.column) > std::make_pair(start.row, start.column))
            return here;
        if (!first)
            first = here;
    }
    return first;
}

bool MemorySheet::replace(const RangeAddress& in, const QString& what, const QString& replacement,
                          const automation::CellChanged& changed)
{
    if (m_chart || what.isEmpty())
        return false;
    const QRegularExpression rx = wildcardPattern(what, false);
    bool any = false;
    for (auto& [key, text] : m_cells) {
        if (!inside(in, key.first, key.second))
            continue;
        QString out;
        int from = 0;
        auto it = rx.globalMatch(text);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            if (m.capturedLength() == 0)
                continue;
            out += text.mid(from, m.capturedStart() - from);
            out += replacement;
            from = m.capturedEnd();
        }
        if (from == 0)
            continue;
        out += text.mid(from);
        if (out != text) {
            if (changed)
                changed({key.first, key.second}, text, out);
            text = out;
            any = true;
        }
    }
    return any;
}

CellValue MemorySheet::value(const CellAddress& cell)
{
    const auto it = m_cells.find({cell.row, cell.column});
    if (it == m_cells.end() || it->second.isEmpty() || it->second.startsWith(QLatin1Char('=')))
        return CellValue::empty();
    const QString& input = it->second;
    if (input.startsWith(QLatin1Char('\'')))
        return CellValue::fromText(input.mid(1));
    bool number = false;
    const double d = input.toDouble(&number);
    if (number)
        return CellValue::fromNumber(d);
    if (input.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0)
        return CellValue::fromBoolean(true);
    if (input.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0)
        return CellValue::fromBoolean(false);
    return CellValue::fromText(input);
}

QString MemorySheet::formula(const CellAddress& cell)
{
    const auto it = m_cells.find({cell.row, cell.column});
    return it == m_cells.end() ? QString() : it->second;
}

bool MemorySheet::setValue(const CellAddress& cell, const QString& text)
{
    if (m_chart || !cell.isValid()) {
        m_lastError = QStringLiteral("no such cell");
        return false;
    }
    if (m_locked) {
        m_lastError = QStringLiteral("the sheet is protected");
        return false;
    }
    if (text.isEmpty())
        m_cells.erase({cell.row, cell.column});
    else
        m_cells[{cell.row, cell.column}] = text;
    return true;
}

bool MemorySheet::setFormula(const CellAddress& cell, const QString& text)
{
    return setValue(cell, text);
}

bool MemorySheet::shift(bool rows, int from, int delta, bool drop, const QString& edit)
{
    const int limit = rows ? automation::kMaxRows : automation::kMaxColumns;
    if (m_chart || from < 1 || from > limit) {
        m_lastError = QStringLiteral("no such row or column");
        return false;
    }
    if (m_locked) {
        m_lastError = QStringLiteral("the sheet is protected");
        return false;
    }
    std::map<std::pair<int, int>, QString> moved;
    for (auto& [key, text] : m_cells) {
        int row = key.first;
        int column = key.second;
        int& at = rows ? row : column;
        if (drop && at == from)
            continue;
        if (at >= from + (drop ? 1 : 0))
            at += delta;
        if (at >= 1 && at <= limit)
            moved[{row, column}] = std::move(text);
    }
    m_cells.swap(moved);
    m_edits.append(edit);
    return true;
}

bool MemorySheet::deleteRow(int row)
{
    return shift(true, row, -1, true, QStringLiteral("delete row %1").arg(row));
}

bool MemorySheet::deleteColumn(int column)
{
    return shift(false, column, -1, true, QStringLiteral("delete column %1").arg(column));
}

bool MemorySheet::insertRow(int row)
{
    return shift(true, row, 1, false, QStringLiteral("insert row %1").arg(row));
}

bool MemorySheet::insertColumn(int column)
{
    return shift(false, column, 1, false, QStringLiteral("insert column %1").arg(column));
}

std::optional<double> MemorySheet::cellLeft(const CellAddress& cell)
{
    if (m_chart || !cell.isValid()) {
        m_lastError = QStringLiteral("no such cell");
        return std::nullopt;
    }
    return (cell.column - 1) * m_columnWidth;
}

std::optional<double> MemorySheet::cellTop(const CellAddress& cell)
{
    if (m_chart || !cell.isValid()) {
        m_lastError = QStringLiteral("no such cell");
        return std::nullopt;
    }
    return (cell.row - 1) * m_rowHeight;
}

std::optional<CellAddress> MemorySheet::shapeTopLeftCell(int index)
{
    if (index < 1 || index > int(m_shapes.size())) {
        m_lastError = QStringLiteral("there is no shape %1").arg(index);
        return std::nullopt;
    }
    const Shape& s = m_shapes[size_t(index - 1)];
    return CellAddress{s.row, s.column};
}

bool MemorySheet::deleteShape(int index)
{
    if (index < 1 || index > int(m_shapes.size())) {
        m_lastError = QStringLiteral("there is no shape %1").arg(index);
        return false;
    }
    m_shapes.erase(m_shapes.begin() + (index - 1));
    return true;
}

bool MemorySheet::addPicture(const QString& file, double left, double top, double width, double height)
{
    if (m_chart) {
        m_lastError = QStringLiteral("the sheet has no drawing layer");
        return false;
    }
    const QFileInfo info(file);
    if (!info.isFile() || !info.isReadable() || info.size() == 0) {
        m_lastError = QStringLiteral("cannot read the picture %1").arg(file);
        return false;
    }
    Shape s;
    s.row = std::max(1, int(top / m_rowHeight) + 1);
    s.column = std::max(1, int(left / m_columnWidth) + 1);
    s.left = left;
    s.top = top;
    s.width = width;
    s.height = height;
    s.file = file;
    m_shapes.push_back(s);
    return true;
}

bool MemoryWorkbook::load()
{
    m_journal->noteThread();
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_lastError = file.errorString();
        return false;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject() ||
        !doc.object().value("sheets").isArray()) {
        m_lastError = QStringLiteral("not a workbook");
        return false;
    }
    const QJsonObject root = doc.object();
    m_saveError = root.value("saveError").toString();
    m_damage = root.value("damage").toString();
    for (const QJsonValue& s : root.value("sheets").toArray()) {
        const QJsonObject o = s.toObject();
        auto sheet = std::make_unique<MemorySheet>(o.value("name").toString(), o.value("chart").toBool(),
                                                   o.value("hidden").toBool());
        sheet->setLocked(o.value("locked").toBool());
        const QJsonObject cells = o.value("cells").toObject();
        for (auto it = cells.begin(); it != cells.end(); ++it) {
            const auto r = automation::parseRangeAddress(it.key());
            if (r)
                sheet->cells()[{r->firstRow, r->firstColumn}] = it.value().toString();
        }
        sheet->setGeometry(o.value("rowHeight").toDouble(15), o.value("columnWidth").toDouble(48));
        for (const QJsonValue& v : o.value("shapes").toArray()) {
            const QJsonObject so = v.toObject();
            MemorySheet::Shape shape;
            shape.left = so.value("left").toDouble();
            shape.top = so.value("top").toDouble();
            shape.width = so.value("width").toDouble();
            shape.height = so.value("height").toDouble();
            shape.file = so.value("file").toString();
            const auto at = automation::parseRangeAddress(so.value("cell").toString());
            if (at) {
                shape.row = at->firstRow;
                shape.column = at->firstColumn;
            } else {
                shape.row = std::max(1, int(shape.top / sheet->rowHeight()) + 1);
                shape.column = std::max(1, int(shape.left / sheet->columnWidth()) + 1);
            }
            sheet->shapes().push_back(shape);
        }
        m_sheets.push_back(std::move(sheet));
    }
    return true;
}

automation::Sheet* MemoryWorkbook::sheet(int index)
{
    m_journal->noteThread();
    if (index < 1 || index > int(m_sheets.size()))
        return nullptr;
    return m_sheets[size_t(index - 1)].get();
}

bool MemoryWorkbook::deleteSheet(int index)
{
    m_journal->noteThread();
    if (index < 1 || index > int(m_sheets.size())) {
        m_lastError = QStringLiteral("there is no sheet %1").arg(index);
        return false;
    }
    const auto visible =
        std::count_if(m_sheets.begin(), m_sheets.end(), [](const auto& s) { return !s->isHidden(); });
    if (visible == 1 && !m_sheets[size_t(index - 1)]->isHidden()) {
        m_lastError = QStringLiteral("a workbook must keep at least one visible sheet");
        return false;
    }
    m_sheets.erase(m_sheets.begin() + (index - 1));
    return true;
}

bool MemoryWorkbook::save()
{
    if (!m_saveError.isEmpty()) {
        m_lastError = m_saveError;
        return false;
    }
    QJsonArray sheets;
    for (const auto& s : m_sheets) {
        QJsonObject o;
        o.insert("name", s->name());
        if (s->isChart())
            o.insert("chart", true);
        if (s->isLocked())
            o.insert("locked", true);
        if (s->isHidden())
            o.insert("hidden", true);
        QJsonObject cells;
        for (const auto& [key, text] : s->cells())
            cells.insert(automation::cellName({key.first, key.second}), text);
        o.insert("cells", cells);
        if (!s->shapes().empty() || s->rowHeight() != 15 || s->columnWidth() != 48) {
            o.insert("rowHeight", s->rowHeight());
            o.insert("columnWidth", s->columnWidth());
            QJsonArray shapes;
            for (const MemorySheet::Shape& shape : s->shapes()) {
                shapes.append(QJsonObject{{"cell", automation::cellName({shape.row, shape.column})},
                                          {"left", shape.left},
                                          {"top", shape.top},
                                          {"width", shape.width},
                                          {"height", shape.height},
                                          {"file", shape.file}});
            }
            o.insert("shapes", shapes);
        }
        sheets.append(o);
    }
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) {
        m_lastError = file.errorString();
        return false;
    }
    file.write(QJsonDocument(QJsonObject{{"sheets", sheets}}).toJson());
    if (!file.commit()) {
        m_lastError = file.errorString();
        return false;
    }
    m_journal->note(m_journal->saved, m_path);
    return true;
}

void MemoryWorkbook::close()
{
    m_journal->note(m_journal->closed, m_path);
    m_sheets.clear();
}

MemoryServer::MemoryServer(std::shared_ptr<ServerJournal> journal, bool available)
    : m_journal(std::move(journal)), m_available(available)
{
    std::lock_guard<std::mutex> lock(m_journal->mutex);
    ++m_journal->serversMade;
    m_journal->threads.push_back(QThread::currentThread());
}

MemoryServer::~MemoryServer()
{
    std::lock_guard<std::mutex> lock(m_journal->mutex);
    ++m_journal->destroyed;
    m_journal->threads.push_back(QThread::currentThread());
}

bool MemoryServer::isAvailable()
{
    m_journal->noteThread();
    if (!m_available)
        m_lastError = QStringLiteral("test server switched off");
    return m_available;
}

std::unique_ptr<automation::Workbook> MemoryServer::open(const QString& path)
{
    m_journal->note(m_journal->opened, path);
    auto workbook = std::make_unique<MemoryWorkbook>(path, m_journal);
    if (!workbook->load()) {
        m_lastError = workbook->lastError();
        return nullptr;
    }
    return workbook;
}

void MemoryServer::quit()
{
    std::lock_guard<std::mutex> lock(m_journal->mutex);
    ++m_journal->quits;
    m_journal->threads.push_back(QThread::currentThread());
}

void writeMemoryWorkbook(const QString& path, const std::vector<std::pair<QString, SheetCells>>& sheets,
                         const QString& saveError, const QString& damage)
{
    QJsonArray array;
    for (const auto& [name, cells] : sheets) {
        QJsonObject o;
        o.insert("name", name);
        QJsonObject c;
        for (const auto& [address, text] : cells)
            c.insert(address, text);
        o.insert("cells", c);
        array.append(o);
    }
    QJsonObject root{{"sheets", array}};
    if (!saveError.isEmpty())
        root.insert("saveError", saveError);
    if (!damage.isEmpty())
        root.insert("damage", damage);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(QJsonDocument(root).toJson());
}

QJsonObject readMemorySheet(const QString& path, int index)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonArray sheets = QJsonDocument::fromJson(file.readAll()).object().value("sheets").toArray();
    return sheets.at(index).toObject().value("cells").toObject();
}

QJsonObject readMemorySheetObject(const QString& path, int index)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object().value("sheets").toArray().at(index).toObject();
}

} // namespace corvane::testsupport
