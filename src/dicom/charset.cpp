#include "dicom/charset.h"


#include <array>
#include <cerrno>
#include <iterator>
#include <memory>

#include "dicom/converter.h"
#include "text/trim.h"
#include "text/utf8.h"

namespace morvanta::dicom {

using text::AppendUtf8;
using text::DecodeUtf8;

bool IsAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    const std::size_t length = DecodeUtf8(text, i, c);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

Charset ChooseCharset(const std::vector<std::string>& utf8Texts) {
  Charset result = Charset::Ascii;
  for (const std::string& text : utf8Texts) {
    for (std::size_t i = 0; i < text.size();) {
      char32_t c = 0;
      const std::size_t length = DecodeUtf8(text, i, c);
      if (length == 0) return Charset::Utf8;
      if (c > 0xFF) return Charset::Utf8;
      if (c >= 0x80) result = Charset::Latin1;
      i += length;
    }
  }
  return result;
}

std::string DefinedTerm(Charset charset) {
  switch (charset) {
    case Charset::Ascii: return "";
    case Charset::Latin1: return "ISO_IR 100";
    case Charset::Utf8: return "ISO_IR 192";
  }
  return "";
}

std::string Utf8ToLatin1(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char32_t c : Utf8ToUtf32(utf8)) out += c <= 0xFF ? static_cast<char>(c) : '?';
  return out;
}

std::string Latin1ToUtf8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size() * 2);
  for (char c : latin1) text::AppendUtf8(out, static_cast<unsigned char>(c));
  return out;
}

std::u32string Utf8ToUtf32(std::string_view utf8) {
  std::u32string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t c = 0;
    std::size_t length = DecodeUtf8(utf8, i, c);
    if (length == 0) {
      c = static_cast<unsigned char>(utf8[i]);
      length = 1;
    }
    out += c;
    i += length;
  }
  return out;
}

std::string Utf32ToUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) text::AppendUtf8(out, c);
  return out;
}

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr unsigned char kEsc = 0x1B;

// How a code set's bytes become characters.
enum class Form {
  Ascii,     // G0, one byte
  Katakana,  // G1, JIS X 0201's right half: 0xA1-0xDF
  Table96,   // G1, one of the 96-character sets, by a table
  Double,    // a 94x94 set, two bytes, converted in its EUC form
};

struct CodeSet {
  int ir;              // ISO-IR registration number, as in the defined terms
  bool g1;             // designated to G1 (bytes 0xA0-0xFF), else to G0
  Form form;
  const char* escape;  // the ISO 2022 designation (PS3.3 C.12.1.1.2)
  const char* iconvName;
  const char* eucPrefix;  // EUC single shift in front of a character
};

constexpr CodeSet kCodeSets[] = {
    {6, false, Form::Ascii, "\x1b(B", nullptr, ""},
    // JIS X 0201 Romaji differs from ASCII at 0x5C (yen) and 0x7E only; in a
    // DICOM value 0x5C is the value delimiter, and Japanese systems show these
    // names with ASCII letters, so it reads as ASCII.
    {14, false, Form::Ascii, "\x1b(J", nullptr, ""},
    {13, true, Form::Katakana, "\x1b)I", nullptr, ""},
    {87, false, Form::Double, "\x1b$B", "EUC-JP", ""},
    {159, false, Form::Double, "\x1b$(D", "EUC-JP", "\x8f"},
    {149, true, Form::Double, "\x1b$)C", "EUC-KR", ""},
    {58, true, Form::Double, "\x1b$)A", "GB2312", ""},
    {100, true, Form::Table96, "\x1b-A", "ISO-8859-1", ""},
    {101, true, Form::Table96, "\x1b-B", "ISO-8859-2", ""},
    {109, true, Form::Table96, "\x1b-C", "ISO-8859-3", ""},
    {110, true, Form::Table96, "\x1b-D", "ISO-8859-4", ""},
    {144, true, Form::Table96, "\x1b-L", "ISO-8859-5", ""},
    {127, true, Form::Table96, "\x1b-G", "ISO-8859-6", ""},
    {126, true, Form::Table96, "\x1b-F", "ISO-8859-7", ""},
    {138, true, Form::Table96, "\x1b-H", "ISO-8859-8", ""},
    {148, true, Form::Table96, "\x1b-M", "ISO-8859-9", ""},
    {203, true, Form::Table96, "\x1b-b", "ISO-8859-15", ""},
    {166, true, Form::Table96, "\x1b-T", "TIS-620", ""},
};
constexpr std::size_t kCodeSetCount = std::size(kCodeSets);
constexpr const CodeSet& kAscii = kCodeSets[0];
constexpr const CodeSet& kLatin1 = kCodeSets[7];

std::size_t IndexOf(const CodeSet& set) { return static_cast<std::size_t>(&set - kCodeSets); }

