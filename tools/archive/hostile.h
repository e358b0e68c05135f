#pragma once
// Responses no honest archive sends, written to the connection byte by byte
// where the toolkit would not produce them: a data set whose sequences nest
// thousands of levels deep, a PDU over the receiver's maximum, a data set
// without end; and matches that test a receiver's limits (--odd-first).

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmnet/assoc.h>

#include <cstdint>
#include <cstddef>
#include <string>

namespace morvanta::archive {

// A match whose Referenced Study Sequence holds an item holding the same
// sequence, `depth` items deep (undefined lengths, 36 bytes a level in
// explicit VR), in the transfer syntax of the presentation context.
std::string NestedMatch(int depth, bool explicitVR);

// `dataset` with Data Set Trailing Padding (FFFC,FFFC) that makes it at
// least `bytes` long.
std::string Padded(std::string dataset, bool explicitVR, std::size_t bytes);

// One C-FIND (0x8020) or C-MOVE (0x8021) response with `dataset` (the bytes
// of a data set in the context's transfer syntax), in P-DATA-TF PDUs no
// longer than the receiver takes, or with `onePdu`, in one PDU however long;
// with `commandDepth`, the command set itself nests a sequence that deep.
// False when the connection took not all of it.
bool SendRawResponse(T_ASC_Association* association, T_ASC_PresentationContextID presId,
                     std::uint16_t commandField, std::uint16_t messageId, const char* sopClass,
                     std::uint16_t status, const std::string& dataset, bool onePdu = false,
                     int commandDepth = 0);

// Pending C-FIND responses carrying `dataset`, the same bytes over and over,
// as fast as the connection takes them, until it takes no more. Returns then.
void StreamPending(T_ASC_Association* association, T_ASC_PresentationContextID presId, std::uint16_t messageId,
                   const char* sopClass, const std::string& dataset);

// One pending C-FIND response whose data set never ends: every PDV says more
// follows, as fast as the connection takes them, until it takes no more.
void StreamEndlessMatch(T_ASC_Association* association, T_ASC_PresentationContextID presId,
                        std::uint16_t messageId, const char* sopClass);

// The first match made odd by --odd-first KIND: "long", "huge", "invalid",
// "japanese", "korean", "chinese", anything else an unknown character set.
void MakeOddMatch(DcmDataset& answer, const std::string& kind);

}  // namespace morvanta::archive
