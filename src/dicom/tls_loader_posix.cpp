#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "dicom/tls_loader.h"

namespace morvanta::dicom {
namespace {

// The loader's reason, without the path it starts with (the text names it).
std::string LoaderReason(const std::string& path) {
  const char* why = dlerror();
  std::string reason = why != nullptr ? why : "no reason given";
  if (reason.starts_with(path + ": ")) reason.erase(0, path.size() + 2);
  return reason;
}

}  // namespace

std::string ProgramFolder() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  const std::string self(path, static_cast<std::size_t>(length));
  const auto slash = self.rfind('/');
  return slash == std::string::npos ? std::string() : self.substr(0, slash == 0 ? 1 : slash);
}

std::string InFolder(const std::string& folder, const char* file) {
  return (folder.back() == '/' ? folder : folder + "/") + file;
}

OpenedModule OpenModule(const std::string& path) {
  // RTLD_LOCAL: the module's OpenSSL stays its own, out of the lookups of
  // anything loaded later.
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return {nullptr, nullptr, LoaderReason(path)};
  dlerror();
  const auto entry = reinterpret_cast<TlsModuleEntry>(::dlsym(handle, kTlsModuleEntry));
  if (entry == nullptr) {
    std::string reason = LoaderReason(path);
    ::dlclose(handle);
    return {nullptr, nullptr, std::move(reason)};
  }
  return {handle, entry, {}};
}

void CloseModule(void* handle) { ::dlclose(handle); }

}  // namespace morvanta::dicom
