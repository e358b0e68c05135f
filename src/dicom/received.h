#pragma once
// Inside the binding only: the decoder of the data sets an archive sends
// (C-FIND matches, C-MOVE responses). The toolkit's parser recurses once per
// nested sequence item, so a data set nested some thousands of levels deep
// would overflow the worker's stack; the bytes are walked first, without
// recursion, and a data set nested deeper than any real one is refused.

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmnet/dimse.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace morvanta::dicom::detail {

// Sequence items inside items: real data sets stay below ten; a few hundred
// cost the parser nothing on any thread's stack.
inline constexpr std::size_t kMaxNesting = 128;

// How deep the sequence items of `size` bytes in the transfer syntax `xfer`
// (little endian, explicit or implicit VR) nest, walked without recursion. The
// walk stops counting at `limit + 1`, and where the bytes stop making sense
// (the parser then refuses them itself).
std::size_t NestingDepth(const std::uint8_t* data, std::size_t size, E_TransferSyntax xfer,
                         std::size_t limit = kMaxNesting);

// The data set in `size` bytes, or null with the reason in `why`: nested
// deeper than kMaxNesting, a value longer than the bytes left, or what the
// toolkit's parser found wrong.
std::unique_ptr<DcmDataset> DecodeReceived(const std::uint8_t* data, std::size_t size, E_TransferSyntax xfer,
                                           std::string& why);

// A C-FIND or C-MOVE response's command set (decoded by DecodeReceived, in
// implicit VR) as the toolkit's message; any other command only with its
// Command Field, for the caller to refuse. False, with `why`, when a
// response lacks what it must carry.
bool ToResponse(DcmDataset& command, T_DIMSE_Message& message, std::string& why);

}  // namespace morvanta::dicom::detail
