// Renaming a sheet in a package: its entry in the workbook part, and every place that names it
// (formulas of all sheets, defined names, charts, tables, pivot caches, form controls and their
// legacy drawings, drawing text links, hyperlinks of cells and shapes, the document properties). Every
// changed part is worked out on a copy first, so a refused rename leaves the workbook as it was.
#include "nativeworkbook.h"

#include "automation/sheetnaming.h"
#include "formula/formularewriter.h"
#include "formula/sheetname.h"
#include "nativesheet.h"
#include "relationships.h"
#include "workbookpart.h"
#include "worksheet.h"
#include "xmlelement.h"
#include "xmltext.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>

namespace corvane::automation::native {

namespace {

bool endsWith(const std::string& text, std::string_view suffix)
{
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Whether raw part text may name the sheet at all: a cheap test before a part is parsed. The
// name's longest stretch without characters that XML or formulas write differently ('&<>"
// and the apostrophe, doubled in quoted prefixes) must occur, in any letter case. A name with
// letters that have case outside ASCII is always parsed.
class MentionTest
{
public:
    explicit MentionTest(const QString& name)
    {
        QString longest, current;
        for (const QChar c : name) {
            if (c.unicode() > 0x7f && (c.toLower() != c || c.toUpper() != c))
                m_always = true;
            if (QStringLiteral("'&<>\"").contains(c)) {
                current.clear();
                continue;
            }
            current += c;
            if (current.size() > longest.size())
                longest = current;
        }
        m_piece = utf8String(longest);
        if (m_piece.empty())
            m_always = true;
    }

    bool operator()(std::string_view raw) const
    {
        if (m_always)
            return true;
        if (raw.find('!') == std::string_view::npos && raw.find("sheet=") == std::string_view::npos)
            return false;
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
        return std::search(raw.begin(), raw.end(), m_piece.begin(), m_piece.end(),
                           [&](char a, char b) { return lower(a) == lower(b); }) != raw.end();
    }

private:
    std::string m_piece;
    bool m_always = false;
};

// A pivot chart names its pivot table with the book in front, "[Book.xlsx]Sheet!PivotTable1",
// the book and the sheet quoted together when the sheet needs it: "'[Book.xlsx]My sheet'!PT".
// The formula reader takes the book for another workbook, so the name is read here.
bool renamePivotSource(const std::string& text, const std::string& oldName, const std::string& newName,
                       std::string& out)
{
    const bool quoted = !text.empty() && text[0] == '\'';
    const std::size_t open = quoted ? 1 : 0;
    const std::size_t close = text.find(']', open);
    if (text.compare(open, 1, "[") != 0 || close == std::string::npos)
        return false;
    std::string book = text.substr(open, close + 1 - open);
    std::string sheet;
    std::size_t bang = std::string::npos;
    if (quoted) {
        std::size_t i = close + 1;
        for (; i < text.size(); ++i) {
            if (text[i] == '\'' && i + 1 < text.size() && text[i + 1] == '\'') {
                sheet += '\'';
                ++i;
            } else if (text[i] == '\'') {
                break;
            } else {
                sheet += text[i];
            }
        }
        if (i + 1 < text.size() && text[i + 1] == '!')
            bang = i + 1;
    } else {
        bang = text.find('!', close);
        if (bang != std::string::npos)
            sheet = text.substr(close + 1, bang - close - 1);
    }
    if (bang == std::string::npos || !formula::sheetNamesEqual(sheet, oldName))
        return false;
    const std::string rest = text.substr(bang + 1);
    if (!formula::sheetNameNeedsQuotes(newName)) {
        if (quoted) {
            // The book's apostrophes were doubled inside the quotes.
            std::string plain;
            for (std::size_t i = 0; i < book.size(); ++i) {
                plain += book[i];
                if (book[i] == '\'' && i + 1 < book.size() && book[i + 1] == '\'')
                    ++i;
            }
            book = plain;
        }
        out = book + newName + '!' + rest;
        return true;
    }
    std::string inside = quoted ? book : std::string();
    if (!quoted) {
        for (const char c : book) {
            inside += c;
            if (c == '\'')
                inside += '\'';
        }
    }
    for (const char c : newName) {
        inside += c;
        if (c == '\'')
            inside += '\'';
    }
    out = '\'' + inside + "'!" + rest;
    return true;
}

// Renames the sheet in the formulas, addresses and plain sheet attributes of one part's tree.
class TreeRename
{
public:
    TreeRename(const QString& oldName, const QString& newName)
        : m_old(utf8String(oldName)), m_new(utf8String(newName)), m_newName(newName)
    {
    }

    // Element texts that hold formulas, by local name.
    void formulaElements(std::set<std::string, std::less<>> names) { m_formulaElements = std::move(names); }
    // Attributes that hold formulas or sheet-qualified addresses, by name (as written).
    void formulaAttributes(std::set<std::string, std::less<>> names)
    {
        m_formulaAttributes = std::move(names);
    }
    // Attributes that hold a plain sheet name, on elements of the given local name.
    void sheetAttribute(std::string element, std::string attribute)
    {
        m_sheetAttributes.emplace_back(std::move(element), std::move(attribute));
    }

    // True when anything below `node` changed.
    bool apply(pugi::xml_node node) const
    {
        bool changed = false;
        std::vector<pugi::xml_node> stack{node};
        while (!stack.empty()) {
            const pugi::xml_node n = stack.back();
            stack.pop_back();
            for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute())
                changed |= attribute(n, a);
            for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) {
                if (c.type() != pugi::node_element)
                    continue;
                if (m_formulaElements.count(localName(c)))
                    changed |= text(c);
                else if (m_pivotSources && isElement(c, "pivotSource"))
                    changed |= pivotSource(firstChildElement(c, "name"));
                else
                    stack.push_back(c);
            }
        }
        return changed;
    }

