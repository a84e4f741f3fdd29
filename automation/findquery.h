// What one search looks for. Every find carries its own options: nothing is remembered
// between calls.
#pragma once

#include <QString>

namespace corvane::automation {

enum class LookIn
{
    Values,  // the text the cell shows
    Formulas // the formula text of formula cells, the constant as typed for the others
};

enum class LookAt
{
    Whole, // the pattern must match the whole cell text
    Part   // the pattern may match any part of it
};

// Letter case is ignored, cells are searched by rows, and "*", "?" and "~" are wildcards
// as in the spreadsheet application.
struct FindQuery
{
    QString what;
    LookIn lookIn = LookIn::Formulas;
    LookAt lookAt = LookAt::Part;
};

} // namespace corvane::automation