// The 96-character sets' upper halves (0xA0-0xFF), built once.
const std::array<char32_t, 96>& Table96(const CodeSet& set) {
  static const auto tables = [] {
    std::array<std::array<char32_t, 96>, kCodeSetCount> all{};
    for (std::size_t s = 0; s < kCodeSetCount; ++s) {
      if (kCodeSets[s].form != Form::Table96) continue;
      Converter converter(kCodeSets[s].iconvName);
      for (int b = 0xA0; b <= 0xFF; ++b) {
        const std::string in(1, static_cast<char>(b));
        std::string out;
        char32_t c = kReplacement;
        if (converter.Convert(in, out) == 1 && !out.empty() && DecodeUtf8(out, 0, c) != out.size())
          c = kReplacement;
        all[s][static_cast<std::size_t>(b - 0xA0)] = c;
      }
    }
    return all;
  }();
  return tables[IndexOf(set)];
}

std::string_view Trim(std::string_view s) { return text::Trim(s, text::kSpaces); }

// The code set a defined term names ("ISO_IR 100", "ISO 2022 IR 87"), if any.
const CodeSet* FindTerm(std::string_view term) {
  term = Trim(term);
  std::string_view number;
  if (term.starts_with("ISO_IR ")) {
    number = term.substr(7);
  } else if (term.starts_with("ISO 2022 IR ")) {
    number = term.substr(12);
  } else {
    return nullptr;
  }
  number = Trim(number);
  if (number.empty() || number.size() > 3) return nullptr;
  int ir = 0;
  for (char c : number) {
    if (c < '0' || c > '9') return nullptr;
    ir = ir * 10 + (c - '0');
  }
  for (const CodeSet& set : kCodeSets)
    if (set.ir == ir) return &set;
  return nullptr;
}

std::vector<std::string_view> SplitValues(std::string_view values) {
  std::vector<std::string_view> out;
  for (;;) {
    const std::size_t bar = values.find('\\');
    out.push_back(Trim(values.substr(0, bar)));
    if (bar == std::string_view::npos) return out;
    values.remove_prefix(bar + 1);
  }
}

// The end of the escape sequence at bytes[i] (an ESC): its intermediate
// bytes 0x20-0x2F and a final byte 0x30-0x7E (ISO 2022 / ECMA-35). One cut
// short ends before the byte that breaks it.
std::size_t EscapeEnd(std::string_view bytes, std::size_t i, bool& complete) {
  std::size_t j = i + 1;
  while (j < bytes.size() && bytes[j] >= 0x20 && bytes[j] <= 0x2F) ++j;
  complete = j < bytes.size() && bytes[j] >= 0x30 && bytes[j] <= 0x7E;
  return complete ? j + 1 : j;
}

// Calls `text` for each run of bytes between escape sequences: character
// sets without code extensions have no use for them, and they are never
// shown.
template <typename Text>
void WithoutEscapes(std::string_view bytes, Text text) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < bytes.size();) {
    if (static_cast<unsigned char>(bytes[i]) != kEsc) {
      ++i;
      continue;
    }
    if (i > start) text(bytes.substr(start, i - start));
    bool complete = false;
    i = EscapeEnd(bytes, i, complete);
    start = i;
  }
  if (start < bytes.size()) text(bytes.substr(start));
}

// UTF-8 whose invalid bytes read as the Latin-1 letters they would be.
std::string DecodeUtf8Lenient(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  WithoutEscapes(bytes, [&](std::string_view run) { out += Utf32ToUtf8(Utf8ToUtf32(run)); });
  return out;
}

// A whole value in a multi-byte set without code extensions (GB18030, GBK).
std::string DecodeWhole(std::string_view bytes, const char* iconvName) {
  std::string out;
  out.reserve(bytes.size() * 3 / 2);
  Converter converter(iconvName);
  WithoutEscapes(bytes, [&](std::string_view run) {
    while (!run.empty()) {
      run.remove_prefix(converter.Convert(run, out));
      if (run.empty()) break;
      AppendUtf8(out, kReplacement);
      run.remove_prefix(1);
    }
  });
  return out;
}

struct Designations {
  const CodeSet* g0 = &kAscii;
  const CodeSet* g1 = nullptr;
};

bool EndsExtension(unsigned char b, TextKind kind) {
  if (b == '\r' || b == '\n' || b == '\f' || b == '\t') return true;
  if (kind != TextKind::Text && b == '\\') return true;
  return kind == TextKind::PersonName && (b == '^' || b == '=');
}

