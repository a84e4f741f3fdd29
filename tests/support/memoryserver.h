// A small but complete server for tests: each "workbook" is a JSON file holding sheets of
// typed cell texts. It finds and replaces with the rules of Corvane's servers (formula texts
// and constants, part of the cell, letter case ignored, by rows, wildcards * ? ~, an empty
// text matches nothing), so operations can be tested end to end without a real engine.
//
// File form: {"sheets": [{"name": "Sheet1", "cells": {"A1": "text", "B2": "=A1"}},
//                        {"name": "Chart1", "chart": true},
//                        {"name": "Old", "hidden": true},
//                        {"name": "Locked", "locked": true}],   <- refuses cell writes and
//                                                row and column edits, as a protected sheet does
//             "saveError": "disk full"}      <- optional: every save fails with this reason
// A sheet may add a drawing layer: "rowHeight" and "columnWidth" in points (15 and 48 when
// absent, the same for every row and column) and "shapes": [{"cell": "B2"} or
// {"left": 10, "top": 20, "width": -1, "height": 50, "file": "/p/a.png"}]; a shape's top-left
// cell is its "cell", or the cell under (left, top).
// A file that is not such a JSON object cannot be opened.
#pragma once

#include "automation/automationserver.h"
#include "automation/sheet.h"
#include "automation/workbook.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QThread>

#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace corvane::testsupport {

// What the servers of a test did, for assertions; shared by every server made from it.
struct ServerJournal
{
    std::mutex mutex;
    int serversMade = 0;
    int quits = 0;
    int destroyed = 0;
    QStringList opened; // paths as passed to open, in order
    QStringList saved;
    QStringList closed;
    std::vector<QThread*> threads; // thread of every call into a server or its objects

    void note(QStringList& list, const QString& path);
    void noteThread();
};

class MemorySheet : public automation::Sheet
{
public:
    MemorySheet(QString name, bool chart, bool hidden = false)
        : m_name(std::move(name)), m_chart(chart), m_hidden(hidden)
    {
    }

    QString name() const override { return m_name; }
    std::optional<automation::RangeAddress> usedRange() override;
    std::optional<automation::RangeAddress> range(const QString& address) override;
    std::optional<automation::CellAddress> cell(int row, int column) override;
    std::optional<automation::CellAddress> find(const automation::RangeAddress& in,
                                                const automation::FindQuery& query,
                                                std::optional<automation::CellAddress> after) override;
    bool replace(const automation::RangeAddress& in, const QString& what, const QString& replacement,
                 const automation::CellChanged& changed = {}) override;
    automation::CellValue value(const automation::CellAddress& cell) override;
    QString formula(const automation::CellAddress& cell) override;
    bool setValue(const automation::CellAddress& cell, const QString& text) override;
    bool setFormula(const automation::CellAddress& cell, const QString& text) override;
    // Cells move; formula texts are not adjusted (this server does not read references).
    bool deleteRow(int row) override;
    bool deleteColumn(int column) override;
    bool insertRow(int row) override;
    bool insertColumn(int column) override;
    std::optional<double> cellLeft(const automation::CellAddress& cell) override;
    std::optional<double> cellTop(const automation::CellAddress& cell) override;
    int shapeCount() override { return int(m_shapes.size()); }
    std::optional<automation::CellAddress> shapeTopLeftCell(int index) override;
    bool deleteShape(int index) override;
    // Takes any readable, non-empty file for a picture and records the arguments as passed.
    bool addPicture(const QString& file, double left, double top, double width, double height) override;
    QString lastError() const override { return m_lastError; }

    struct Shape
    {
        int row = 1, column = 1; // top-left cell
        double left = 0, top = 0, width = 0, height = 0;
        QString file; // empty for a shape that was in the workbook before
    };
    std::vector<Shape>& shapes() { return m_shapes; }
    double rowHeight() const { return m_rowHeight; }
    double columnWidth() const { return m_columnWidth; }
    void setGeometry(double rowHeight, double columnWidth)
    {
        m_rowHeight = rowHeight;
        m_columnWidth = columnWidth;
    }

    bool isChart() const { return m_chart; }
    void setLocked(bool locked) { m_locked = locked; }
    bool isLocked() const { return m_locked; }
    // Row and column edits made, in order ("delete row 3", "insert column 2").
    const QStringList& edits() const { return m_edits; }
    bool isHidden() const { return m_hidden; }
    // Cells keyed by (row, column), so iteration runs by rows.
    std::map<std::pair<int, int>, QString>& cells() { return m_cells; }

private:
    // Moves every cell at or after `from` along rows (or columns) by `delta`; cells at `from`
    // are dropped first when `drop` is set.
    bool shift(bool rows, int from, int delta, bool drop, const QString& edit);

    QString m_name;
    bool m_chart = false;
    bool m_hidden = false;
    bool m_locked = false;
    std::map<std::pair<int, int>, QString> m_cells;
    QStringList m_edits;
    std::vector<Shape> m_shapes;
    double m_rowHeight = 15;
    double m_columnWidth = 48;
    QString m_lastError;
};

class MemoryWorkbook : public automation::Workbook
{
public:
    MemoryWorkbook(QString path, std::shared_ptr<ServerJournal> journal)
        : m_path(std::move(path)), m_journal(std::move(journal))
    {
    }

    bool load();
    int sheetCount() override { return int(m_sheets.size()); }
    automation::Sheet* sheet(int index) override;
    // Refuses, like the spreadsheet application, to leave the workbook without a visible sheet.
    bool deleteSheet(int index) override;
    bool save() override;
    void close() override;
    QString lastError() const override { return m_lastError; }
    QString damage() const override { return m_damage; }

private:
    QString m_path;
    std::shared_ptr<ServerJournal> m_journal;
    std::vector<std::unique_ptr<MemorySheet>> m_sheets;
    QString m_saveError;
    QString m_damage;
    QString m_lastError;
};

class MemoryServer : public automation::AutomationServer
{
public:
    explicit MemoryServer(std::shared_ptr<ServerJournal> journal = std::make_shared<ServerJournal>(),
                          bool available = true);
    ~MemoryServer() override;

    bool isAvailable() override;
    std::unique_ptr<automation::Workbook> open(const QString& path) override;
    void quit() override;
    QString lastError() const override { return m_lastError; }

private:
    std::shared_ptr<ServerJournal> m_journal;
    bool m_available = true;
    QString m_lastError;
};

// Builds the JSON of one workbook: sheets as (name, {address: text}) pairs.
using SheetCells = std::vector<std::pair<QString, QString>>;
// `damage` makes the workbook report a part it could not read.
void writeMemoryWorkbook(const QString& path, const std::vector<std::pair<QString, SheetCells>>& sheets,
                         const QString& saveError = {}, const QString& damage = {});
// Reads back the cells of sheet `index` (0-based) as {address: text}; empty when unreadable.
QJsonObject readMemorySheet(const QString& path, int index);
// The whole JSON object of sheet `index` (0-based), shapes and geometry included.
QJsonObject readMemorySheetObject(const QString& path, int index);

} // namespace corvane::testsupport
