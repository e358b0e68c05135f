#include "ui/shown_text.h"

#include <algorithm>

namespace morvanta::ui {

namespace {

constexpr char16_t kMarkOpen = 0x27e8;  // "⟨", drawn by the usual fonts (DejaVu, Noto)
constexpr char16_t kMarkClose = 0x27e9;
constexpr char16_t kFsi = 0x2068;  // FIRST STRONG ISOLATE
constexpr char16_t kPdi = 0x2069;  // POP DIRECTIONAL ISOLATE

// Characters that draw nothing though their general category draws (the
// default-ignorable ones outside Cf): the combining grapheme joiner, the
// Hangul fillers, Khmer's inherent vowels, the variation selectors.
bool InvisibleLetter(char32_t c) {
  return c == 0x034f || c == 0x115f || c == 0x1160 || c == 0x17b4 || c == 0x17b5 ||
         (c >= 0x180b && c <= 0x180f) || c == 0x3164 || (c >= 0xfe00 && c <= 0xfe0f) || c == 0xffa0 ||
         (c >= 0xe0100 && c <= 0xe01ef);
}

bool KeptInMessage(char32_t c) { return c == u'\r' || c == u'\n' || c == u'\t'; }

bool RightToLeft(char32_t c) {
  const QChar::Direction direction = QChar::direction(c);
  return direction == QChar::DirR || direction == QChar::DirAL;
}

void AppendMark(QString& out, char32_t c) {
  out += QChar(kMarkOpen);
  out += QStringLiteral("U+%1").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0')).toUpper();
  out += QChar(kMarkClose);
}

// The code point at text[i] and how many UTF-16 units it takes; a lone
// surrogate is a code point of its own (and shown as a mark).
char32_t CodePointAt(const QString& text, qsizetype i, qsizetype end, int& units) {
  const char16_t unit = text[i].unicode();
  if (QChar::isHighSurrogate(unit) && i + 1 < end && QChar::isLowSurrogate(text[i + 1].unicode())) {
    units = 2;
    return QChar::surrogateToUcs4(unit, text[i + 1].unicode());
  }
  units = 1;
  return unit;
}

QString Shown(const QString& text, qsizetype maxChars, bool message) {
  qsizetype end = std::min(text.size(), std::max<qsizetype>(maxChars, 1));
  // Never half a surrogate pair at the cut.
  if (end < text.size() && QChar::isHighSurrogate(text[end - 1].unicode()) &&
      QChar::isLowSurrogate(text[end].unicode()))
    --end;
  const bool cut = end < text.size();

  // Most values hold nothing to mark: they are shown as they are, shared.
  bool marks = false;
  bool rightToLeft = false;
  int units = 1;
  for (qsizetype i = 0; i < end; i += units) {
    const char32_t c = CodePointAt(text, i, end, units);
    if (c < 0x80 && c >= 0x20 && c != 0x7f) continue;
    if (ShownAsMark(c) && !(message && KeptInMessage(c))) marks = true;
    else if (RightToLeft(c)) rightToLeft = true;
  }
  const bool isolate = rightToLeft && !message;
  if (!marks && !cut && !isolate) return text;

  QString out;
  out.reserve(end + 16);
  if (isolate) out += QChar(kFsi);
  for (qsizetype i = 0; i < end; i += units) {
    const char32_t c = CodePointAt(text, i, end, units);
    if (ShownAsMark(c) && !(message && KeptInMessage(c)))
      AppendMark(out, c);
    else
      out += QStringView(text).mid(i, units);
  }
  if (cut) out += kCutMark;
  if (isolate) out += QChar(kPdi);
  return out;
}

}  // namespace

bool ShownAsMark(char32_t c) {
  if (c == kMarkOpen) return true;
  switch (QChar::category(c)) {
    case QChar::Other_Control:      // C0, DEL, C1
    case QChar::Other_Format:       // bidi controls, zero-width characters, BOM, soft hyphen
    case QChar::Other_Surrogate:    // half a pair
    case QChar::Other_PrivateUse:   // drawn as one box whatever it is
    case QChar::Other_NotAssigned:  // likewise
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
      return true;
    default:
      return InvisibleLetter(c);
  }
}

QString ShownValue(const QString& value) { return Shown(value, kShownChars, false); }

QString ShownMessage(const QString& text, qsizetype maxChars) { return Shown(text, maxChars, true); }

}  // namespace morvanta::ui
