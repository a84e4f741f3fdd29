#include "drawing.h"

#include "contenttypes.h"
#include "package.h"
#include "relationships.h"
#include "sheetgeometry.h"
#include "worksheet.h"
#include "xmlelement.h"
#include "xmltext.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>

#include <cmath>
#include <cstring>
#include <set>

namespace corvane::automation::native {

namespace {

constexpr const char* kRelationshipsNs =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr const char* kDrawingMainNs = "http://schemas.openxmlformats.org/drawingml/2006/main";
constexpr const char* kSpreadsheetDrawingNs =
    "http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing";
constexpr const char* kDrawingType =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/drawing";
constexpr const char* kImageType =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/image";
constexpr long long kMaxShapeId = 4294967295LL;
constexpr const char* kDrawingContentType = "application/vnd.openxmlformats-officedocument.drawing+xml";
constexpr double kEmuPerPoint = 12700;
constexpr double kPointsPerPixel = 0.75;

bool isAnchor(pugi::xml_node n)
{
    const std::string_view l = localName(n);
    return l == "twoCellAnchor" || l == "oneCellAnchor" || l == "absoluteAnchor";
}

// Every value of a prefixed attribute (r:embed, r:link, r:id, ...) under `node`: the
// relationship ids it may use. Namespace declarations are not references.
void collectReferences(pugi::xml_node node, std::set<std::string>& out)
{
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
        if (std::strchr(a.name(), ':') && std::strncmp(a.name(), "xmlns", 5) != 0)
            out.insert(a.value());
    }
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element)
            collectReferences(c, out);
    }
}

void collectShapeIds(pugi::xml_node node, std::set<long long>& ids)
{
    if (localName(node) == "cNvPr")
        ids.insert(boundedInteger(node.attribute("id").value(), 0, kMaxShapeId, 0));
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element)
            collectShapeIds(c, ids);
    }
}

// An id no object of the drawing has: one past the highest, or, when that would leave the
// unsigned 32-bit range, the lowest free one.
long long freeShapeId(pugi::xml_node root)
{
    std::set<long long> ids;
    collectShapeIds(root, ids);
    const long long next = ids.empty() ? 1 : *ids.rbegin() + 1;
    if (next <= kMaxShapeId)
        return next;
    long long id = 1;
    while (ids.count(id))
        ++id;
    return id;
}

void removeWithIndent(pugi::xml_node node)
{
    pugi::xml_node parent = node.parent();
    pugi::xml_node before = node.previous_sibling();
    if (before.type() == pugi::node_pcdata)
        parent.remove_child(before);
    parent.remove_child(node);
}

std::string freeName(Package& package, const std::string& stem, const std::string& extension)
{
    for (int n = 1;; ++n) {
        std::string name = stem + std::to_string(n) + "." + extension;
        if (!package.contains(name))
            return name;
    }
}

struct Picture
{
    std::string bytes;
    std::string extension;
    std::string contentType;
    QSize pixels;
};

// The file's bytes when the format is one spreadsheet applications show; other formats Qt can
// read are stored as PNG.
bool readPicture(const QString& file, Picture& out, QString& error)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read the picture %1: %2").arg(file, f.errorString());
        return false;
    }
    QByteArray data = f.readAll();
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QByteArray format = reader.format().toLower();
    QSize size = reader.size();
    QImage decoded;
    if (format.isEmpty() || !size.isValid()) {
        decoded = reader.read();
        size = decoded.size();
    }
    if (format.isEmpty() || size.isEmpty()) {
        error = QStringLiteral("cannot read the picture %1: %2")
                    .arg(file, reader.errorString().isEmpty() ? QStringLiteral("not a picture")
                                                              : reader.errorString());
        return false;
    }
    out.pixels = size;
    static const struct
    {
        const char* format;
        const char* extension;
        const char* type;
    } kKnown[] = {{"png", "png", "image/png"},   {"jpeg", "jpeg", "image/jpeg"},
                  {"jpg", "jpeg", "image/jpeg"}, {"gif", "gif", "image/gif"},
                  {"bmp", "bmp", "image/bmp"},   {"tiff", "tiff", "image/tiff"},
                  {"tif", "tiff", "image/tiff"}};
    for (const auto& k : kKnown) {
        if (format == k.format) {
            out.bytes = data.toStdString();
            out.extension = k.extension;
            out.contentType = k.type;
            return true;
        }
    }
    if (decoded.isNull()) {
        buffer.seek(0);
        QImageReader again(&buffer);
        decoded = again.read();
    }
    QByteArray png;
    QBuffer pngBuffer(&png);
    pngBuffer.open(QIODevice::WriteOnly);
    if (decoded.isNull() || !decoded.save(&pngBuffer, "PNG")) {
        error = QStringLiteral("cannot read the picture %1: %2").arg(file, QStringLiteral("not a picture"));
        return false;
    }
    out.bytes = png.toStdString();
    out.extension = "png";
    out.contentType = "image/png";
    return true;
}

