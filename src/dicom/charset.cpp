#include "dicom/charset.h"

#include "text/utf8.h"

namespace morvanta::dicom {

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

}  // namespace morvanta::dicom
