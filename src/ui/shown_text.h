#pragma once
// How text that came from outside (an archive's answers, Settings.ini) is
// shown: so that two different values never look the same, and so that no
// value costs the window more than a line's worth of layout.
//
// Characters that draw nothing or steer the drawing of others (bidi
// embeddings, overrides and isolates, marks, zero-width characters, C0 and C1
// controls, line and paragraph separators) are shown as a visible mark,
// "⟨U+202E⟩". The mark's opening bracket is itself shown as a mark where it
// occurs in the value, so a mark can only ever stand for such a character:
// two values that differ show differently. Only what is shown changes; the
// value itself (sorted, sent, compared) stays as it was received.

#include <QString>

namespace morvanta::ui {

// Received characters shown of one value; more are cut and marked
// kCutMark. A grid cell shows one line, less than this even at the width of
// two screens; laying out the rest would only cost the window time.
inline constexpr qsizetype kShownChars = 500;
// Ends a value shown cut short. Its bracket never appears unescaped in a
// shown value, so it cannot be taken for the end of a value.
inline const QString kCutMark = QStringLiteral("\u27e8\u2026\u27e9");

// True for a character shown as a mark (one UTF-16 unit; a surrogate pair
// is asked about as its code point).
bool ShownAsMark(char32_t c);

// One value for a line of its own (a grid cell): marks for the characters
// above, at most kShownChars of it, and, when it holds right-to-left
// letters, isolated (FSI ... PDI) so that its direction is taken from its
// first letter and never reaches the text around it.
QString ShownValue(const QString& value);

// A message or a label's text: as ShownValue, but its line ends (CR, LF) and
// tabs stay what they are, it is never isolated, and up to `maxChars` are kept.
QString ShownMessage(const QString& text, qsizetype maxChars = 4 * kShownChars);

}  // namespace morvanta::ui
