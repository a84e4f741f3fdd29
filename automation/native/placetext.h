// Replacing inside the texts of places outside cells, where a text is split into formatted runs
// or carries codes that are not text, so that what is not part of a hit stays as it was.
#pragma once

#include <QString>

#include <vector>

namespace corvane::automation::native {

class SearchPattern;

// Replaces over the texts of consecutive runs as if they were one text. A hit that lies inside
// one run changes only that run; a hit spread over several runs puts the replacement into the
// run where it starts and takes the rest of the hit out of the others, so every run keeps its
// formatting. True when something matched (`runs` then holds the new texts).
bool replaceInRuns(const SearchPattern& pattern, const QString& replacement, std::vector<QString>& runs);

// Replaces in a header or footer text (its "&" codes: &L &C &R sections, &P and the other fields,
// &"font,style", &12 sizes, &K colours; "&&" is a literal "&"). The codes split the text into
// pieces that are searched one by one, so a find text never matches inside a code or across one,
// and a "&" the replacement brings in is doubled so that it stays text. True when something
// matched (`text` then holds the new text).
bool replaceInHeaderText(const SearchPattern& pattern, const QString& replacement, QString& text);

// Replaces in a link target. A target written with percent escapes ("My%20Files") is searched as
// it reads ("My Files") and the changed text is escaped the same way again. True when something
// matched.
bool replaceInLinkTarget(const SearchPattern& pattern, const QString& replacement, QString& target);

} // namespace corvane::automation::native