std::string emu(double points)
{
    return std::to_string(std::llround(points * kEmuPerPoint));
}

} // namespace

SheetDrawing::SheetDrawing(Package& package, std::string sheetPart, Worksheet& sheet)
    : m_package(package), m_sheetPart(std::move(sheetPart)), m_sheet(sheet)
{
}

XmlPart* SheetDrawing::drawing()
{
    pugi::xml_node link = m_sheet.child(m_sheet.root(), "drawing");
    if (!link)
        return nullptr;
    const std::string id = m_sheet.nsAttribute(link, kRelationshipsNs, "id").value();
    const std::string relsName = Relationships::relsPartFor(m_sheetPart);
    Relationships* rels = m_package.contains(relsName) ? m_package.part<Relationships>(relsName) : nullptr;
    Relationship rel;
    if (!rels) {
        m_error = QStringLiteral("damaged: the sheet's drawing link leads nowhere");
        return nullptr;
    }
    rels->setSource(m_sheetPart);
    if (!rels->findById(id, rel) || rel.external || !m_package.contains(rel.target)) {
        m_error = QStringLiteral("damaged: the sheet's drawing link leads nowhere");
        return nullptr;
    }
    XmlPart* part = m_package.part<XmlPart>(rel.target);
    if (!part) {
        m_error = m_package.error();
        return nullptr;
    }
    m_drawingPart = rel.target;
    return part;
}

std::vector<pugi::xml_node> SheetDrawing::anchors()
{
    std::vector<pugi::xml_node> out;
    XmlPart* part = drawing();
    if (!part)
        return out;
    for (pugi::xml_node n = part->root().first_child(); n; n = n.next_sibling()) {
        if (n.type() != pugi::node_element)
            continue;
        // Markup-compatibility blocks hold one object in alternative forms.
        if (isAnchor(n) || localName(n) == "AlternateContent")
            out.push_back(n);
    }
    return out;
}

int SheetDrawing::count()
{
    return int(anchors().size());
}

std::optional<CellAddress> SheetDrawing::topLeft(int index)
{
    const std::vector<pugi::xml_node> all = anchors();
    if (index < 1 || index > int(all.size())) {
        m_error = QStringLiteral("there is no drawing object %1").arg(index);
        return std::nullopt;
    }
    pugi::xml_node anchor = all[size_t(index - 1)];
    if (!isAnchor(anchor)) {
        // The fallback is the form every reader understands; the choice when there is none.
        pugi::xml_node branch = firstChildElement(anchor, "Fallback");
        pugi::xml_node inner;
        for (pugi::xml_node c = branch.first_child(); c && !inner; c = c.next_sibling())
            inner = isAnchor(c) ? c : pugi::xml_node();
        for (pugi::xml_node b = firstChildElement(anchor, "Choice"); b && !inner; b = b.next_sibling()) {
            for (pugi::xml_node c = b.first_child(); c && !inner; c = c.next_sibling())
                inner = isAnchor(c) ? c : pugi::xml_node();
        }
        if (!inner) {
            m_error = QStringLiteral("drawing object %1 has no anchor").arg(index);
            return std::nullopt;
        }
        anchor = inner;
    }
    if (pugi::xml_node from = firstChildElement(anchor, "from")) {
        const int column =
            boundedInt(firstChildElement(from, "col").child_value(), 0, kMaxColumns - 1, -1) + 1;
        const int row = boundedInt(firstChildElement(from, "row").child_value(), 0, kMaxRows - 1, -1) + 1;
        const CellAddress cell{row, column};
        if (cell.isValid())
            return cell;
    } else if (pugi::xml_node pos = firstChildElement(anchor, "pos")) {
        const SheetGeometry geometry(m_sheet);
        CellAddress cell;
        double offset = 0;
        geometry.columns().locate(pos.attribute("x").as_double() / kEmuPerPoint, cell.column, offset);
        geometry.rows().locate(pos.attribute("y").as_double() / kEmuPerPoint, cell.row, offset);
        return cell;
    }
    m_error = QStringLiteral("drawing object %1 has no valid position").arg(index);
    return std::nullopt;
}