    // One formula element's text.
    bool text(pugi::xml_node element) const
    {
        const char* raw = element.child_value();
        if (!std::strchr(raw, '!'))
            return false;
        std::string out;
        if (!formula::renameSheetInFormula(decodedUtf8(raw), m_old, m_new, out))
            return false;
        element.text().set(encodedXml(out, false).c_str());
        return true;
    }

    // Charts: the pivot table a pivot chart draws from.
    void pivotSources() { m_pivotSources = true; }

private:
    bool pivotSource(pugi::xml_node name) const
    {
        std::string out;
        if (!name || !renamePivotSource(decodedUtf8(name.child_value()), m_old, m_new, out))
            return false;
        name.text().set(encodedXml(out, false).c_str());
        return true;
    }

    bool attribute(pugi::xml_node owner, pugi::xml_attribute a) const
    {
        if (m_formulaAttributes.count(std::string_view(a.name()))) {
            if (!std::strchr(a.value(), '!'))
                return false;
            std::string out;
            if (!formula::renameSheetInFormula(decodedUtf8(a.value()), m_old, m_new, out))
                return false;
            a.set_value(encodedXml(out, true).c_str());
            return true;
        }
        for (const auto& [element, name] : m_sheetAttributes) {
            if (localName(owner) == element && name == a.name() &&
                formula::sheetNamesEqual(decodedUtf8(a.value()), m_old)) {
                a.set_value(encodeXml(m_newName, true).c_str());
                return true;
            }
        }
        return false;
    }

    std::string m_old;
    std::string m_new;
    QString m_newName;
    std::set<std::string, std::less<>> m_formulaElements;
    std::set<std::string, std::less<>> m_formulaAttributes;
    std::vector<std::pair<std::string, std::string>> m_sheetAttributes;
    bool m_pivotSources = false;
};

// docProps/app.xml lists every sheet by name among its titles, and print areas and titles as
// "Sheet!Print_Area"; both follow. The sheet's own title is the first that is exactly its name.
bool renameInAppProperties(XmlPart& app, const QString& oldName, const TreeRename& rename,
                           const QString& newName)
{
    pugi::xml_node titles = firstChildElement(firstChildElement(app.root(), "TitlesOfParts"), "vector");
    bool changed = false;
    bool sheetFound = false;
    for (pugi::xml_node t = titles.first_child(); t; t = t.next_sibling()) {
        if (t.type() != pugi::node_element)
            continue;
        if (!sheetFound && decodeXml(t.child_value()) == oldName) {
            sheetFound = true;
            t.text().set(encodeXml(newName).c_str());
            changed = true;
        } else {
            changed |= rename.text(t);
        }
    }
    return changed;
}

} // namespace

