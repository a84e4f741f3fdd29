// The places outside cells under LibreOffice: notes, shapes and headers and footers through
// their text portions, so that a portion keeps its formatting. Hyperlinks and external links are
// not reached the way the engine reaches them (a cell's URL fields, the document's link list keyed
// by URL), so they are reported as out of reach and left alone.
#include "libreofficesheet.h"
#include "libreofficeworkbook.h"
#include "wildcardpattern.h"

#include <QStringList>

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/beans/XPropertySetInfo.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/sheet/XCellAddressable.hpp>
#include <com/sun/star/sheet/XHeaderFooterContent.hpp>
#include <com/sun/star/sheet/XSheetAnnotation.hpp>
#include <com/sun/star/sheet/XSheetAnnotationShapeSupplier.hpp>
#include <com/sun/star/sheet/XSheetAnnotationsSupplier.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <com/sun/star/util/XProtectable.hpp>

#include <vector>

namespace corvane::automation::libreoffice {

using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

QString unsupportedPlaces(const ReplacePlaces& asked)
{
    if (!asked.has(ReplacePlace::Links))
        return {};
    return QStringLiteral("LibreOffice cannot search or replace in links; they were left unchanged");
}

// One find and replace over texts made of portions.
struct TextPass
{
    QRegularExpression pattern;
    QString replacement;
    bool findOnly = false;
    bool refuse = false; // found hits are refused instead of replaced
    bool found = false;
    bool changed = false;
    bool refused = false;
    std::vector<PlaceChange> changes;

    // Consecutive text portions of one paragraph, searched as one text. A hit changes the portion
    // it starts in and takes the rest of itself out of the following ones.
    void portions(const std::vector<Reference<css::text::XTextRange>>& ranges)
    {
        QString whole;
        std::vector<int> owner;
        std::vector<QString> before;
        for (size_t i = 0; i < ranges.size(); ++i) {
            before.push_back(toQString(ranges[i]->getString()));
            whole += before.back();
            owner.insert(owner.end(), size_t(before.back().size()), int(i));
        }
        std::vector<QString> after(ranges.size());
        int at = 0;
        bool any = false;
        const auto copyUpTo = [&](int end) {
            for (; at < end; ++at)
                after[size_t(owner[size_t(at)])] += whole.at(at);
        };
        auto it = pattern.globalMatch(whole);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            if (m.capturedLength() == 0)
                continue;
            any = true;
            copyUpTo(int(m.capturedStart()));
            after[size_t(owner[size_t(m.capturedStart())])] += replacement;
            at = int(m.capturedEnd());
        }
        if (!any)
            return;
        found = true;
        if (findOnly)
            return;
        if (refuse) {
            refused = true;
            return;
        }
        copyUpTo(int(whole.size()));
        // From the last portion back: a portion's place in the paragraph is fixed when it is
        // handed out, so an earlier one changed first would shift the later ones.
        for (size_t i = ranges.size(); i-- > 0;) {
            if (after[i] != before[i]) {
                ranges[i]->setString(toOUString(after[i]));
                changed = true;
            }
        }
    }

    void text(const Reference<css::text::XText>& text)
    {
        const Reference<css::container::XEnumerationAccess> paragraphs(text, UNO_QUERY);
        if (!paragraphs.is())
            return;
        const Reference<css::container::XEnumeration> each = paragraphs->createEnumeration();
        while (each->hasMoreElements()) {
            const Reference<css::container::XEnumerationAccess> paragraph(each->nextElement(), UNO_QUERY);
            if (!paragraph.is())
                continue;
            std::vector<Reference<css::text::XTextRange>> run;
            const Reference<css::container::XEnumeration> pieces = paragraph->createEnumeration();
            while (pieces->hasMoreElements()) {
                const Reference<css::text::XTextRange> piece(pieces->nextElement(), UNO_QUERY);
                const Reference<css::beans::XPropertySet> props(piece, UNO_QUERY);
                rtl::OUString type;
                if (props.is())
                    props->getPropertyValue("TextPortionType") >>= type;
                if (piece.is() && type == "Text") {
                    run.push_back(piece);
                } else {
                    // A field (a page number, a file name) ends the stretch of text.
                    portions(run);
                    run.clear();
                }
            }
            portions(run);
        }
    }