bool SheetDrawing::remove(int index)
{
    const std::vector<pugi::xml_node> all = anchors();
    if (index < 1 || index > int(all.size())) {
        m_error = QStringLiteral("there is no drawing object %1").arg(index);
        return false;
    }
    XmlPart* part = m_package.part<XmlPart>(m_drawingPart);
    std::set<std::string> used;
    collectReferences(all[size_t(index - 1)], used);
    removeWithIndent(all[size_t(index - 1)]);
    part->setDirty();

    const std::string relsName = Relationships::relsPartFor(m_drawingPart);
    if (used.empty() || !m_package.contains(relsName))
        return true;
    std::set<std::string> stillUsed;
    collectReferences(part->root(), stillUsed);
    Relationships* rels = m_package.part<Relationships>(relsName);
    if (!rels)
        return true; // a damaged relationships part is left as it is
    rels->setSource(m_drawingPart);
    std::vector<std::string> orphans;
    for (const std::string& id : used) {
        Relationship rel;
        if (stillUsed.count(id) || !rels->findById(id, rel))
            continue;
        rels->remove(id);
        if (!rel.external)
            orphans.push_back(rel.target);
    }
    for (const std::string& target : orphans)
        dropIfUnused(target, 0);
    return true;
}

void SheetDrawing::dropIfUnused(const std::string& target, int depth)
{
    if (depth > 8 || !m_package.contains(target))
        return;
    const QString wanted = QString::fromStdString(target);
    for (const std::string& name : m_package.relationshipParts()) {
        const std::string source = Relationships::sourceOfRels(name);
        if (!source.empty() && !m_package.contains(source))
            continue; // the relationships of a part that is gone count for nothing
        Relationships* rels = m_package.part<Relationships>(name);
        if (!rels)
            return; // cannot tell: keep the part
        rels->setSource(source);
        for (const Relationship& r : rels->all()) {
            if (!r.external && QString::fromStdString(r.target).compare(wanted, Qt::CaseInsensitive) == 0)
                return;
        }
    }
    std::vector<std::string> children;
    const std::string relsName = Relationships::relsPartFor(target);
    if (m_package.contains(relsName)) {
        if (Relationships* rels = m_package.part<Relationships>(relsName)) {
            rels->setSource(target);
            for (const Relationship& r : rels->all()) {
                if (!r.external)
                    children.push_back(r.target);
            }
        }
        m_package.removeEntry(relsName);
    }
    m_package.removeEntry(target);
    if (auto* types = m_package.part<ContentTypes>("[Content_Types].xml"))
        types->removeOverride(target);
    for (const std::string& child : children)
        dropIfUnused(child, depth + 1);
}

XmlPart* SheetDrawing::createDrawing()
{
    auto* types = m_package.part<ContentTypes>("[Content_Types].xml");
    if (!types) {
        m_error = m_package.error();
        return nullptr;
    }
    const std::string name = freeName(m_package, "xl/drawings/drawing", "xml");
    XmlPart* part = m_package.addPart<XmlPart>(
        name, std::string(
                  "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<xdr:wsDr xmlns:xdr=\"") +
                  kSpreadsheetDrawingNs + "\" xmlns:a=\"" + kDrawingMainNs + "\"></xdr:wsDr>");
    if (!part) {
        m_error = m_package.error();
        return nullptr;
    }
    types->addOverride(name, kDrawingContentType);

    const std::string relsName = Relationships::relsPartFor(m_sheetPart);
    Relationships* rels = m_package.contains(relsName)
                              ? m_package.part<Relationships>(relsName)
                              : m_package.addPart<Relationships>(relsName, Relationships::kEmpty);
    if (!rels) {
        m_error = m_package.error();
        return nullptr;
    }
    rels->setSource(m_sheetPart);
    const std::string id = rels->add(kDrawingType, name);

    // <drawing r:id> at its place in the worksheet's sequence, before everything that follows it.
    std::string prefix;
    pugi::xml_node root = m_sheet.root();
    if (!m_sheet.prefixFor(kRelationshipsNs, prefix) || prefix.empty()) {
        prefix = "r:";
        for (int n = 2; root.attribute(("xmlns:" + prefix.substr(0, prefix.size() - 1)).c_str()); ++n)
            prefix = "r" + std::to_string(n) + ":";
        root.append_attribute(("xmlns:" + prefix.substr(0, prefix.size() - 1)).c_str()) = kRelationshipsNs;
    }
    static const char* const kFollowers[] = {"legacyDrawing",   "legacyDrawingHF", "drawingHF",
                                             "picture",         "oleObjects",      "controls",
                                             "webPublishItems", "tableParts",      "extLst"};
    pugi::xml_node before;
    for (pugi::xml_node c = root.first_child(); c && !before; c = c.next_sibling()) {
        if (c.type() != pugi::node_element)
            continue;
        for (const char* f : kFollowers) {
            if (localName(c) == f)
                before = c;
        }
    }
    pugi::xml_node link = before ? root.insert_child_before(m_sheet.name("drawing").c_str(), before)
                                 : root.append_child(m_sheet.name("drawing").c_str());
    link.append_attribute((prefix + "id").c_str()) = id.c_str();
    m_sheet.setDirty();
    m_drawingPart = name;
    return part;
}

