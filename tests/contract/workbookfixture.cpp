#include "workbookfixture.h"

#include <QFile>

#include <zip.h>

namespace corvane::testing {

namespace {
const char* const kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char* const kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
} // namespace

bool writeZip(const QString& path, const std::map<std::string, std::string>& entries)
{
    QFile::remove(path);
    int error = 0;
    zip_t* z = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!z)
        return false;
    for (const auto& [name, data] : entries) {
        zip_source_t* src = zip_source_buffer(z, data.data(), data.size(), 0);
        if (!src || zip_file_add(z, name.c_str(), src, ZIP_FL_ENC_UTF_8) < 0) {
            zip_discard(z);
            return false;
        }
    }
    return zip_close(z) == 0;
}

bool writeWorkbook(const QString& path, const std::vector<FixtureSheet>& sheets,
                   const FixtureOptions& options)
{
    std::map<std::string, std::string> e;
    std::string types =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" "
        "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/xl/workbook.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>";
    std::string wbRels =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    std::string workbook =
        std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<workbook xmlns=\"") +
        kMain + "\" xmlns:r=\"" + kRel + "\"><sheets>";
    for (size_t i = 0; i < sheets.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        types +=
            "<Override PartName=\"/xl/worksheets/sheet" + n +
            ".xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
        wbRels += "<Relationship Id=\"rId" + n + "\" Type=\"" + kRel +
                  "/worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
        workbook += "<sheet name=\"" + sheets[i].name + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
        e["xl/worksheets/sheet" + n + ".xml"] =
            std::string(
                "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<worksheet xmlns=\"") +
            kMain + "\" xmlns:r=\"" + kRel + "\"><sheetData>" + sheets[i].sheetData + "</sheetData>" +
            sheets[i].extra + "</worksheet>";
    }
    workbook += "</sheets><calcPr calcId=\"191029\"/></workbook>";
    if (options.withSharedStrings) {
        types +=
            "<Override PartName=\"/xl/sharedStrings.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>";
        wbRels += std::string("<Relationship Id=\"rIdS\" Type=\"") + kRel +
                  "/sharedStrings\" Target=\"sharedStrings.xml\"/>";
        const std::string n = std::to_string(options.sharedStrings.size());
        std::string sst =
            std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<sst xmlns=\"") +
            kMain + "\" count=\"" + n + "\" uniqueCount=\"" + n + "\">";
        for (const auto& si : options.sharedStrings)
            sst += "<si>" + si + "</si>";
        e["xl/sharedStrings.xml"] = sst + "</sst>";
    }
    if (options.calcChain) {
        types +=
            "<Override PartName=\"/xl/calcChain.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml\"/>";
        wbRels += std::string("<Relationship Id=\"rIdC\" Type=\"") + kRel +
                  "/calcChain\" Target=\"calcChain.xml\"/>";
        e["xl/calcChain.xml"] =
            std::string(
                "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<calcChain xmlns=\"") +
            kMain + "\"><c r=\"A1\" i=\"1\"/></calcChain>";
    }
    e["[Content_Types].xml"] = types + "</Types>";
    e["_rels/.rels"] =
        std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                    "<Relationship Id=\"rId1\" Type=\"") +
        kRel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
    e["xl/_rels/workbook.xml.rels"] = wbRels + "</Relationships>";
    e["xl/workbook.xml"] = workbook;
    return writeZip(path, e);
}

std::map<std::string, RawEntry> readRawEntries(const QString& path)
{
    std::map<std::string, RawEntry> out;
    int error = 0;
    zip_t* z = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!z)
        return out;
    const zip_int64_t n = zip_get_num_entries(z, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        if (zip_stat_index(z, static_cast<zip_uint64_t>(i), 0, &st) != 0)
            continue;
        RawEntry entry;
        entry.crc = st.crc;
        entry.method = st.comp_method;
        zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), ZIP_FL_COMPRESSED);
        if (f) {
            char buf[65536];
            zip_int64_t got;
            while ((got = zip_fread(f, buf, sizeof buf)) > 0)
                entry.compressed.append(buf, static_cast<size_t>(got));
            zip_fclose(f);
        }
        out[st.name] = std::move(entry);
    }
    zip_discard(z);
    return out;
}

std::string readEntry(const QString& path, const std::string& name)
{
    int error = 0;
    zip_t* z = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!z)
        return {};
    std::string data;
    if (zip_file_t* f = zip_fopen(z, name.c_str(), 0)) {
        char buf[65536];
        zip_int64_t got;
        while ((got = zip_fread(f, buf, sizeof buf)) > 0)
            data.append(buf, static_cast<size_t>(got));
        zip_fclose(f);
    }
    zip_discard(z);
    return data;
}

std::map<std::string, std::string> readEntries(const QString& path)
{
    std::map<std::string, std::string> out;
    for (const auto& [name, raw] : readRawEntries(path))
        out[name] = readEntry(path, name);
    return out;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace corvane::testing
