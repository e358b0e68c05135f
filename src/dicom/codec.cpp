#include "dicom/codec.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcostrmb.h>

#include <cstdint>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include "dicom/association.h"
#include "dicom/charset.h"

namespace morvanta::dicom::detail {

// A data set built from the program's attribute list. Values arrive as UTF-8;
// the narrowest character set that holds them is chosen and declared.
std::unique_ptr<DcmDataset> BuildDataset(const AttributeList& attributes) {
  auto dataset = std::make_unique<DcmDataset>();
  std::vector<std::string> texts;
  for (const Attribute& a : attributes.items()) texts.push_back(a.Value());
  const Charset charset = ChooseCharset(texts);

  for (const Attribute& a : attributes.items()) {
    DcmTag tag(a.tag().group, a.tag().element);
    const DcmEVR vr = tag.getEVR();
    // Private and unknown tags travel as LO (the forwarding request's
    // (0019,0010) creator and (0019,0030) study UID among them).
    if (vr == EVR_UNKNOWN || vr == EVR_UN || vr == EVR_UNKNOWN2B) tag.setVR(DcmVR(EVR_LO));
    if (tag.getEVR() == EVR_SQ)
      Throw(ErrorCode::InvalidArgument, "Attribute " + std::string(tag.toString().c_str()) +
                                            " is a sequence and cannot be given as text");
    DcmElement* raw = nullptr;
    if (DcmItem::newDicomElementWithVR(raw, tag).bad() || raw == nullptr)
      Throw(ErrorCode::InvalidArgument,
            "Attribute " + std::string(tag.toString().c_str()) + " cannot be sent");
    std::unique_ptr<DcmElement> element(raw);
    const std::string value = charset == Charset::Latin1 ? Utf8ToLatin1(a.Value()) : a.Value();
    if (element->putString(value.c_str(), static_cast<Uint32>(value.size())).bad())
      Throw(ErrorCode::InvalidArgument, "Value \"" + a.Value() + "\" does not fit attribute " +
                                            std::string(tag.toString().c_str()));
    // A later Add of the same tag replaces the earlier one: a data set holds each tag once.
    if (dataset->insert(element.get(), OFTrue).bad())
      Throw(ErrorCode::EncodingFailed, "Attribute " + std::string(tag.toString().c_str()) +
                                           " could not be added to the data set");
    element.release();
  }
  if (charset != Charset::Ascii)
    dataset->putAndInsertString(DCM_SpecificCharacterSet, DefinedTerm(charset).c_str());
  else
    dataset->findAndDeleteElement(DCM_SpecificCharacterSet);
  return dataset;
}

namespace {

// How a received element's value is read: the VRs that Specific Character
// Set applies to (PS3.5 6.1.2.3), with the delimiters that end a code
// extension in them; the others hold the default repertoire.
std::optional<TextKind> TextKindOf(DcmEVR vr) {
  switch (vr) {
    case EVR_PN: return TextKind::PersonName;
    case EVR_SH:
    case EVR_LO:
    case EVR_UC: return TextKind::MultiValued;
    case EVR_ST:
    case EVR_LT:
    case EVR_UT: return TextKind::Text;
    default: return std::nullopt;
  }
}

// The most of one received value that is kept, in bytes. A VR with a 16-bit
// length holds at most 65,534 (PS3.5 7.1.2), so no such value is ever cut;
// what is longer is far beyond anything a study's attributes allow (a PN's
// group 64 characters, LO 64, UI 64) and is kept as its first bytes,
// marked as cut. The rest is never decoded, converted or shown.
constexpr std::uint32_t kKeptBytes = 64 * 1024;
constexpr std::string_view kCutMark = "\xE2\x80\xA6";  // U+2026, "..."

// The value's bytes as the toolkit holds them, without a copy.
std::string_view StoredBytes(DcmElement& element) {
  if (element.getVR() == EVR_UN || element.getVR() == EVR_OB) {
    Uint8* bytes = nullptr;
    if (element.getUint8Array(bytes).bad() || bytes == nullptr) return {};
    return {reinterpret_cast<const char*>(bytes), element.getLength()};
  }
  char* text = nullptr;
  Uint32 length = 0;
  if (element.getString(text, length).bad() || text == nullptr) return {};
  return {text, length};
}

}  // namespace

// A received data set as the program's DataSet, texts decoded into UTF-8 by
// the set's own (0008,0005); without one, text beyond ASCII is read as
// ISO_IR 100, as most archives that omit it mean (PS3.5 6.1.2.3 makes the
// default repertoire ASCII, so anything else is the archive's local habit).
// The decoding is our own rather than the toolkit's, which as built here
// knows neither the ISO 2022 code extensions nor GB18030.
DataSet ToDataSet(DcmDataset& dataset) {
  OFString declared;
  if (dataset.findAndGetOFStringArray(DCM_SpecificCharacterSet, declared).bad()) declared.clear();
  const std::string charset(declared.c_str(), declared.length());

  DataSet result;
  for (unsigned long i = 0; i < dataset.card(); ++i) {
    DcmElement* element = dataset.getElement(i);
    if (element == nullptr || element->ident() == EVR_SQ || element->getTag() == DCM_PixelData)
      continue;
    const DcmTagKey key = element->getTag();
    DcmEVR vr = element->getVR();
    // A value too long for its VR's 16-bit length travels as UN in explicit
    // VR (PS3.5 6.2.2): an attribute the dictionary knows as text is read
    // as that text again, not as the bytes' hex digits.
    const bool asUnknown = vr == EVR_UN;
    if (asUnknown && DcmVR(DcmTag(key).getEVR()).isaString()) vr = DcmTag(key).getEVR();
    const bool isText = DcmVR(vr).isaString();
    const bool isNull = element->getLength() == 0;
    const bool cut = element->getLength() > kKeptBytes;

    OFString value;
    std::string_view bytes;
    if (isNull) {
    } else if (isText && (cut || asUnknown)) {
      bytes = StoredBytes(*element);
      if (cut) bytes = bytes.substr(0, kKeptBytes);
      // What the toolkit's own reading drops: the padding to even length.
      while (!cut && !bytes.empty() && (bytes.back() == ' ' || bytes.back() == '\0'))
        bytes.remove_suffix(1);
    } else if (!cut) {
      element->getOFStringArray(value);
      bytes = std::string_view(value.c_str(), value.length());
    }
    const std::optional<TextKind> kind = TextKindOf(vr);
    std::string text = kind ? DecodeText(bytes, charset, *kind)
                            : DecodeText(bytes, "", TextKind::MultiValued);
    if (cut) text += kCutMark;
    result.Attributes().Set(key.getGroup(), key.getElement(), std::move(text), isNull);
  }
  return result;
}

}  // namespace morvanta::dicom::detail

namespace morvanta::dicom {

std::string EncodeDataSet(const DataSet& dataSet) {
  const std::unique_ptr<DcmDataset> dataset = detail::BuildDataset(dataSet.Attributes());
  const E_TransferSyntax xfer = EXS_LittleEndianExplicit;
  dataset->chooseRepresentation(xfer, nullptr);
  std::string bytes(dataset->calcElementLength(xfer, EET_ExplicitLength) + 16, '\0');
  DcmOutputBufferStream out(bytes.data(), static_cast<offile_off_t>(bytes.size()));
  dataset->transferInit();
  const OFCondition cond = dataset->write(out, xfer, EET_ExplicitLength, nullptr);
  dataset->transferEnd();
  if (cond.bad()) detail::Throw(ErrorCode::EncodingFailed, std::string("The query could not be encoded: ") + cond.text());
  void* written = nullptr;
  offile_off_t length = 0;
  out.flushBuffer(written, length);
  bytes.resize(static_cast<std::size_t>(length));
  return bytes;
}

}  // namespace morvanta::dicom
