#include "sheetplaces.h"

#include "package.h"
#include "placetext.h"
#include "relationships.h"
#include "text/searchpattern.h"
#include "xmlelement.h"
#include "xmlpart.h"
#include "xmltext.h"

#include <cstring>
#include <set>
#include <vector>

namespace corvane::automation::native {

namespace {

constexpr const char* kRelationshipsNs =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::string rawText(pugi::xml_node element)
{
    std::string raw;
    for (pugi::xml_node c = element.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_pcdata)
            raw += c.value();
        else if (c.type() == pugi::node_cdata)
            raw += encodeXml(QString::fromUtf8(c.value()));
    return raw;
}

void setRawText(pugi::xml_node element, const std::string& raw)
{
    while (element.first_child())
        element.remove_child(element.first_child());
    if (!raw.empty())
        element.append_child(pugi::node_pcdata).set_value(raw.c_str());
}

// A spreadsheet text element (<t>): blanks at its ends are kept only when it says so.
void setCellText(pugi::xml_node t, const QString& text)
{
    setRawText(t, encodeCellText(text));
    const bool blankEnds = !text.isEmpty() && (text.front().isSpace() || text.back().isSpace());
    if (blankEnds && !t.attribute("xml:space"))
        t.append_attribute("xml:space").set_value("preserve");
}

bool endsWithType(const std::string& type, const char* suffix)
{
    const std::string tail = std::string("/") + suffix;
    return type.size() >= tail.size() && type.compare(type.size() - tail.size(), tail.size(), tail) == 0;
}

class PlaceWork
{
public:
    PlaceWork(Package& package, const PlaceEdit& edit)
        : m_package(package), m_edit(edit), m_pattern(edit.what, false)
    {
    }

    PlaceOutcome outcome;
    QString damage;

    // The part parsed, null (with the damage noted) when it cannot be read.
    XmlPart* part(const std::string& name)
    {
        XmlPart* p = m_package.part<XmlPart>(name);
        if (!p && damage.isEmpty())
            damage = m_package.error();
        return p;
    }

    Relationships* relsOf(const std::string& source)
    {
        const std::string name = Relationships::relsPartFor(source);
        if (!m_package.contains(name))
            return nullptr;
        Relationships* rels = m_package.part<Relationships>(name);
        if (!rels) {
            if (damage.isEmpty())
                damage = m_package.error();
            return nullptr;
        }
        rels->setSource(source);
        return rels;
    }

    std::vector<std::string> related(Relationships* rels, const char* typeSuffix) const
    {
        std::vector<std::string> out;
        if (!rels)
            return out;
        for (const Relationship& r : rels->all())
            if (!r.external && endsWithType(r.type, typeSuffix) && m_package.contains(r.target))
                out.push_back(r.target);
        return out;
    }

    bool empty() const { return m_pattern.isEmpty(); }
    bool findOnly() const { return m_edit.findOnly; }

    void refuse(const QString& why)
    {
        if (!outcome.refusal.isEmpty())
            outcome.refusal += QStringLiteral("; ");
        outcome.refusal += why;
    }

    // Replaces in the text of an attribute; true when it matched. A change is recorded as
    // `record` with the attribute's texts.
    bool attribute(pugi::xml_attribute attr, bool asTarget, XmlPart& owner, PlaceChange record)
    {
        if (!attr)
            return false;
        const QString before = attributeText(attr.value());
        QString text = before;
        const bool hit =
            asTarget ? replaceInLinkTarget(m_pattern, m_edit.replacement, text) : replaceText(text);
        if (!hit)
            return false;
        outcome.found = true;
        if (!m_edit.findOnly) {
            attr.set_value(encodeXml(text, true).c_str());
            owner.setDirty();
            changed(std::move(record), before, text);
        }
        return true;
    }

    void changed(PlaceChange record, const QString& before, const QString& after)
    {
        outcome.changed = true;
        record.before = before;
        record.after = after;
        outcome.changes.push_back(std::move(record));
    }

    bool replaceText(QString& text) const
    {
        if (m_pattern.occurrences(text).empty())
            return false;
        text = m_pattern.replaceAll(text, m_edit.replacement);
        return true;
    }