    // One text as one item of the report: recorded as `record` when the pass changed it.
    void item(const Reference<css::text::XText>& whole, PlaceChange record)
    {
        if (!whole.is())
            return;
        const QString before = toQString(whole->getString());
        const bool earlier = changed;
        changed = false;
        text(whole);
        if (changed) {
            record.before = before;
            record.after = toQString(whole->getString());
            changes.push_back(std::move(record));
        }
        changed = changed || earlier;
    }

    void shapes(const Reference<css::container::XIndexAccess>& shapes)
    {
        if (!shapes.is())
            return;
        for (sal_Int32 i = 0; i < shapes->getCount(); ++i) {
            const Reference<css::container::XIndexAccess> group(shapes->getByIndex(i), UNO_QUERY);
            if (group.is()) {
                this->shapes(group);
                continue;
            }
            PlaceChange record{ChangeKind::ShapeText, {}, {}, {}, {}};
            const Reference<css::container::XNamed> named(shapes->getByIndex(i), UNO_QUERY);
            if (named.is())
                record.detail = toQString(named->getName());
            const Reference<css::beans::XPropertySet> props(shapes->getByIndex(i), UNO_QUERY);
            if (props.is() && props->getPropertySetInfo()->hasPropertyByName("Anchor")) {
                Reference<css::sheet::XCellAddressable> anchor;
                props->getPropertyValue("Anchor") >>= anchor;
                if (anchor.is()) {
                    const css::table::CellAddress at = anchor->getCellAddress();
                    record.cell = cellName({at.Row + 1, at.Column + 1});
                }
            }
            item(Reference<css::text::XText>(shapes->getByIndex(i), UNO_QUERY), std::move(record));
        }
    }
};

struct HeaderFooterContent
{
    const char* property;
    const char* kind;   // as a workbook's headerFooter element names it
    const char* shared; // the page style's switch that makes it the same as the odd one
};

const HeaderFooterContent kHeaderFooterContents[] = {
    {"RightPageHeaderContent", "oddHeader", nullptr},
    {"RightPageFooterContent", "oddFooter", nullptr},
    {"LeftPageHeaderContent", "evenHeader", "HeaderIsShared"},
    {"LeftPageFooterContent", "evenFooter", "FooterIsShared"},
    {"FirstPageHeaderContent", "firstHeader", "FirstIsShared"},
    {"FirstPageFooterContent", "firstFooter", "FirstIsShared"}};

// A header or footer's sections as a workbook writes them ("&Lleft&Ccentre&Rright"), without
// the fields' and fonts' codes, which the sections' texts do not carry.
QString sectionsText(const Reference<css::sheet::XHeaderFooterContent>& content)
{
    const auto section = [](const char* code, const Reference<css::text::XText>& text) {
        const QString plain = text.is() ? toQString(text->getString()) : QString();
        return plain.isEmpty()
                   ? QString()
                   : QLatin1String(code) + QString(plain).replace(QLatin1String("&"), QLatin1String("&&"));
    };
    return section("&L", content->getLeftText()) + section("&C", content->getCenterText()) +
           section("&R", content->getRightText());
}

} // namespace