bool NativeWorkbook::renameSheet(int index, const QString& name)
{
    const auto refuse = [this](const QString& reason) {
        m_lastError = reason;
        return false;
    };
    if (!m_open)
        return refuse(QStringLiteral("the workbook is closed"));
    if (index < 1 || index > sheetCount())
        return refuse(QStringLiteral("there is no sheet %1").arg(index));
    const size_t pos = size_t(index - 1);
    const QString oldName = m_sheets[pos]->name();
    if (name == oldName)
        return true;
    QStringList others;
    for (size_t i = 0; i < m_sheets.size(); ++i) {
        if (i != pos)
            others << m_sheets[i]->name();
    }
    const QString invalid = sheetNameRefusal(name, others);
    if (!invalid.isEmpty())
        return refuse(invalid);

    pugi::xml_node wbRoot = m_workbook->root();
    std::vector<pugi::xml_node> sheetNodes;
    for (pugi::xml_node s = m_workbook->child(m_workbook->child(wbRoot, "sheets"), "sheet"); s;
         s = s.next_sibling(s.name()))
        sheetNodes.push_back(s);
    if (sheetNodes.size() != m_sheets.size())
        return refuse(QStringLiteral("damaged: the workbook's sheet list changed"));
    const QString lock =
        attributeText(m_workbook->child(wbRoot, "workbookProtection").attribute("lockStructure").value());
    if (lock == QLatin1String("1") || lock == QLatin1String("true"))
        return refuse(QStringLiteral("the workbook's structure is protected"));

    const MentionTest mayMention(oldName);
    TreeRename cells(oldName, name);
    cells.formulaElements({"f", "formula", "formula1", "formula2"});
    cells.formulaAttributes({"location"});
    cells.sheetAttribute("dataRef", "sheet");

    // Parts that hold formulas or sheet names besides the sheets, found by the relationships
    // that lead to them wherever they are.
    TreeRename charts(oldName, name);
    charts.formulaElements({"f", "sqref"});
    charts.pivotSources();
    TreeRename tables(oldName, name);
    tables.formulaElements({"calculatedColumnFormula", "totalsRowFormula"});
    TreeRename caches(oldName, name);
    caches.sheetAttribute("worksheetSource", "sheet");
    TreeRename controls(oldName, name);
    controls.formulaAttributes({"fmlaLink", "fmlaRange", "fmlaTxbx", "fmlaGroup"});
    TreeRename drawings(oldName, name);
    drawings.formulaAttributes({"textlink"});
    // Form controls of legacy drawings keep their cell links in the drawing too.
    TreeRename legacy(oldName, name);
    legacy.formulaElements({"FmlaLink", "FmlaRange", "FmlaTxbx", "FmlaGroup", "FmlaPict"});
    const std::vector<std::pair<std::string_view, const TreeRename*>> kinds = {
        {"/chart", &charts},      {"/chartEx", &charts},
        {"/table", &tables},      {"/pivotCacheDefinition", &caches},
        {"/ctrlProp", &controls}, {"/drawing", &drawings},
        {"/vmlDrawing", &legacy},
    };
    std::map<std::string, const TreeRename*> related;
    // Hyperlinks of shapes and pictures lead to a place in the workbook by a relationship
    // target "#Sheet!A1".
    struct LinkChange
    {
        Relationships* rels;
        pugi::xml_node relationship;
        std::string target;
    };
    std::vector<LinkChange> links;
    for (const std::string& relsName : m_package.relationshipParts()) {
        auto* rels = m_package.part<Relationships>(relsName);
        if (!rels)
            return refuse(m_package.error());
        for (pugi::xml_node r = rels->root().first_child(); r; r = r.next_sibling()) {
            const char* target = r.attribute("Target").value();
            std::string renamed;
            if (isElement(r, "Relationship") && target[0] == '#' &&
                !endsWith(r.attribute("TargetMode").value(), "External") &&
                formula::renameSheetInFormula(decodedUtf8(target + 1), utf8String(oldName), utf8String(name),
                                              renamed))
                links.push_back({rels, r, '#' + encodedXml(renamed, true)});
        }
        rels->setSource(Relationships::sourceOfRels(relsName));
        for (const Relationship& r : rels->all()) {
            if (r.external || !m_package.contains(r.target))
                continue;
            for (const auto& [suffix, rename] : kinds) {
                if (endsWith(r.type, suffix))
                    related.emplace(r.target, rename);
            }
        }
    }

    // The parts' current texts (a loaded part's with its unsaved edits), renamed on copies.
    const auto currentText = [this](const std::string& part, std::string& out) {
        if (m_package.isLoaded(part)) {
            XmlPart* loaded = m_package.part<XmlPart>(part);
            if (!loaded)
                return false;
            out = loaded->serialize();
            return true;
        }
        QString undecodable;
        if (!m_package.read(part, out))
            return false;
        if (!XmlPart::toUtf8(part, out, undecodable)) {
            m_lastError = undecodable;
            return false;
        }
        return true;
    };
    std::map<std::string, std::string> worksheetTexts;
    std::map<std::string, std::string> partTexts;
    const auto renameCopy = [&](const std::string& part, const TreeRename& rename,
                                std::map<std::string, std::string>& into) {
        std::string text;
        m_lastError.clear();
        if (!currentText(part, text)) {
            if (m_lastError.isEmpty())
                m_lastError = m_package.error();
            return false;
        }
        if (!mayMention(text))
            return true;
        XmlPart copy;
        if (!copy.load(part, std::move(text))) {
            m_lastError = copy.error();
            return false;
        }
        if (rename.apply(copy.root()))
            into[part] = copy.serialize();
        return true;
    };
    for (const auto& sheet : m_sheets) {
        if (sheet->hasGrid() && !renameCopy(sheet->partName(), cells, worksheetTexts))
            return false;
    }
    for (const auto& [part, rename] : related) {
        if (!renameCopy(part, *rename, partTexts))
            return false;
    }
    XmlPart* app = appProperties();

    // From here on nothing is refused.
    for (auto& [part, text] : worksheetTexts) {
        if (!m_package.replacePart<Worksheet>(part, std::move(text)))
            return refuse(m_package.error());
        for (const auto& sheet : m_sheets) {
            if (sheet->partName() == part)
                sheet->worksheetReplaced();
        }
    }
    for (auto& [part, text] : partTexts) {
        if (!m_package.replacePart<XmlPart>(part, std::move(text)))
            return refuse(m_package.error());
    }
    for (const LinkChange& link : links) {
        link.relationship.attribute("Target").set_value(link.target.c_str());
        link.rels->setDirty();
    }
    pugi::xml_node names = m_workbook->child(wbRoot, "definedNames");
    for (pugi::xml_node n = m_workbook->child(names, "definedName"); n; n = n.next_sibling(n.name()))
        cells.text(n);
    if (app && renameInAppProperties(*app, oldName, cells, name))
        app->setDirty();
    pugi::xml_attribute nameAttribute = sheetNodes[pos].attribute("name");
    (nameAttribute ? nameAttribute : sheetNodes[pos].append_attribute("name"))
        .set_value(encodeXml(name, true).c_str());
    m_workbook->renameSheet(pos, name);
    m_workbook->setDirty();
    m_sheets[pos]->renamed(name);
    // Results may name the sheet (CELL("filename"), INDIRECT): they are worked out anew on opening.
    contentsChanged();
    return true;
}

} // namespace corvane::automation::native
