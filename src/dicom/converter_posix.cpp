#include <iconv.h>

#include <array>
#include <cerrno>

#include "dicom/converter.h"

namespace morvanta::dicom {

struct Converter::State {
  iconv_t cd;
};

Converter::Converter(const char* from) : state_(new State{iconv_open("UTF-8", from)}) {}

Converter::~Converter() {
  if (ok()) iconv_close(state_->cd);
}

bool Converter::ok() const { return state_->cd != reinterpret_cast<iconv_t>(-1); }

std::size_t Converter::Convert(std::string_view in, std::string& out) {
  if (!ok()) return 0;
  iconv(state_->cd, nullptr, nullptr, nullptr, nullptr);
  char* source = const_cast<char*>(in.data());
  std::size_t left = in.size();
  std::array<char, 256> buffer{};
  while (left > 0) {
    char* target = buffer.data();
    std::size_t room = buffer.size();
    const std::size_t result = iconv(state_->cd, &source, &left, &target, &room);
    out.append(buffer.data(), static_cast<std::size_t>(target - buffer.data()));
    if (result == static_cast<std::size_t>(-1) && errno != E2BIG) break;
  }
  return in.size() - left;
}

}  // namespace morvanta::dicom