PlaceOutcome LibreOfficeSheet::replaceInPlaces(const PlaceEdit& edit)
{
    PlaceOutcome outcome;
    outcome.unsupported = unsupportedPlaces(edit.places);
    if (edit.what.isEmpty())
        return outcome;
    TextPass pass;
    pass.pattern = wildcardExpression(edit.what, false);
    pass.replacement = edit.replacement;
    pass.findOnly = edit.findOnly;
    try {
        // Objects of a protected sheet are refused, as its locked cells are.
        const Reference<css::util::XProtectable> protectable(m_sheet, UNO_QUERY);
        pass.refuse = protectable.is() && protectable->isProtected();
        if (edit.places.has(ReplacePlace::Comments)) {
            const Reference<css::sheet::XSheetAnnotationsSupplier> supplier(m_sheet, UNO_QUERY);
            const Reference<css::container::XIndexAccess> notes(
                supplier.is() ? supplier->getAnnotations() : nullptr, UNO_QUERY);
            for (sal_Int32 i = 0; notes.is() && i < notes->getCount(); ++i) {
                const Reference<css::sheet::XSheetAnnotationShapeSupplier> note(notes->getByIndex(i),
                                                                                UNO_QUERY);
                if (!note.is())
                    continue;
                PlaceChange record{ChangeKind::Comment, {}, {}, {}, {}};
                const Reference<css::sheet::XSheetAnnotation> at(note, UNO_QUERY);
                if (at.is()) {
                    const css::table::CellAddress cell = at->getPosition();
                    record.cell = cellName({cell.Row + 1, cell.Column + 1});
                }
                pass.item(Reference<css::text::XText>(note->getAnnotationShape(), UNO_QUERY),
                          std::move(record));
            }
        }
        if (edit.places.has(ReplacePlace::Shapes))
            pass.shapes(Reference<css::container::XIndexAccess>(shapes(), UNO_QUERY));
        if (pass.refused)
            outcome.refusal = QStringLiteral("the sheet's comments and shapes are protected");
        if (edit.places.has(ReplacePlace::Headers)) {
            // Headers and footers belong to the sheet's page style, not to the sheet.
            pass.refuse = false;
            const Reference<css::beans::XPropertySet> sheetProps(m_sheet, UNO_QUERY_THROW);
            rtl::OUString styleName;
            sheetProps->getPropertyValue("PageStyle") >>= styleName;
            const Reference<css::style::XStyleFamiliesSupplier> families(m_workbook->document(),
                                                                         UNO_QUERY_THROW);
            const Reference<css::container::XNameAccess> pageStyles(
                families->getStyleFamilies()->getByName("PageStyles"), UNO_QUERY_THROW);
            const Reference<css::beans::XPropertySet> style(pageStyles->getByName(styleName),
                                                            UNO_QUERY_THROW);
            const Reference<css::beans::XPropertySetInfo> info = style->getPropertySetInfo();
            for (const HeaderFooterContent& hf : kHeaderFooterContents) {
                const rtl::OUString property = rtl::OUString::createFromAscii(hf.property);
                if (!info->hasPropertyByName(property))
                    continue;
                Reference<css::sheet::XHeaderFooterContent> content;
                style->getPropertyValue(property) >>= content;
                if (!content.is())
                    continue;
                const QString was = sectionsText(content);
                const bool before = pass.changed;
                pass.changed = false;
                pass.text(content->getLeftText());
                pass.text(content->getCenterText());
                pass.text(content->getRightText());
                // The content is a copy: it takes effect once it is set back.
                if (pass.changed) {
                    style->setPropertyValue(property, css::uno::Any(content));
                    // A shared one is the odd one again, already reported.
                    bool shared = false;
                    if (hf.shared && info->hasPropertyByName(rtl::OUString::createFromAscii(hf.shared)))
                        style->getPropertyValue(rtl::OUString::createFromAscii(hf.shared)) >>= shared;
                    if (!shared)
                        outcome.changes.push_back({ChangeKind::HeaderFooter,
                                                   {},
                                                   QLatin1String(hf.kind),
                                                   was,
                                                   sectionsText(content)});
                }
                pass.changed = pass.changed || before;
            }
        }
        // Text changed through a shape or a page style does not mark the document as modified,
        // and an unmodified document is not written back.
        if (pass.changed) {
            const Reference<css::util::XModifiable> modifiable(m_workbook->document(), UNO_QUERY);
            if (modifiable.is())
                modifiable->setModified(true);
        }
    } catch (const css::uno::Exception& e) {
        outcome.refusal =
            QStringLiteral("LibreOffice failed on the comments, shapes or headers: ") + describe(e);
    }
    outcome.found = pass.found;
    outcome.changed = pass.changed;
    // Notes and shapes first, then headers and footers, in the order the engine reports them.
    outcome.changes.insert(outcome.changes.begin(), pass.changes.begin(), pass.changes.end());
    return outcome;
}

PlaceOutcome LibreOfficeWorkbook::replaceInPlaces(const PlaceEdit& edit)
{
    PlaceOutcome outcome;
    outcome.unsupported = unsupportedPlaces(edit.places);
    return outcome;
}

} // namespace corvane::automation::libreoffice
