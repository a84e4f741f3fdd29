// Deleting a sheet from a package: the sheet's entry, relationship and part, the parts only it
// used, the names scoped to it, the references into it, the views that pointed at it and the
// document properties that list it. Every check is made before the first change, so a refused
// deletion leaves the workbook as it was.
#include "nativeworkbook.h"

#include "contenttypes.h"
#include "formula/formularewriter.h"
#include "nativesheet.h"
#include "relationships.h"
#include "workbookpart.h"
#include "worksheet.h"
#include "xmlelement.h"
#include "xmltext.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <set>

namespace corvane::automation::native {

namespace {

using formula::LostReferenceStyle;
using formula::removeSheetFromFormula;

// LibreOffice reads the application's "#REF!A1" as a name it cannot resolve; a bare "#REF!" is
// an error reference to both.
constexpr LostReferenceStyle kLostStyle = LostReferenceStyle::Bare;

// Removes an element with the indentation before it, so the surrounding layout stays.
void removeElement(pugi::xml_node node)
{
    pugi::xml_node parent = node.parent();
    pugi::xml_node before = node.previous_sibling();
    if (before.type() == pugi::node_pcdata && before.value()[std::strspn(before.value(), " \t\r\n")] == '\0')
        parent.remove_child(before);
    parent.remove_child(node);
}

bool attributeIsTrue(pugi::xml_attribute a)
{
    return std::strcmp(a.value(), "1") == 0 || std::strcmp(a.value(), "true") == 0;
}

bool endsWith(const std::string& text, const char* suffix)
{
    const size_t n = std::strlen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

// The decoded character data of an element.
std::string elementText(pugi::xml_node element)
{
    return decodeXml(element.child_value()).toStdString();
}

void setElementText(pugi::xml_node element, const std::string& text)
{
    const std::string raw = encodeXml(QString::fromStdString(text));
    pugi::xml_node data = element.first_child();
    if (data && (data.type() == pugi::node_pcdata || data.type() == pugi::node_cdata))
        data.set_value(raw.c_str());
    else
        element.prepend_child(pugi::node_pcdata).set_value(raw.c_str());
}

// Rewrites the element's text when it refers to the deleted sheet; true when it did.
bool rewriteElementText(pugi::xml_node element, const std::string& deleted,
                        const std::vector<std::string>& order)
{
    std::string changed;
    if (!removeSheetFromFormula(elementText(element), deleted, order, changed, kLostStyle))
        return false;
    setElementText(element, changed);
    return true;
}

// Whether raw part bytes may mention the sheet at all; a cheap test before parsing. Names
// compare without regard to case, and quoted names double their apostrophes.
bool mayMention(const std::string& raw, const QString& sheetName)
{
    if (raw.find('!') == std::string::npos)
        return false;
    for (const QChar c : sheetName) {
        if (c.unicode() > 0x7f)
            return true; // letter case beyond ASCII: parse and let the formula reader decide
    }
    const auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(),
                       [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); });
        return s;
    };
    const std::string hay = lower(raw);
    QString doubled = sheetName;
    doubled.replace(QLatin1Char('\''), QLatin1String("''"));
    for (const QString& form : {sheetName, doubled}) {
        if (hay.find(lower(encodeXml(form))) != std::string::npos)
            return true;
        if (hay.find(lower(form.toStdString())) != std::string::npos)
            return true;
    }
    return false;
}

// Formulas kept in a worksheet's tree outside its cells: validation, conditional formats and
// their extension lists.
bool rewriteTreeFormulas(pugi::xml_node node, const std::string& deleted,
                         const std::vector<std::string>& order)
{
    bool changed = false;
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element || isElement(c, "sheetData"))
            continue;
        if (isElement(c, "formula") || isElement(c, "formula1") || isElement(c, "formula2") ||
            isElement(c, "f"))
            changed |= rewriteElementText(c, deleted, order);
        else
            changed |= rewriteTreeFormulas(c, deleted, order);
    }
    return changed;
}

