// The places outside cells under LibreOffice. Its API does not reach them the way the engine
// does (a note's runs, header codes, link targets), so they are left alone and reported as such
// rather than changed in a way that loses what they hold.
#include "libreofficesheet.h"
#include "libreofficeworkbook.h"

#include <QStringList>

namespace corvane::automation::libreoffice {

namespace {

QString unsupportedPlaces(const ReplacePlaces& asked, const ReplacePlaces& reachable)
{
    QStringList left;
    for (ReplacePlace place : ReplacePlaces::all())
        if (place != ReplacePlace::SheetNames && asked.has(place) && !reachable.has(place))
            left << ReplacePlaces::name(place);
    if (left.isEmpty())
        return {};
    return QStringLiteral("LibreOffice cannot search or replace in %1; they were left unchanged")
        .arg(left.join(QStringLiteral(", ")));
}

} // namespace

PlaceOutcome LibreOfficeSheet::replaceInPlaces(const PlaceEdit& edit)
{
    PlaceOutcome outcome;
    outcome.unsupported = unsupportedPlaces(edit.places, {});
    return outcome;
}

PlaceOutcome LibreOfficeWorkbook::replaceInPlaces(const PlaceEdit& edit)
{
    PlaceOutcome outcome;
    outcome.unsupported = unsupportedPlaces(edit.places, {});
    return outcome;
}

} // namespace corvane::automation::libreoffice
