#pragma once
// What a network worker needs to know about the archive, copied from the
// settings on the UI thread before the worker starts, and the error it hands
// back. Plain values: nothing here is shared between threads.

#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string>

#include "config/settings.h"
#include "dicom/dicom.h"

namespace morvanta::search {

struct ArchiveAddress {
  std::string host;        // QueryIP
  std::int32_t port = 0;   // QueryPort
  std::string calledAET;   // QueryAET
  std::string callingAET;  // LocalAET
  int timeoutSeconds = kDefaultTimeoutSeconds;
  dicom::TlsSettings tls{};  // [TLS]
};

inline dicom::TlsSettings TlsSettingsFrom(const TlsValues& values) {
  return {values.Enabled, values.CACertificates, values.Certificate, values.PrivateKey};
}

inline ArchiveAddress ArchiveAddressFrom(const SettingsValues& values) {
  return {values.QueryIP, values.QueryPort, values.QueryAET, values.LocalAET,
          values.TimeoutSeconds, TlsSettingsFrom(values.Tls)};
}

// An error as the window logs and shows it: "number - description".
struct ToolkitError {
  std::int32_t number = 0;
  std::string description;
  bool operator==(const ToolkitError&) const = default;
};

// A failure that did not come from the binding's own table (it never should):
// reported with this number so it still reaches the log and the user.
inline constexpr std::int32_t kUnexpectedErrorNumber = 1099;
// Memory ran out while building or receiving data sets.
inline constexpr std::int32_t kOutOfMemoryNumber = 7;

// The error behind the exception being handled; call inside a catch block.
inline ToolkitError CurrentToolkitError() {
  try {
    throw;
  } catch (const dicom::Error& e) {
    return {e.number(), e.description()};
  } catch (const std::bad_alloc&) {
    return {kOutOfMemoryNumber, "Out of memory"};
  } catch (const std::exception& e) {
    return {kUnexpectedErrorNumber, e.what()};
  } catch (...) {
    return {kUnexpectedErrorNumber, "Unknown error"};
  }
}

}  // namespace morvanta::search
