// Excel's find patterns ("*" any run, "?" one character, "~" escapes the next "*", "?" or
// "~") turned into a regular expression that means the same to LibreOffice's ICU search and
// to QRegularExpression, so both sides of a replace agree on what matched.
#pragma once

#include <QRegularExpression>
#include <QString>

namespace corvane::automation::libreoffice {

// The regular expression for `pattern`, not anchored.
QString wildcardToRegex(const QString& pattern);

// Case-insensitive expression matching `pattern` anywhere (or, with `whole`, the whole text).
QRegularExpression wildcardExpression(const QString& pattern, bool whole);

// `text` with every match of `pattern` replaced by `replacement`, taken literally.
QString replaceWildcard(const QString& text, const QString& pattern, const QString& replacement);
// The same with the expression of a non-empty pattern made once, for many texts.
QString replaceMatches(const QString& text, const QRegularExpression& re, const QString& replacement);

} // namespace corvane::automation::libreoffice
