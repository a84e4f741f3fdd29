// Builds small workbook packages from inline XML for the tests, and reads packages back entry by
// entry (including the raw compressed bytes) to check what a save changed.
#pragma once

#include <QString>

#include <map>
#include <string>
#include <vector>

namespace corvane::testing {

struct FixtureSheet
{
    std::string name;
    std::string sheetData;  // the content of <sheetData>, e.g. <row r="1"><c r="A1">...</c></row>
    std::string extra = {}; // elements after </sheetData> (mergeCells, ...)
};

struct FixtureOptions
{
    std::vector<std::string> sharedStrings; // raw <si> contents, e.g. <t>abc</t>
    bool calcChain = false;                 // add xl/calcChain.xml with its relationship and type
    bool withSharedStrings = true;          // false: no sharedStrings part at all
};

// Writes a .xlsx package with the given sheets to `path`. False when it could not be written.
bool writeWorkbook(const QString& path, const std::vector<FixtureSheet>& sheets,
                   const FixtureOptions& options = {});
// Writes a zip with exactly these entries (deflated).
bool writeZip(const QString& path, const std::map<std::string, std::string>& entries);

struct RawEntry
{
    std::uint32_t crc = 0;
    std::uint16_t method = 0;
    std::string compressed; // the stored bytes, still compressed
};

// Every entry of a zip by name; empty when the file is not a readable zip.
std::map<std::string, RawEntry> readRawEntries(const QString& path);
// One entry inflated; empty when missing.
std::string readEntry(const QString& path, const std::string& name);
// Every entry inflated, by name, ready to be changed and written again with writeZip.
std::map<std::string, std::string> readEntries(const QString& path);

QByteArray fileBytes(const QString& path);
// Writes `bytes` as the whole file. False when it could not be written.
bool writeFile(const QString& path, const QByteArray& bytes);

} // namespace corvane::testing
