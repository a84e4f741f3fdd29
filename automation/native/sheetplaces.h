// Find and replace in a sheet's places outside its cells (comments, shapes, headers and
// footers, hyperlinks) and in the workbook's external-link targets, editing only the texts of
// the parts that hold a hit; every other byte of those parts stays as it was.
#pragma once

#include "automation/replaceplaces.h"

#include <QString>

#include <string>

namespace corvane::automation::native {

class Package;
class XmlPart;

// `sheet` is the sheet's own part as parsed (a worksheet or a chart sheet); `protectsObjects`
// whether the sheet's protection keeps its comments and shapes from being edited. A part that
// cannot be read is named in `damage`.
PlaceOutcome replaceInSheetPlaces(Package& package, const std::string& sheetPart, XmlPart& sheet,
                                  bool protectsObjects, const PlaceEdit& edit, QString& damage);

// The targets of the workbook's external links (the paths of the linked workbooks, in the
// links' relationships, and a DDE link's topic); the formulas name links by number and stay.
PlaceOutcome replaceInExternalLinks(Package& package, const std::string& workbookPart, const PlaceEdit& edit,
                                    QString& damage);

} // namespace corvane::automation::native
