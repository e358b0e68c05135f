#include <windows.h>

#include <string>

#include "dicom/tls_loader.h"
#include "platform/win32_text.h"

namespace morvanta::dicom {
using platform::SystemReason;
using platform::Utf8;
using platform::Wide;

// UTF-8, as every path the program passes around.
std::string ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);  // cut short: a longer path
  }
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::string() : Utf8(path.substr(0, slash));
}

std::string InFolder(const std::string& folder, const char* file) {
  return (folder.back() == '\\' || folder.back() == '/' ? folder : folder + "\\") + file;
}

OpenedModule OpenModule(const std::string& path) {
  // The module's own folder first for what it needs: never the current one.
  HMODULE module = ::LoadLibraryExW(Wide(path).c_str(), nullptr,
                                    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  if (module == nullptr) return {nullptr, nullptr, SystemReason(::GetLastError())};
  const auto entry = reinterpret_cast<TlsModuleEntry>(
      reinterpret_cast<void*>(::GetProcAddress(module, kTlsModuleEntry)));
  if (entry == nullptr) {
    std::string reason = SystemReason(::GetLastError());
    ::FreeLibrary(module);
    return {nullptr, nullptr, std::move(reason)};
  }
  return {reinterpret_cast<void*>(module), entry, {}};
}

void CloseModule(void* handle) { ::FreeLibrary(reinterpret_cast<HMODULE>(handle)); }

}  // namespace morvanta::dicom
