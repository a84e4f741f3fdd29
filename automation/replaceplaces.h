// The places outside cell texts that a replace may also reach, chosen one by one. Each place
// has a fixed name, used by the command line and the settings file.
#pragma once

#include "changerecord.h"

#include <QString>

#include <vector>

namespace corvane::automation {

enum class ReplacePlace : unsigned
{
    Comments = 1, // legacy notes and threaded comments
    Shapes = 2,   // text in drawing shapes and text boxes
    Headers = 4,  // page headers and footers
    Links = 8,    // hyperlink targets and display texts, external-link targets
    SheetNames = 16
};

class ReplacePlaces
{
public:
    bool has(ReplacePlace place) const { return (m_bits & static_cast<unsigned>(place)) != 0; }
    void set(ReplacePlace place, bool on = true)
    {
        if (on)
            m_bits |= static_cast<unsigned>(place);
        else
            m_bits &= ~static_cast<unsigned>(place);
    }
    bool any() const { return m_bits != 0; }
    bool operator==(const ReplacePlaces& other) const { return m_bits == other.m_bits; }
    bool operator!=(const ReplacePlaces& other) const { return m_bits != other.m_bits; }

    // Every place, in the order the window and the help show them.
    static const std::vector<ReplacePlace>& all();
    static QString name(ReplacePlace place);
    // The names joined by commas ("comments,headers"); empty for none.
    QString names() const;
    // Parses names joined by commas (blanks around a name allowed, an empty list is none). False
    // with the first unknown name in `unknown`.
    static bool parse(const QString& text, ReplacePlaces& out, QString* unknown = nullptr);

private:
    unsigned m_bits = 0;
};

// What one replace in places asks of a server. `findOnly` finds without changing anything.
struct PlaceEdit
{
    ReplacePlaces places;
    QString what; // a find text with the cell replace's rules: wildcards, letter case ignored
    QString replacement;
    bool findOnly = false;
};

// One place item a replace changed: a comment, a shape's text, a header or footer, a
// hyperlink's target or display text, an external link's target. The texts are the item's
// whole text before and after.
struct PlaceChange
{
    ChangeKind kind = ChangeKind::Comment;
    QString cell;   // a comment's or hyperlink's cell, the cell a shape is anchored at
    QString detail; // a shape's name, a header's kind ("oddHeader"), "externalLink 2", or which
                    // text of a hyperlink ("target", "display")
    QString before;
    QString after;
};

// What a replace in places did: whether the text was found in a place, whether a place was
// changed (each changed item in `changes`), and why a place that should have changed was left
// as it was.
struct PlaceOutcome
{
    bool found = false;
    bool changed = false;
    QString refusal;
    // The places asked for that this server cannot reach, as a message; left unchanged.
    QString unsupported;
    std::vector<PlaceChange> changes;

    void add(const PlaceOutcome& other)
    {
        found = found || other.found;
        changed = changed || other.changed;
        changes.insert(changes.end(), other.changes.begin(), other.changes.end());
        if (!other.refusal.isEmpty())
            refusal += (refusal.isEmpty() ? QString() : QStringLiteral("; ")) + other.refusal;
        if (unsupported.isEmpty())
            unsupported = other.unsupported;
    }
};

// `text` with every occurrence of `what` (wildcards "*", "?", "~" escapes, letter case ignored)
// replaced by `replacement`; unchanged when nothing matched or `what` is empty. `matched` tells
// whether anything matched, even when the replacement is the text it replaced.
QString replaceWildcardText(const QString& text, const QString& what, const QString& replacement,
                            bool* matched = nullptr);

} // namespace corvane::automation
