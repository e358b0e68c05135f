#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "dicom/converter.h"

namespace morvanta::dicom {
namespace {

struct Named {
  const char* name;
  UINT codePage;
};

// The iconv names the decoder asks for, as Windows code pages. EUC-KR reads
// through 949 (Unified Hangul Code), which holds it byte for byte and which
// every Windows and wine have; not every one has 51949. GB18030 falls back
// to GBK (936), its two-byte part, where 54936 is missing (wine 8).
constexpr Named kCodePages[] = {
    {"EUC-JP", 20932},      {"EUC-KR", 949},        {"GB2312", 936},        {"GBK", 936},
    {"GB18030", 54936},     {"GB18030", 936},     {"ISO-8859-1", 28591},  {"ISO-8859-2", 28592},  {"ISO-8859-3", 28593},
    {"ISO-8859-4", 28594},  {"ISO-8859-5", 28595},  {"ISO-8859-6", 28596},  {"ISO-8859-7", 28597},
    {"ISO-8859-8", 28598},  {"ISO-8859-9", 28599},  {"ISO-8859-15", 28605}, {"TIS-620", 874},
};

// The UTF-16 of `in`, or false when a byte sequence is not in the code page.
bool Decode(UINT codePage, std::string_view in, std::wstring& wide) {
  if (in.empty()) {
    wide.clear();
    return true;
  }
  const int size = static_cast<int>(in.size());
  const int length = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), size, nullptr, 0);
  if (length <= 0) return false;
  wide.resize(static_cast<std::size_t>(length));
  return ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), size, wide.data(), length) == length;
}

constexpr UINT kEucJp = 20932;

bool IsEucByte(unsigned char c) { return c >= 0xA1 && c != 0xFF; }

// Code page 20932 holds JIS X 0212 not as EUC-JP's three bytes (0x8F, then
// two bytes with the high bit set) but as two: the first with the high bit
// set, the second without. `in` rewritten that way, and for each byte of the
// result (and its end) the offset in `in` it came from, so that what Windows
// takes can be counted in the caller's bytes. A 0x8F not followed by two such
// bytes ends the text there: iconv refuses it, while 20932 would make it
// U+008F.
std::string EucJpForCodePage(std::string_view in, std::vector<std::size_t>& origin) {
  std::string out;
  origin.clear();
  std::size_t i = 0;
  while (i < in.size()) {
    const auto c = static_cast<unsigned char>(in[i]);
    if (c != 0x8F) {
      origin.push_back(i);
      out += in[i++];
      continue;
    }
    if (i + 2 >= in.size() || !IsEucByte(static_cast<unsigned char>(in[i + 1])) ||
        !IsEucByte(static_cast<unsigned char>(in[i + 2])))
      break;
    origin.push_back(i);
    origin.push_back(i);
    out += in[i + 1];
    out += static_cast<char>(static_cast<unsigned char>(in[i + 2]) & 0x7F);
    i += 3;
  }
  origin.push_back(i);
  return out;
}

}  // namespace

struct Converter::State {
  UINT codePage = 0;
};

Converter::Converter(const char* from) : state_(new State) {
  for (const Named& n : kCodePages) {
    if (std::strcmp(n.name, from) == 0 && ::IsValidCodePage(n.codePage)) {
      state_->codePage = n.codePage;
      break;
    }
  }
}

Converter::~Converter() = default;

bool Converter::ok() const { return state_->codePage != 0; }

std::size_t Converter::Convert(std::string_view in, std::string& out) {
  if (!ok()) return 0;
  std::vector<std::size_t> origin;
  std::string rewritten;
  std::string_view text = in;
  if (state_->codePage == kEucJp) text = rewritten = EucJpForCodePage(in, origin);
  // Windows converts all or nothing: the longest prefix it takes is what
  // iconv would have converted before stopping. Values are short.
  std::wstring wide;
  std::size_t taken = text.size();
  while (taken > 0 && !Decode(state_->codePage, text.substr(0, taken), wide)) --taken;
  if (taken == 0) return 0;
  const int size = static_cast<int>(wide.size());
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return 0;
  std::string utf8(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
  out += utf8;
  return origin.empty() ? taken : origin[taken];
}

}  // namespace morvanta::dicom
