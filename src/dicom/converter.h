#pragma once
// One conversion from a named character set to UTF-8: iconv on POSIX, the
// system's code pages on Windows. Not shared between threads: each decode
// opens its own.

#include <memory>
#include <string>
#include <string_view>

namespace morvanta::dicom {

class Converter {
 public:
  // `from` is an iconv name: EUC-JP, EUC-KR, GB2312, GB18030, GBK,
  // ISO-8859-n, TIS-620.
  explicit Converter(const char* from);
  ~Converter();
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const;

  // Appends the conversion of `in` up to the first byte sequence the set
  // does not define (or that is cut short); returns the bytes it consumed.
  std::size_t Convert(std::string_view in, std::string& out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace morvanta::dicom
