#pragma once
// How long connecting, negotiating and each DICOM response may take when
// nothing else is set: the network objects' default and [Query] Timeout's.

namespace morvanta::dicom {

inline constexpr int kDefaultTimeoutSeconds = 30;

}  // namespace morvanta::dicom