    const SearchPattern& pattern() const { return m_pattern; }
    const QString& replacement() const { return m_edit.replacement; }

private:
    Package& m_package;
    const PlaceEdit& m_edit;
    SearchPattern m_pattern;
};

QString cellRef(pugi::xml_node node)
{
    return attributeText(node.attribute("ref").value());
}

// Threaded comments first: one whose change is refused keeps its note too (returned by cell).
// The cells of changed ones go to `reported`: their notes change with them as one comment.
std::set<QString> threadedComments(PlaceWork& work, const std::string& partName, bool protectsObjects,
                                   std::set<QString>& reported)
{
    std::set<QString> kept;
    XmlPart* part = work.part(partName);
    if (!part)
        return kept;
    for (pugi::xml_node c = part->root().first_child(); c; c = c.next_sibling()) {
        if (!isElement(c, "threadedComment"))
            continue;
        pugi::xml_node textNode = firstChildElement(c, "text");
        // Plain XML text: no _xHHHH_ escapes here, unlike the notes' texts.
        const QString text = decodeXml(rawText(textNode));
        const auto hits = work.pattern().occurrences(text);
        if (hits.empty())
            continue;
        work.outcome.found = true;
        if (work.findOnly())
            continue;
        if (protectsObjects) {
            kept.insert(cellRef(c));
            work.refuse(QStringLiteral("the comment at %1 is protected").arg(cellRef(c)));
            continue;
        }
        // A mention names a stretch of the text by position: it moves with the text before it,
        // and a hit inside it would cut the person's name apart.
        std::vector<std::pair<pugi::xml_attribute, int>> moved;
        bool split = false;
        for (pugi::xml_node m = firstChildElement(c, "mentions").first_child(); m; m = m.next_sibling()) {
            if (!isElement(m, "mention"))
                continue;
            pugi::xml_attribute startAttr = m.attribute("startIndex");
            const int start = boundedInt(startAttr.value(), 0, 1 << 30, 0);
            const int length = boundedInt(m.attribute("length").value(), 0, 1 << 30, 0);
            int shift = 0;
            for (const auto& [at, len] : hits) {
                if (at + len <= start)
                    shift += int(work.replacement().size()) - len;
                else if (at < start + length)
                    split = true;
            }
            moved.emplace_back(startAttr, start + shift);
        }
        if (split) {
            kept.insert(cellRef(c));
            work.refuse(QStringLiteral("the comment at %1 holds the text inside a mention").arg(cellRef(c)));
            continue;
        }
        QString changed = text;
        work.replaceText(changed);
        setRawText(textNode, encodeXml(changed));
        for (auto& [attr, start] : moved)
            attr.set_value(std::to_string(start).c_str());
        part->setDirty();
        reported.insert(cellRef(c));
        work.changed({ChangeKind::Comment, cellRef(c), {}, {}, {}}, text, changed);
    }
    return kept;
}

void legacyComments(PlaceWork& work, const std::string& partName, bool protectsObjects,
                    const std::set<QString>& kept, const std::set<QString>& reported)
{
    XmlPart* part = work.part(partName);
    if (!part)
        return;
    pugi::xml_node list = firstChildElement(part->root(), "commentList");
    for (pugi::xml_node c = list.first_child(); c; c = c.next_sibling()) {
        if (!isElement(c, "comment"))
            continue;
        std::vector<pugi::xml_node> nodes;
        std::vector<QString> runs;
        for (pugi::xml_node piece = firstChildElement(c, "text").first_child(); piece;
             piece = piece.next_sibling()) {
            pugi::xml_node t = isElement(piece, "t")   ? piece
                               : isElement(piece, "r") ? firstChildElement(piece, "t")
                                                       : pugi::xml_node();
            if (!t)
                continue;
            nodes.push_back(t);
            runs.push_back(decodeCellText(rawText(t)));
        }
        const std::vector<QString> before = runs;
        if (!replaceInRuns(work.pattern(), work.replacement(), runs))
            continue;
        work.outcome.found = true;
        if (work.findOnly() || kept.count(cellRef(c)))
            continue;
        if (protectsObjects) {
            work.refuse(QStringLiteral("the comment at %1 is protected").arg(cellRef(c)));
            continue;
        }
        for (size_t i = 0; i < nodes.size(); ++i)
            if (runs[i] != before[i])
                setCellText(nodes[i], runs[i]);
        part->setDirty();
        if (reported.count(cellRef(c))) {
            work.outcome.changed = true;
        } else {
            QString was, now;
            for (size_t i = 0; i < runs.size(); ++i) {
                was += before[i];
                now += runs[i];
            }
            work.changed({ChangeKind::Comment, cellRef(c), {}, {}, {}}, was, now);
        }
    }
}

// A shape's text as its paragraphs' runs, one paragraph a line.
QString wholeShapeText(pugi::xml_node body)
{
    QString text;
    bool first = true;
    for (pugi::xml_node p = body.first_child(); p; p = p.next_sibling()) {
        if (!isElement(p, "p"))
            continue;
        if (!first)
            text += QLatin1Char('\n');
        first = false;
        for (pugi::xml_node r = p.first_child(); r; r = r.next_sibling())
            if (isElement(r, "r"))
                text += decodeXml(rawText(firstChildElement(r, "t")));
    }
    return text;
}

// The shape that holds a text body, as a report names it: its name, and the cell its anchor
// starts at (none for an absolute anchor).
PlaceChange shapeChange(pugi::xml_node body)
{
    PlaceChange change{ChangeKind::ShapeText, {}, {}, {}, {}};
    const pugi::xml_node shape = body.parent();
    for (pugi::xml_node props = shape.first_child(); props && change.detail.isEmpty();
         props = props.next_sibling())
        if (pugi::xml_node named = firstChildElement(props, "cNvPr"))
            change.detail = attributeText(named.attribute("name").value());
    for (pugi::xml_node up = shape.parent(); up; up = up.parent()) {
        if (!isElement(up, "twoCellAnchor") && !isElement(up, "oneCellAnchor"))
            continue;
        const pugi::xml_node from = firstChildElement(up, "from");
        const CellAddress cell{
            boundedInt(firstChildElement(from, "row").text().get(), 0, kMaxRows - 1, 0) + 1,
            boundedInt(firstChildElement(from, "col").text().get(), 0, kMaxColumns - 1, 0) + 1};
        change.cell = cellName(cell);
        break;
    }
    return change;
}

// The runs of each paragraph of a shape's text, a field or line break ending a stretch.
void shapeText(PlaceWork& work, XmlPart& part, pugi::xml_node body, bool protectsObjects)
{
    const QString whole = wholeShapeText(body);
    bool changed = false;
    for (pugi::xml_node p = body.first_child(); p; p = p.next_sibling()) {
        if (!isElement(p, "p"))
            continue;
        std::vector<pugi::xml_node> nodes;
        std::vector<QString> runs;
        const auto flush = [&]() {
            const std::vector<QString> before = runs;
            if (!runs.empty() && replaceInRuns(work.pattern(), work.replacement(), runs)) {
                work.outcome.found = true;
                if (protectsObjects && !work.findOnly()) {
                    work.refuse(QStringLiteral("the sheet's shapes are protected"));
                } else if (!work.findOnly()) {
                    for (size_t i = 0; i < nodes.size(); ++i)
                        if (runs[i] != before[i])
                            setRawText(nodes[i], encodeXml(runs[i]));
                    part.setDirty();
                    changed = true;
                }
            }
            nodes.clear();
            runs.clear();
        };
        for (pugi::xml_node r = p.first_child(); r; r = r.next_sibling()) {
            if (isElement(r, "r")) {
                if (pugi::xml_node t = firstChildElement(r, "t")) {
                    nodes.push_back(t);
                    runs.push_back(decodeXml(rawText(t)));
                }
            } else if (isElement(r, "br") || isElement(r, "fld")) {
                flush();
            }
        }
        flush();
    }
    if (changed)
        work.changed(shapeChange(body), whole, wholeShapeText(body));
}

void shapes(PlaceWork& work, const std::string& drawingPart, bool protectsObjects)
{
    XmlPart* part = work.part(drawingPart);
    if (!part)
        return;
    struct Walker : pugi::xml_tree_walker
    {
        std::vector<pugi::xml_node> bodies;
        bool for_each(pugi::xml_node& node) override
        {
            if (isElement(node, "txBody"))
                bodies.push_back(node);
            return true;
        }
    } walker;
    part->root().traverse(walker);
    for (pugi::xml_node body : walker.bodies)
        shapeText(work, *part, body, protectsObjects);
}

void headers(PlaceWork& work, XmlPart& sheet)
{
    pugi::xml_node hf = firstChildElement(sheet.root(), "headerFooter");
    for (pugi::xml_node h = hf.first_child(); h; h = h.next_sibling()) {
        if (h.type() != pugi::node_element)
            continue;
        const QString before = decodeCellText(rawText(h));
        QString text = before;
        if (!replaceInHeaderText(work.pattern(), work.replacement(), text))
            continue;
        work.outcome.found = true;
        if (work.findOnly())
            continue;
        setCellText(h, text);
        sheet.setDirty();
        const std::string_view name = localName(h);
        const QString element = QString::fromUtf8(name.data(), static_cast<int>(name.size()));
        work.changed({ChangeKind::HeaderFooter, {}, element, {}, {}}, before, text);
    }
}

// The external target of relationship `id`; empty when it has none.
pugi::xml_attribute externalTarget(Relationships& rels, const std::string& id)
{
    for (pugi::xml_node r = rels.root().first_child(); r; r = r.next_sibling()) {
        if (!isElement(r, "Relationship") || id != r.attribute("Id").value())
            continue;
        if (std::strcmp(r.attribute("TargetMode").value(), "External") != 0)
            return {};
        return r.attribute("Target");
    }
    return {};
}

void hyperlinks(PlaceWork& work, XmlPart& sheet, Relationships* rels)
{
    std::set<std::string> done;
    pugi::xml_node list = firstChildElement(sheet.root(), "hyperlinks");
    for (pugi::xml_node h = list.first_child(); h; h = h.next_sibling()) {
        if (!isElement(h, "hyperlink"))
            continue;
        const QString cell = cellRef(h);
        work.attribute(h.attribute("display"), false, sheet,
                       {ChangeKind::Hyperlink, cell, QStringLiteral("display"), {}, {}});
        const std::string id = sheet.nsAttribute(h, kRelationshipsNs, "id").value();
        if (id.empty() || !rels || !done.insert(id).second)
            continue;
        work.attribute(externalTarget(*rels, id), true, *rels,
                       {ChangeKind::Hyperlink, cell, QStringLiteral("target"), {}, {}});
    }
}

// An external link as formulas name it: "externalLink N", N its place among the workbook's
// external references (formulas write [N]); the part's name when the workbook does not list it.
QString externalLinkName(Package& package, const std::string& workbookPart, Relationships& rels,
                         const std::string& link)
{
    std::string id;
    for (const Relationship& r : rels.all())
        if (!r.external && r.target == link)
            id = r.id;
    if (XmlPart* book = package.part<XmlPart>(workbookPart)) {
        int number = 0;
        for (pugi::xml_node ref : firstChildElement(book->root(), "externalReferences").children()) {
            if (!isElement(ref, "externalReference"))
                continue;
            ++number;
            if (!id.empty() && id == book->nsAttribute(ref, kRelationshipsNs, "id").value())
                return QStringLiteral("externalLink %1").arg(number);
        }
    }
    return QString::fromStdString(link);
}

} // namespace

PlaceOutcome replaceInSheetPlaces(Package& package, const std::string& sheetPart, XmlPart& sheet,
                                  bool protectsObjects, const PlaceEdit& edit, QString& damage)
{
    PlaceWork work(package, edit);
    if (work.empty())
        return {};
    Relationships* rels = work.relsOf(sheetPart);
    if (edit.places.has(ReplacePlace::Comments)) {
        std::set<QString> kept;
        std::set<QString> reported;
        for (const std::string& part : work.related(rels, "threadedComment"))
            for (const QString& ref : threadedComments(work, part, protectsObjects, reported))
                kept.insert(ref);
        for (const std::string& part : work.related(rels, "comments"))
            legacyComments(work, part, protectsObjects, kept, reported);
    }
    if (edit.places.has(ReplacePlace::Shapes))
        for (const std::string& part : work.related(rels, "drawing"))
            shapes(work, part, protectsObjects);
    if (edit.places.has(ReplacePlace::Headers))
        headers(work, sheet);
    if (edit.places.has(ReplacePlace::Links))
        hyperlinks(work, sheet, rels);
    damage = work.damage;
    return work.outcome;
}

PlaceOutcome replaceInExternalLinks(Package& package, const std::string& workbookPart, const PlaceEdit& edit,
                                    QString& damage)
{
    PlaceWork work(package, edit);
    if (work.empty() || !edit.places.has(ReplacePlace::Links))
        return {};
    Relationships* workbookRels = work.relsOf(workbookPart);
    for (const std::string& link : work.related(workbookRels, "externalLink")) {
        const PlaceChange record{ChangeKind::ExternalLink,
                                 {},
                                 externalLinkName(package, workbookPart, *workbookRels, link),
                                 {},
                                 {}};
        if (Relationships* rels = work.relsOf(link)) {
            for (pugi::xml_node r = rels->root().first_child(); r; r = r.next_sibling())
                if (isElement(r, "Relationship") &&
                    std::strcmp(r.attribute("TargetMode").value(), "External") == 0)
                    work.attribute(r.attribute("Target"), true, *rels, record);
        }
        if (XmlPart* part = work.part(link))
            for (pugi::xml_node dde = firstChildElement(part->root(), "ddeLink"); dde; dde = pugi::xml_node())
                work.attribute(dde.attribute("ddeTopic"), false, *part, record);
    }
    damage = work.damage;
    return work.outcome;
}

} // namespace corvane::automation::native