bool rewriteChartFormulas(pugi::xml_node node, const std::string& deleted,
                          const std::vector<std::string>& order)
{
    bool changed = false;
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element)
            continue;
        if (isElement(c, "f"))
            changed |= rewriteElementText(c, deleted, order);
        else
            changed |= rewriteChartFormulas(c, deleted, order);
    }
    return changed;
}

// The sheet's first view says whether its tab is selected.
pugi::xml_node firstSheetView(pugi::xml_node root)
{
    return firstChildElement(firstChildElement(root, "sheetViews"), "sheetView");
}

bool rawTabSelected(const std::string& raw)
{
    // Only the views before the cells matter; the cells may be large.
    const size_t data = raw.find("sheetData");
    const std::string_view head(raw.data(), data == std::string::npos ? raw.size() : data);
    return head.find("tabSelected=\"1\"") != std::string_view::npos ||
           head.find("tabSelected=\"true\"") != std::string_view::npos;
}

// The nearest visible position to `at`, looking right first, then left; -1 when none.
int visibleNear(const std::vector<bool>& hidden, int at)
{
    const int n = int(hidden.size());
    at = std::clamp(at, 0, n - 1);
    for (int i = at; i < n; ++i) {
        if (!hidden[size_t(i)])
            return i;
    }
    for (int i = at - 1; i >= 0; --i) {
        if (!hidden[size_t(i)])
            return i;
    }
    return -1;
}

bool isQuotedPrefixOf(const QString& title, const QString& sheet)
{
    if (title.startsWith(sheet + QLatin1Char('!')))
        return true;
    QString quoted = sheet;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    return title.startsWith(QLatin1Char('\'') + quoted + QLatin1String("'!"));
}

// docProps/app.xml lists the sheets and the named ranges by group (HeadingPairs) and title
// (TitlesOfParts); the two must agree. When they do not, or the deleted sheet is not found,
// both lists are dropped rather than left inconsistent.
void updateAppProperties(XmlPart& app, const QString& deleted)
{
    pugi::xml_node root = app.root();
    pugi::xml_node headings = firstChildElement(root, "HeadingPairs");
    pugi::xml_node titles = firstChildElement(root, "TitlesOfParts");
    if (!headings && !titles)
        return;
    const auto dropBoth = [&] {
        if (headings)
            removeElement(headings);
        if (titles)
            removeElement(titles);
        app.setDirty();
    };
    pugi::xml_node hv = firstChildElement(headings, "vector");
    pugi::xml_node tv = firstChildElement(titles, "vector");
    if (!hv || !tv)
        return dropBoth();

    struct Group
    {
        pugi::xml_node nameVariant, countVariant, countValue;
        int count = 0;
    };
    std::vector<Group> groups;
    std::vector<pugi::xml_node> variants;
    for (pugi::xml_node v = hv.first_child(); v; v = v.next_sibling()) {
        if (v.type() == pugi::node_element)
            variants.push_back(v);
    }
    if (variants.size() % 2 != 0)
        return dropBoth();
    for (size_t i = 0; i < variants.size(); i += 2) {
        Group g;
        g.nameVariant = variants[i];
        g.countVariant = variants[i + 1];
        g.countValue = firstChildElement(g.countVariant, "i4");
        bool ok = false;
        g.count = QString::fromUtf8(g.countValue.child_value()).trimmed().toInt(&ok);
        if (!g.countValue || !ok || g.count < 0)
            return dropBoth();
        groups.push_back(g);
    }
    std::vector<pugi::xml_node> entries;
    for (pugi::xml_node t = tv.first_child(); t; t = t.next_sibling()) {
        if (t.type() == pugi::node_element)
            entries.push_back(t);
    }
    long long total = 0;
    for (const Group& g : groups)
        total += g.count;
    if (total != static_cast<long long>(entries.size()))
        return dropBoth();

    bool sheetFound = false;
    std::vector<pugi::xml_node> removed;
    size_t at = 0;
    for (Group& g : groups) {
        const int count = g.count;
        for (int k = 0; k < count; ++k, ++at) {
            const QString title = decodeXml(entries[at].child_value());
            if ((!sheetFound && title == deleted) || isQuotedPrefixOf(title, deleted)) {
                sheetFound = sheetFound || title == deleted;
                removed.push_back(entries[at]);
                --g.count;
            }
        }
    }
    if (!sheetFound)
        return dropBoth();
    for (pugi::xml_node n : removed)
        removeElement(n);
    int groupCount = 0;
    for (Group& g : groups) {
        if (g.count == 0) {
            removeElement(g.nameVariant);
            removeElement(g.countVariant);
            continue;
        }
        ++groupCount;
        setElementText(g.countValue, std::to_string(g.count));
    }
    hv.attribute("size").set_value(std::to_string(groupCount * 2).c_str());
    tv.attribute("size").set_value(std::to_string(int(entries.size() - removed.size())).c_str());
    app.setDirty();
}

} // namespace

