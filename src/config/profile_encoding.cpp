#include "config/profile_encoding.h"

#include <algorithm>

#include "log/codepage.h"
#include "text/utf8.h"

namespace morvanta {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr char32_t kReplacement = 0xFFFD;

unsigned char Byte(std::string_view text, std::size_t i) { return static_cast<unsigned char>(text[i]); }

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// UTF-8, and also an unpaired surrogate as DecodeProfile keeps it (ED A0..BF
// xx); returns 0 for anything else that is not UTF-8.
std::size_t DecodeText(std::string_view text, std::size_t i, char32_t& out) {
  if (const std::size_t length = text::DecodeUtf8(text, i, out)) return length;
  if (i + 3 <= text.size() && Byte(text, i) == 0xED && (Byte(text, i + 1) & 0xE0) == 0xA0 &&
      (Byte(text, i + 2) & 0xC0) == 0x80) {
    out = 0xD000 | (static_cast<char32_t>(Byte(text, i + 1) & 0x3F) << 6) | (Byte(text, i + 2) & 0x3F);
    return 3;
  }
  return 0;
}

void AppendUnit(std::string& out, char32_t unit) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>(unit >> 8);
}

}  // namespace

ProfileText DecodeProfile(std::string bytes) {
  ProfileText decoded;
  if (bytes.starts_with(kUtf16LeBom)) {
    decoded.encoding = ProfileEncoding::Utf16Le;
    const std::string_view units = std::string_view(bytes).substr(kUtf16LeBom.size());
    const std::size_t count = units.size() / 2;
    const auto unit = [&](std::size_t k) -> char32_t { return Byte(units, 2 * k) | (Byte(units, 2 * k + 1) << 8); };
    decoded.text.reserve(units.size());
    for (std::size_t k = 0; k < count; ++k) {
      char32_t c = unit(k);
      if (c >= 0xD800 && c <= 0xDBFF && k + 1 < count && unit(k + 1) >= 0xDC00 && unit(k + 1) <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (unit(k + 1) - 0xDC00);
        ++k;
      }
      text::AppendUtf8(decoded.text, c);  // a lone surrogate as three bytes
    }
    if (units.size() % 2 != 0) decoded.oddByte = units.substr(units.size() - 1);
    return decoded;
  }
  if (bytes.starts_with(kUtf8Bom)) {
    decoded.encoding = ProfileEncoding::Utf8Bom;
    bytes.erase(0, kUtf8Bom.size());
  }
  decoded.text = std::move(bytes);
  return decoded;
}

std::string EncodeProfile(ProfileEncoding encoding, std::string_view text, std::string_view oddByte) {
  switch (encoding) {
    case ProfileEncoding::Ansi:
      return std::string(text);
    case ProfileEncoding::Utf8Bom:
      return std::string(kUtf8Bom) + std::string(text);
    case ProfileEncoding::Utf16Le:
      break;
  }
  std::string out(kUtf16LeBom);
  out.reserve(kUtf16LeBom.size() + 2 * text.size() + oddByte.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    std::size_t length = DecodeText(text, i, c);
    if (length == 0) {  // only ToProfileText's output gets here, and it has none
      c = kReplacement;
      length = 1;
    }
    i += length;
    if (c >= 0x10000) {
      AppendUnit(out, 0xD800 + ((c - 0x10000) >> 10));
      AppendUnit(out, 0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      AppendUnit(out, c);
    }
  }
  out += oddByte;
  return out;
}

std::string ToProfileText(ProfileEncoding encoding, std::string_view utf8) {
  if (encoding != ProfileEncoding::Utf16Le) return Utf8ToCp1252(utf8);
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t c = 0;
    const std::size_t length = text::DecodeUtf8(utf8, i, c);
    // As Utf8ToCp1252 has it: a byte that starts no valid sequence is one
    // unknown character.
    if (length == 0) {
      out += '?';
      ++i;
    } else {
      out += utf8.substr(i, length);
      i += length;
    }
  }
  return out;
}

std::string FromProfileText(ProfileEncoding encoding, std::string_view text, std::size_t limit) {
  if (encoding != ProfileEncoding::Utf16Le) return Cp1252ToUtf8(text.substr(0, std::min(limit, text.size())));
  std::string out;
  out.reserve(std::min(text.size(), 4 * limit));
  std::size_t i = 0;
  for (std::size_t count = 0; count < limit && i < text.size(); ++count) {
    char32_t c = 0;
    const std::size_t length = DecodeText(text, i, c);
    if (length == 0 || IsSurrogate(c)) {
      // The program's text is UTF-8, which has no unpaired surrogates.
      text::AppendUtf8(out, kReplacement);
    } else {
      out += text.substr(i, length);
    }
    i += length == 0 ? 1 : length;
  }
  return out;
}

}  // namespace morvanta
