#pragma once
// The archive's address as the settings give it.

#include "config/settings.h"
#include "dicom/archive.h"

namespace morvanta::search {

inline dicom::TlsSettings TlsSettingsFrom(const TlsValues& values) {
  return {values.Enabled, values.CACertificates, values.Certificate, values.PrivateKey};
}

inline dicom::ArchiveAddress ArchiveAddressFrom(const SettingsValues& values) {
  return {values.QueryIP, values.QueryPort, values.QueryAET, values.LocalAET,
          values.TimeoutSeconds, TlsSettingsFrom(values.Tls)};
}

}  // namespace morvanta::search
