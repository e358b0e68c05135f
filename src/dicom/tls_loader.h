#pragma once
// Loading the TLS module, the system's part: dlopen on POSIX, LoadLibraryExW
// on Windows. LoadTlsModule (tls.cpp) does the rest.

#include <string>

#include "dicom/tls_module.h"

namespace morvanta::dicom {

struct OpenedModule {
  void* handle = nullptr;  // nullptr: not loaded, `why` says what the loader said
  TlsModuleEntry entry = nullptr;
  std::string why;
};

// The module at `path` and its entry point; the reason given without the
// path it may start with (the error text names the path).
OpenedModule OpenModule(const std::string& path);
void CloseModule(void* handle);

// The path of `file` in `folder`.
std::string InFolder(const std::string& folder, const char* file);

}  // namespace morvanta::dicom
