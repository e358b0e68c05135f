// The decoder of received data sets: a walk of the bytes that measures how
// deep sequence items nest, then the toolkit's parser on what passed.

#include "dicom/received.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmdata/dctag.h>
#include <dcmtk/dcmdata/dcvr.h>

#include <algorithm>
#include <cctype>
#include <vector>

namespace morvanta::dicom::detail {

namespace {

constexpr std::uint32_t kUndefined = 0xFFFFFFFF;

std::uint16_t Read16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Read32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// An open sequence or item: where it ends (undefined length: at its
// delimiter), and how what it holds is encoded.
struct Frame {
  std::size_t end = 0;
  bool undefined = false;
  bool item = false;
  bool implicit = false;
  bool fragments = false;  // an encapsulated pixel sequence: its items are bytes
};

// What the walk found: how deep items nest, and whether a value claims more
// bytes than the data set has left (the parser would first allocate that
// much, up to 4 GB, before it noticed).
struct Measure {
  std::size_t depth = 0;
  bool overrun = false;
};

Measure Walk(const std::uint8_t* data, std::size_t size, E_TransferSyntax xfer, std::size_t limit) {
  const bool implicitBase = DcmXfer(xfer).isImplicitVR();
  std::vector<Frame> open;
  std::size_t items = 0;
  std::size_t deepest = 0;
  auto pop = [&] {
    if (open.back().item) --items;
    open.pop_back();
  };
  std::size_t pos = 0;
  while (size - pos >= 8) {
    while (!open.empty() && !open.back().undefined && pos >= open.back().end) pop();
    const bool implicit = open.empty() ? implicitBase : open.back().implicit;
    const std::uint16_t group = Read16(data + pos);
    const std::uint16_t element = Read16(data + pos + 2);
    if (group == 0xFFFE) {
      const std::uint32_t length = Read32(data + pos + 4);
      pos += 8;
      if (element == 0xE000) {
        // An item outside a sequence: the parser refuses it.
        if (open.empty() || open.back().item) return {deepest};
        if (open.back().fragments) {
          if (length == kUndefined) return {deepest};
          if (length > size - pos) return {deepest, true};
          pos += length;
          continue;
        }
        deepest = std::max(deepest, ++items);
        if (items > limit) return {items};
        open.push_back({length == kUndefined ? 0 : pos + length, length == kUndefined, true, open.back().implicit, false});
      } else if (element == 0xE00D || element == 0xE0DD) {
        // An item's delimiter closes the item, a sequence's the sequence,
        // with whatever was left open inside them.
        const bool closesItem = element == 0xE00D;
        while (!open.empty()) {
          const bool wasItem = open.back().item;
          pop();
          if (wasItem == closesItem) break;
        }
      } else {
        // Not an item or a delimiter: a value to skip, as the parser does.
        if (length == kUndefined) return {deepest};
        if (length > size - pos) return {deepest, true};
        pos += length;
      }
      continue;
    }
    // A sequence holds items only.
    if (!open.empty() && !open.back().item) return {deepest};

    std::uint32_t length = 0;
    std::size_t header = 8;
    bool sequence = false;
    bool fragments = false;
    bool innerImplicit = implicit;
    if (implicit) {
      length = Read32(data + pos + 4);
      if (length == kUndefined) {
        sequence = true;
        fragments = group == 0x7FE0 && element == 0x0010;
      } else {
        sequence = DcmTag(group, element).getEVR() == EVR_SQ;
      }
    } else {
      const char vrName[3] = {static_cast<char>(data[pos + 4]), static_cast<char>(data[pos + 5]), 0};
      if (!std::isupper(static_cast<unsigned char>(vrName[0])) ||
          !std::isupper(static_cast<unsigned char>(vrName[1])))
        return {deepest};
      const DcmVR vr(vrName);
      if (vr.usesExtendedLengthEncoding()) {
        if (size - pos < 12) return {deepest};
        length = Read32(data + pos + 8);
        header = 12;
      } else {
        length = Read16(data + pos + 6);
      }
      if (vr.getEVR() == EVR_SQ) {
        sequence = true;
      } else if (length == kUndefined) {
        sequence = true;
        // PS3.5 6.2.2: a sequence sent as UN is implicit VR inside;
        // anything else of undefined length is encapsulated pixel data.
        if (vr.getEVR() == EVR_UN) innerImplicit = true;
        else fragments = true;
      }
    }
    pos += header;
    if (sequence) {
      open.push_back({length == kUndefined ? 0 : pos + length, length == kUndefined, false, innerImplicit, fragments});
      continue;
    }
    if (length > size - pos) return {deepest, true};
    pos += length;
  }
  return {deepest};
}

}  // namespace

std::size_t NestingDepth(const std::uint8_t* data, std::size_t size, E_TransferSyntax xfer, std::size_t limit) {
  return Walk(data, size, xfer, limit).depth;
}

std::unique_ptr<DcmDataset> DecodeReceived(const std::uint8_t* data, std::size_t size, E_TransferSyntax xfer,
                                           std::string& why) {
  const Measure measure = Walk(data, size, xfer, kMaxNesting);
  if (measure.depth > kMaxNesting) {
    why = "its sequences nest deeper than " + std::to_string(kMaxNesting) + " levels";
    return nullptr;
  }
  if (measure.overrun) {
    why = "a value is longer than the data set";
    return nullptr;
  }
  DcmInputBufferStream stream;
  stream.setBuffer(data, static_cast<offile_off_t>(size));
  stream.setEos();
  auto dataset = std::make_unique<DcmDataset>();
  dataset->transferInit();
  const OFCondition cond = dataset->read(stream, xfer, EGL_noChange, DCM_MaxReadLength);
  dataset->transferEnd();
  if (cond.bad()) {
    why = cond.text() != nullptr ? cond.text() : "it could not be parsed";
    return nullptr;
  }
  return dataset;
}

bool ToResponse(DcmDataset& command, T_DIMSE_Message& message, std::string& why) {
  auto get = [&command](const DcmTagKey& key, Uint16& value) { return command.findAndGetUint16(key, value).good(); };
  Uint16 field = 0;
  if (!get(DCM_CommandField, field)) {
    why = "it has no Command Field (0000,0100)";
    return false;
  }
  message = T_DIMSE_Message{};
  message.CommandField = static_cast<T_DIMSE_Command>(field);
  if (field != DIMSE_C_FIND_RSP && field != DIMSE_C_MOVE_RSP && field != DIMSE_C_STORE_RSP &&
      field != DIMSE_C_ECHO_RSP)
    return true;
  Uint16 answered = 0;
  Uint16 type = 0;
  Uint16 status = 0;
  if (!get(DCM_MessageIDBeingRespondedTo, answered) || !get(DCM_CommandDataSetType, type) || !get(DCM_Status, status)) {
    why = "a response lacks its Message ID Being Responded To, Command Data Set Type or Status";
    return false;
  }
  const T_DIMSE_DataSetType dataSet = type == DIMSE_DATASET_NULL ? DIMSE_DATASET_NULL : DIMSE_DATASET_PRESENT;
  OFString sopClass;
  const bool hasClass = command.findAndGetOFString(DCM_AffectedSOPClassUID, sopClass).good();
  // What every response has; a C-STORE's or C-ECHO's status is all we read of it.
  const auto common = [&](auto& r) -> auto& {
    r.MessageIDBeingRespondedTo = answered;
    r.DataSetType = dataSet;
    r.DimseStatus = status;
    return r;
  };
  if (field == DIMSE_C_STORE_RSP) {
    common(message.msg.CStoreRSP);
    return true;
  }
  if (field == DIMSE_C_ECHO_RSP) {
    common(message.msg.CEchoRSP);
    return true;
  }
  if (field == DIMSE_C_FIND_RSP) {
    T_DIMSE_C_FindRSP& r = common(message.msg.CFindRSP);
    if (hasClass) {
      OFStandard::strlcpy(r.AffectedSOPClassUID, sopClass.c_str(), sizeof r.AffectedSOPClassUID);
      r.opts |= O_FIND_AFFECTEDSOPCLASSUID;
    }
    return true;
  }
  T_DIMSE_C_MoveRSP& r = common(message.msg.CMoveRSP);
  if (hasClass) {
    OFStandard::strlcpy(r.AffectedSOPClassUID, sopClass.c_str(), sizeof r.AffectedSOPClassUID);
    r.opts |= O_MOVE_AFFECTEDSOPCLASSUID;
  }
  const std::pair<DcmTagKey, std::pair<DIC_US*, unsigned>> counts[] = {
      {DCM_NumberOfRemainingSuboperations, {&r.NumberOfRemainingSubOperations, O_MOVE_NUMBEROFREMAININGSUBOPERATIONS}},
      {DCM_NumberOfCompletedSuboperations, {&r.NumberOfCompletedSubOperations, O_MOVE_NUMBEROFCOMPLETEDSUBOPERATIONS}},
      {DCM_NumberOfFailedSuboperations, {&r.NumberOfFailedSubOperations, O_MOVE_NUMBEROFFAILEDSUBOPERATIONS}},
      {DCM_NumberOfWarningSuboperations, {&r.NumberOfWarningSubOperations, O_MOVE_NUMBEROFWARNINGSUBOPERATIONS}}};
  for (const auto& [key, target] : counts) {
    Uint16 value = 0;
    if (!get(key, value)) continue;
    *target.first = value;
    r.opts |= target.second;
  }
  return true;
}

}  // namespace morvanta::dicom::detail