bool SheetDrawing::addPicture(const QString& file, double left, double top, double width, double height,
                              const CellAddress& edges)
{
    Picture picture;
    if (!readPicture(file, picture, m_error))
        return false;
    m_error.clear();
    XmlPart* part = drawing();
    if (!part && !m_error.isEmpty())
        return false;
    if (!part && !(part = createDrawing()))
        return false;
    auto* types = m_package.part<ContentTypes>("[Content_Types].xml");
    if (!types) {
        m_error = m_package.error();
        return false;
    }

    const std::string media = freeName(m_package, "xl/media/image", picture.extension);
    m_package.addEntry(media, std::move(picture.bytes));
    types->ensureDefault(picture.extension, picture.contentType);
    const std::string relsName = Relationships::relsPartFor(m_drawingPart);
    Relationships* rels = m_package.contains(relsName)
                              ? m_package.part<Relationships>(relsName)
                              : m_package.addPart<Relationships>(relsName, Relationships::kEmpty);
    if (!rels) {
        m_error = m_package.error();
        m_package.removeEntry(media);
        return false;
    }
    rels->setSource(m_drawingPart);
    const std::string imageId = rels->add(kImageType, media);

    if (width < 0)
        width = picture.pixels.width() * kPointsPerPixel;
    if (height < 0)
        height = picture.pixels.height() * kPointsPerPixel;
    left = std::max(0.0, left);
    top = std::max(0.0, top);

    const SheetGeometry geometry(m_sheet);
    CellAddress from, to;
    double fromColumnOffset = 0, fromRowOffset = 0, toColumnOffset = 0, toRowOffset = 0;
    geometry.columns().locate(left, from.column, fromColumnOffset, edges.column);
    geometry.rows().locate(top, from.row, fromRowOffset, edges.row);
    geometry.columns().locate(left + width, to.column, toColumnOffset);
    geometry.rows().locate(top + height, to.row, toRowOffset);

    // Names in the drawing's own prefixes; the DrawingML and relationship namespaces are declared
    // on the picture when the drawing does not declare them.
    const auto x = [&](const char* local) { return part->name(local); };
    std::string a, r, declarations;
    if (!part->prefixFor(kDrawingMainNs, a) || a.empty()) {
        a = "a:";
        declarations += std::string(" xmlns:a=\"") + kDrawingMainNs + "\"";
    }
    if (!part->prefixFor(kRelationshipsNs, r) || r.empty()) {
        r = "r:";
        declarations += std::string(" xmlns:r=\"") + kRelationshipsNs + "\"";
    }
    const long long id = freeShapeId(part->root());
    const auto cellMarker = [&](const char* tag, const CellAddress& cell, double columnOffset,
                                double rowOffset) {
        return "<" + x(tag) + "><" + x("col") + ">" + std::to_string(cell.column - 1) + "</" + x("col") +
               "><" + x("colOff") + ">" + emu(columnOffset) + "</" + x("colOff") + "><" + x("row") + ">" +
               std::to_string(cell.row - 1) + "</" + x("row") + "><" + x("rowOff") + ">" + emu(rowOffset) +
               "</" + x("rowOff") + "></" + x(tag) + ">";
    };
    const std::string xml =
        "<" + x("twoCellAnchor") + " editAs=\"oneCell\">" +
        cellMarker("from", from, fromColumnOffset, fromRowOffset) +
        cellMarker("to", to, toColumnOffset, toRowOffset) + "<" + x("pic") + declarations + "><" +
        x("nvPicPr") + "><" + x("cNvPr") + " id=\"" + std::to_string(id) + "\" name=\"Picture " +
        std::to_string(id - 1) + "\"/><" + x("cNvPicPr") + "><" + a + "picLocks noChangeAspect=\"1\"/></" +
        x("cNvPicPr") + "></" + x("nvPicPr") + "><" + x("blipFill") + "><" + a + "blip " + r + "embed=\"" +
        imageId + "\"/><" + a + "stretch><" + a + "fillRect/></" + a + "stretch></" + x("blipFill") + "><" +
        x("spPr") + "><" + a + "xfrm><" + a + "off x=\"" + emu(left) + "\" y=\"" + emu(top) + "\"/><" + a +
        "ext cx=\"" + emu(width) + "\" cy=\"" + emu(height) + "\"/></" + a + "xfrm><" + a +
        "prstGeom prst=\"rect\"><" + a + "avLst/></" + a + "prstGeom></" + x("spPr") + "></" + x("pic") +
        "><" + x("clientData") + "/></" + x("twoCellAnchor") + ">";
    pugi::xml_document fragment;
    if (!fragment.load_buffer(xml.data(), xml.size(), XmlPart::kParseFlags, pugi::encoding_utf8)) {
        m_error = QStringLiteral("internal: the picture's anchor does not parse");
        return false;
    }
    part->root().append_copy(fragment.document_element());
    part->setDirty();
    return true;
}

} // namespace corvane::automation::native