bool NativeWorkbook::deleteSheet(int index)
{
    const auto refuse = [this](const QString& reason) {
        m_lastError = reason;
        return false;
    };
    if (!m_open)
        return refuse(QStringLiteral("the workbook is closed"));
    settle();
    if (index < 1 || index > sheetCount())
        return refuse(QStringLiteral("there is no sheet %1").arg(index));
    const size_t pos = size_t(index - 1);

    pugi::xml_node wbRoot = m_workbook->root();
    pugi::xml_node sheetsNode = m_workbook->child(wbRoot, "sheets");
    std::vector<pugi::xml_node> sheetNodes;
    for (pugi::xml_node s = m_workbook->child(sheetsNode, "sheet"); s; s = s.next_sibling(s.name()))
        sheetNodes.push_back(s);
    if (sheetNodes.size() != m_sheets.size())
        return refuse(QStringLiteral("damaged: the workbook's sheet list changed"));

    if (attributeIsTrue(m_workbook->child(wbRoot, "workbookProtection").attribute("lockStructure")))
        return refuse(QStringLiteral("the workbook's structure is protected"));
    std::vector<bool> hidden;
    for (pugi::xml_node s : sheetNodes) {
        const char* state = s.attribute("state").value();
        hidden.push_back(std::strcmp(state, "hidden") == 0 || std::strcmp(state, "veryHidden") == 0);
    }
    if (!hidden[pos] && std::count(hidden.begin(), hidden.end(), false) == 1)
        return refuse(QStringLiteral("a workbook must keep at least one visible sheet"));

    // Where every sheet's part lies.
    struct SheetPart
    {
        std::string name;
        bool grid = false;
    };
    std::vector<SheetPart> parts;
    for (const SheetEntry& e : m_workbook->sheets()) {
        Relationship rel;
        if (!m_workbookRels->findById(e.relationshipId, rel) || rel.external)
            return refuse(QStringLiteral("damaged: sheet \"%1\" has no part").arg(e.name));
        parts.push_back({rel.target, endsWith(rel.type, "/worksheet")});
    }
    const QString deletedQName = m_sheets[pos]->name();
    const std::string deleted = deletedQName.toStdString();
    std::vector<std::string> order;
    for (const auto& s : m_sheets)
        order.push_back(s->name().toStdString());
    const std::string sheetRelId = m_workbook->sheets()[pos].relationshipId;

    // Parse every other worksheet that may refer to the deleted one before anything changes;
    // note on the way which tabs are selected, so no part is inflated twice.
    std::vector<size_t> referring;
    std::vector<bool> tabSelected(parts.size(), false);
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i == pos)
            continue;
        std::string raw;
        if (!m_package.read(parts[i].name, raw))
            return refuse(m_package.error());
        QString undecodable;
        if (!XmlPart::toUtf8(parts[i].name, raw, undecodable))
            return refuse(undecodable);
        tabSelected[i] = rawTabSelected(raw);
        if (!parts[i].grid || !mayMention(raw, deletedQName))
            continue;
        if (!m_sheets[i]->usedRange())
            return refuse(m_sheets[i]->lastError());
        referring.push_back(i);
    }

    // Which parts only the deleted sheet reaches: those it reaches that the rest of the package
    // no longer does once its relationship is gone.
    std::map<std::string, std::vector<std::string>> links;
    const auto targetsOf = [&](const std::string& part) -> const std::vector<std::string>& {
        auto found = links.find(part);
        if (found != links.end())
            return found->second;
        std::vector<std::string>& out = links[part];
        const std::string relsName = Relationships::relsPartFor(part);
        if (!m_package.contains(relsName))
            return out;
        Relationships* rels = m_package.part<Relationships>(relsName);
        if (!rels)
            return out;
        rels->setSource(part);
        for (const Relationship& r : rels->all()) {
            if (!r.external && !(part == m_workbookPartName && r.id == sheetRelId))
                out.push_back(r.target);
        }
        return out;
    };
    const auto reach = [&](const std::string& from, std::set<std::string>& seen) {
        std::deque<std::string> queue{from};
        seen.insert(from);
        while (!queue.empty()) {
            const std::string part = queue.front();
            queue.pop_front();
            for (const std::string& t : targetsOf(part)) {
                if (seen.insert(t).second)
                    queue.push_back(t);
            }
        }
    };
    std::set<std::string> fromSheet, fromRoot;
    reach(parts[pos].name, fromSheet);
    reach(std::string(), fromRoot); // "" is the package itself: _rels/.rels
    std::vector<std::string> doomed;
    for (const std::string& p : fromSheet) {
        if (!fromRoot.count(p))
            doomed.push_back(p);
    }
    const std::set<std::string> doomedSet(doomed.begin(), doomed.end());

    // Charts that stay and may draw from the deleted sheet.
    std::vector<XmlPart*> charts;
    for (const std::string& p : fromRoot) {
        if (p.empty() || doomedSet.count(p) || !m_package.contains(p))
            continue;
        if (!endsWith(m_contentTypes->contentType(p), "drawingml.chart+xml"))
            continue;
        std::string raw;
        QString undecodable;
        if (!m_package.read(p, raw))
            return refuse(m_package.error());
        if (!XmlPart::toUtf8(p, raw, undecodable))
            return refuse(undecodable);
        if (!mayMention(raw, deletedQName))
            continue;
        XmlPart* chart = m_package.part<XmlPart>(p);
        if (!chart)
            return refuse(m_package.error());
        charts.push_back(chart);
    }

    // The views after the deletion, and which tabs must change their selection.
    std::vector<bool> hiddenAfter = hidden;
    hiddenAfter.erase(hiddenAfter.begin() + std::ptrdiff_t(pos));
    pugi::xml_node bookViews = m_workbook->child(wbRoot, "bookViews");
    int active = -1;
    for (pugi::xml_node v = m_workbook->child(bookViews, "workbookView"); v; v = v.next_sibling(v.name())) {
        int tab = v.attribute("activeTab").as_int(0);
        if (tab > int(pos))
            --tab;
        // A deleted active sheet hands over to its right neighbour, then to the left.
        tab = visibleNear(hiddenAfter, tab);
        int first = v.attribute("firstSheet").as_int(0);
        if (first > int(pos))
            --first;
        first = std::min(visibleNear(hiddenAfter, first), tab);
        if (first < 0 || hiddenAfter[size_t(first)])
            first = tab;
        if (active < 0)
            active = tab;
        const auto store = [&](const char* attr, int value) {
            pugi::xml_attribute a = v.attribute(attr);
            if (a ? a.as_int(0) == value : value == 0)
                return;
            if (!a)
                a = v.append_attribute(attr);
            a.set_value(value);
            m_workbook->setDirty();
        };
        store("activeTab", tab);
        store("firstSheet", first);
    }
    if (active < 0) {
        active = visibleNear(hiddenAfter, 0);
        if (active > 0) {
            // Without a view the first tab is active; it is hidden now, so say which one is.
            if (!bookViews)
                bookViews = wbRoot.insert_child_before(m_workbook->name("bookViews").c_str(), sheetsNode);
            pugi::xml_node view = bookViews.append_child(m_workbook->name("workbookView").c_str());
            view.append_attribute("activeTab").set_value(active);
            view.append_attribute("firstSheet").set_value(active);
        }
    }
    struct TabChange
    {
        size_t sheet; // index before the deletion
        bool select;
    };
    std::vector<TabChange> tabChanges;
    for (size_t i = 0, after = 0; i < parts.size(); ++i) {
        if (i == pos)
            continue;
        const bool want = int(after) == active;
        if (tabSelected[i] != want)
            tabChanges.push_back({i, want});
        ++after;
    }
    std::vector<XmlPart*> tabParts;
    for (const TabChange& c : tabChanges) {
        XmlPart* part = nullptr;
        if (parts[c.sheet].grid) {
            if (!m_sheets[c.sheet]->usedRange())
                return refuse(m_sheets[c.sheet]->lastError());
            part = m_package.part<Worksheet>(parts[c.sheet].name);
        } else {
            part = m_package.part<XmlPart>(parts[c.sheet].name);
        }
        if (!part)
            return refuse(m_package.error());
        tabParts.push_back(part);
    }

    XmlPart* app = appProperties();

    // From here on nothing is refused.
    for (size_t i : referring) {
        Sheet& sheet = *m_sheets[i];
        Worksheet* ws = m_package.part<Worksheet>(parts[i].name);
        struct Change
        {
            CellAddress cell;
            QString text;
            bool array;
        };
        std::vector<Change> changes;
        for (const GridRow& row : ws->grid().rows()) {
            for (const GridCell& cell : row.cells) {
                const bool array = ws->isInArray(row.row, cell.column);
                if (array && !ws->isArrayMaster(row.row, cell.column))
                    continue;
                const QString text = sheet.formula({row.row, cell.column});
                if (!text.startsWith(QLatin1Char('=')))
                    continue;
                std::string changed;
                if (removeSheetFromFormula(text.mid(1).toStdString(), deleted, order, changed, kLostStyle))
                    changes.push_back({{row.row, cell.column}, QString::fromStdString(changed), array});
            }
        }
        for (const Change& c : changes) {
            if (c.array)
                ws->setArrayFormula(c.cell.row, c.cell.column, c.text);
            else
                sheet.setFormula(c.cell, QLatin1Char('=') + c.text);
        }
        if (rewriteTreeFormulas(ws->root(), deleted, order))
            ws->setDirty();
    }
    for (XmlPart* chart : charts) {
        if (rewriteChartFormulas(chart->root(), deleted, order))
            chart->setDirty();
    }
    for (size_t k = 0; k < tabChanges.size(); ++k) {
        pugi::xml_node view = firstSheetView(tabParts[k]->root());
        if (!view)
            continue;
        if (tabChanges[k].select) {
            pugi::xml_attribute a = view.attribute("tabSelected");
            (a ? a : view.append_attribute("tabSelected")).set_value("1");
        } else {
            view.remove_attribute("tabSelected");
        }
        tabParts[k]->setDirty();
    }

    // Names: the deleted sheet's own go, later sheets' positions move down, and references into
    // the deleted sheet are lost.
    pugi::xml_node names = m_workbook->child(wbRoot, "definedNames");
    for (pugi::xml_node n = m_workbook->child(names, "definedName"); n;) {
        pugi::xml_node next = n.next_sibling(n.name());
        pugi::xml_attribute local = n.attribute("localSheetId");
        if (local && local.as_int(-1) == int(pos)) {
            removeElement(n);
        } else {
            if (local && local.as_int(-1) > int(pos))
                local.set_value(local.as_int() - 1);
            rewriteElementText(n, deleted, order);
        }
        n = next;
    }
    if (names && !m_workbook->child(names, "definedName"))
        removeElement(names);

    if (app)
        updateAppProperties(*app, deletedQName);

    removeElement(sheetNodes[pos]);
    m_workbook->forgetSheet(pos);
    m_workbook->setDirty();
    m_workbookRels->remove(sheetRelId);
    for (const std::string& p : doomed) {
        const std::string relsName = Relationships::relsPartFor(p);
        if (m_package.contains(relsName)) {
            m_package.removeEntry(relsName);
            m_contentTypes->removeOverride(relsName);
        }
        m_package.removeEntry(p);
        m_contentTypes->removeOverride(p);
    }
    m_sheets.erase(m_sheets.begin() + std::ptrdiff_t(pos));
    // The calculation chain lists the deleted sheet's cells; it goes, as after any cell change.
    contentsChanged();
    return true;
}

} // namespace corvane::automation::native