// ISO 2022 as PS3.5 6.1.2.5 uses it: G0 holds ASCII or a set designated to
// it, G1 (the bytes with the high bit) the set of value 1 or one designated;
// each delimiter returns to the initial sets. A byte beyond ASCII while no
// G1 set is in use reads in `fallback` (writers often leave out the
// designation of the one G1 set they declared).
std::string DecodeIso2022(std::string_view bytes, Designations initial, const CodeSet& fallback,
                          TextKind kind) {
  std::string out;
  out.reserve(bytes.size() * 3 / 2);
  std::array<std::unique_ptr<Converter>, kCodeSetCount> converters;
  const auto appendDouble = [&](const CodeSet& set, unsigned char first, unsigned char second) {
    std::string euc = set.eucPrefix;
    euc += static_cast<char>(first | 0x80);
    euc += static_cast<char>(second | 0x80);
    auto& converter = converters[IndexOf(set)];
    if (!converter) converter = std::make_unique<Converter>(set.iconvName);
    std::string utf8;
    if (converter->Convert(euc, utf8) == euc.size() && IsValidUtf8(utf8) && !utf8.empty()) {
      out += utf8;
    } else {
      AppendUtf8(out, kReplacement);
    }
  };
  const auto byteAt = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  const auto inRange = [&](std::size_t k, unsigned char low, unsigned char high) {
    return k < bytes.size() && byteAt(k) >= low && byteAt(k) <= high;
  };

  Designations now = initial;
  for (std::size_t i = 0; i < bytes.size();) {
    const unsigned char b = byteAt(i);
    if (b == kEsc) {
      bool complete = false;
      const std::size_t end = EscapeEnd(bytes, i, complete);
      if (complete) {
        const std::string_view sequence = bytes.substr(i, end - i);
        for (const CodeSet& set : kCodeSets) {
          if (sequence == set.escape) (set.g1 ? now.g1 : now.g0) = &set;
        }
      }
      i = end;
      continue;
    }
    if (b < 0x80) {
      if (now.g0->form == Form::Double && b >= 0x21 && b <= 0x7E) {
        if (inRange(i + 1, 0x21, 0x7E)) {
          appendDouble(*now.g0, b, byteAt(i + 1));
          i += 2;
        } else {
          AppendUtf8(out, kReplacement);
          ++i;
        }
        continue;
      }
      out += static_cast<char>(b);
      if (EndsExtension(b, kind)) now = initial;
      ++i;
      continue;
    }
    if (b < 0xA0) {  // C1 controls, as ISO 8859 has them
      AppendUtf8(out, b);
      ++i;
      continue;
    }
    const CodeSet& g1 = now.g1 != nullptr ? *now.g1 : fallback;
    switch (g1.form) {
      case Form::Katakana:
        AppendUtf8(out, b >= 0xA1 && b <= 0xDF ? char32_t{0xFF61} + (b - 0xA1) : kReplacement);
        ++i;
        break;
      case Form::Double:
        if (b >= 0xA1 && b <= 0xFE && inRange(i + 1, 0xA1, 0xFE)) {
          appendDouble(g1, b, byteAt(i + 1));
          i += 2;
        } else {
          AppendUtf8(out, kReplacement);
          ++i;
        }
        break;
      case Form::Table96:
        AppendUtf8(out, Table96(g1)[b - 0xA0]);
        ++i;
        break;
      case Form::Ascii:  // no G1 set is of this form
        AppendUtf8(out, b);
        ++i;
        break;
    }
  }
  return out;
}

bool NeedsDecoding(std::string_view bytes) {
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x80 || b == kEsc) return true;
  }
  return false;
}

}  // namespace

std::string DecodeText(std::string_view bytes, std::string_view specificCharacterSet,
                       TextKind kind) {
  if (!NeedsDecoding(bytes)) return std::string(bytes);
  const std::vector<std::string_view> values = SplitValues(specificCharacterSet);
  const std::string_view first = values.front();
  // Sets that allow no code extensions: value 1 is all there is.
  if (first == "ISO_IR 192") return DecodeUtf8Lenient(bytes);
  if (first == "GB18030" || first == "GBK") return DecodeWhole(bytes, first == "GBK" ? "GBK" : "GB18030");

  Designations initial;
  const CodeSet* fallback = nullptr;
  if (values.size() == 1 && first.empty()) {
    // No character set: text beyond ASCII is the archive's local habit,
    // which is Latin-1 nearly everywhere.
    fallback = &kLatin1;
  } else if (!first.empty()) {
    const CodeSet* set = FindTerm(first);
    if (set == nullptr) {
      // A set this program does not know: UTF-8 where the bytes are, else
      // Latin-1, as without one.
      std::string runs;
      WithoutEscapes(bytes, [&](std::string_view run) { runs += run; });
      if (IsValidUtf8(runs)) return runs;
      fallback = &kLatin1;
    } else if (set->g1) {
      initial.g1 = set;
      // JIS X 0201 takes G0 as well, with its Romaji half.
      if (set->ir == 13) initial.g0 = &kCodeSets[1];
    }
  }
  if (fallback == nullptr) {
    for (std::size_t v = 1; v < values.size() && fallback == nullptr; ++v) {
      const CodeSet* set = FindTerm(values[v]);
      if (set != nullptr && set->g1) fallback = set;
    }
  }
  if (fallback == nullptr) fallback = initial.g1 != nullptr ? initial.g1 : &kLatin1;
  return DecodeIso2022(bytes, initial, *fallback, kind);
}

}  // namespace morvanta::dicom
