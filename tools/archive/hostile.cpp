#include "hostile.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmnet/dcmtrans.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/dul.h>

#include <algorithm>

namespace morvanta::archive {

namespace {

void Put16(std::string& out, std::uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}
void Put32(std::string& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((v >> shift) & 0xFF);
}
void Put32BigEndian(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}
void PutTag(std::string& out, std::uint16_t group, std::uint16_t element) {
  Put16(out, group);
  Put16(out, element);
}

// A short-form element (CS, PN, UI, US, UL) with its value padded to even length.
void PutElement(std::string& out, bool explicitVR, std::uint16_t group, std::uint16_t element, const char* vr,
                std::string value, char pad = ' ') {
  if (value.size() % 2 != 0) value += pad;
  PutTag(out, group, element);
  if (explicitVR) {
    out += vr;
    Put16(out, static_cast<std::uint16_t>(value.size()));
  } else {
    Put32(out, static_cast<std::uint32_t>(value.size()));
  }
  out += value;
}

std::string Us(std::uint16_t v) {
  std::string out;
  Put16(out, v);
  return out;
}

constexpr std::uint32_t kUndefined = 0xFFFFFFFF;

// A sequence of undefined length holding an item holding the same sequence,
// `depth` items deep.
std::string NestedSequence(std::uint16_t group, std::uint16_t element, int depth, bool explicitVR) {
  std::string out;
  for (int i = 0; i < depth; ++i) {
    PutTag(out, group, element);
    if (explicitVR) {
      out += "SQ";
      Put16(out, 0);
    }
    Put32(out, kUndefined);
    PutTag(out, 0xFFFE, 0xE000);
    Put32(out, kUndefined);
  }
  for (int i = 0; i < depth; ++i) {
    PutTag(out, 0xFFFE, 0xE00D);
    Put32(out, 0);
    PutTag(out, 0xFFFE, 0xE0DD);
    Put32(out, 0);
  }
  return out;
}

// The command set of a response, always implicit VR little endian (PS3.7
// 6.3.1); with `depth`, an element of no meaning at its end nests that deep.
std::string Command(std::uint16_t commandField, std::uint16_t messageId, const char* sopClass, std::uint16_t status,
                    int depth = 0) {
  std::string body;
  PutElement(body, false, 0x0000, 0x0002, "UI", sopClass, '\0');
  PutElement(body, false, 0x0000, 0x0100, "US", Us(commandField));
  PutElement(body, false, 0x0000, 0x0120, "US", Us(messageId));
  PutElement(body, false, 0x0000, 0x0800, "US", Us(0x0000));  // a data set follows
  PutElement(body, false, 0x0000, 0x0900, "US", Us(status));
  body += NestedSequence(0x0000, 0x6000, depth, false);
  std::string command;
  std::string length;
  Put32(length, static_cast<std::uint32_t>(body.size()));
  PutElement(command, false, 0x0000, 0x0000, "UL", length);
  return command + body;
}

// One P-DATA-TF PDU with one PDV (PS3.8 9.3.5).
std::string Pdu(T_ASC_PresentationContextID presId, bool command, bool last, const char* data, std::size_t size) {
  std::string pdu;
  pdu += '\x04';
  pdu += '\0';
  Put32BigEndian(pdu, static_cast<std::uint32_t>(size + 6));
  Put32BigEndian(pdu, static_cast<std::uint32_t>(size + 2));
  pdu += static_cast<char>(presId);
  pdu += static_cast<char>((command ? 1 : 0) | (last ? 2 : 0));
  pdu.append(data, size);
  return pdu;
}

bool Write(DcmTransportConnection* connection, std::string bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = connection->write(bytes.data() + done, bytes.size() - done);
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace

std::string NestedMatch(int depth, bool explicitVR) {
  std::string out;
  PutElement(out, explicitVR, 0x0008, 0x0052, "CS", "STUDY");
  out += NestedSequence(0x0008, 0x1110, depth, explicitVR);  // Referenced Study Sequence
  PutElement(out, explicitVR, 0x0010, 0x0010, "PN", "NESTED^DEEP");
  PutElement(out, explicitVR, 0x0020, 0x000D, "UI", "1.2.826.0.1.3680043.9.7433.1." + std::to_string(depth), '\0');
  return out;
}

std::string Padded(std::string dataset, bool explicitVR, std::size_t bytes) {
  const std::size_t header = explicitVR ? 12 : 8;
  const std::size_t padding = bytes > dataset.size() + header ? (bytes - dataset.size() - header + 1) & ~std::size_t{1} : 0;
  PutTag(dataset, 0xFFFC, 0xFFFC);
  if (explicitVR) {
    dataset += "OB";
    Put16(dataset, 0);
  }
  Put32(dataset, static_cast<std::uint32_t>(padding));
  dataset.append(padding, '\0');
  return dataset;
}

bool SendRawResponse(T_ASC_Association* association, T_ASC_PresentationContextID presId,
                     std::uint16_t commandField, std::uint16_t messageId, const char* sopClass,
                     std::uint16_t status, const std::string& dataset, bool onePdu, int commandDepth) {
  DcmTransportConnection* connection = DUL_getTransportConnection(association->DULassociation);
  if (connection == nullptr) return false;
  const std::string command = Command(commandField, messageId, sopClass, status, commandDepth);
  // The receiver's maximum PDU, less the PDV header (what DUL calls the PDV length).
  const std::size_t most = std::max<std::size_t>(association->sendPDVLength, 64) - 6;
  for (std::size_t done = 0; done < command.size();) {
    const std::size_t size = std::min(most, command.size() - done);
    if (!Write(connection, Pdu(presId, true, done + size >= command.size(), command.data() + done, size))) return false;
    done += size;
  }
  if (onePdu) return Write(connection, Pdu(presId, false, true, dataset.data(), dataset.size()));
  for (std::size_t done = 0; done < dataset.size() || done == 0;) {
    const std::size_t size = std::min(most, dataset.size() - done);
    const bool last = done + size >= dataset.size();
    if (!Write(connection, Pdu(presId, false, last, dataset.data() + done, size))) return false;
    done += size;
    if (last) break;
  }
  return true;
}

void StreamPending(T_ASC_Association* association, T_ASC_PresentationContextID presId, std::uint16_t messageId,
                   const char* sopClass, const std::string& dataset) {
  DcmTransportConnection* connection = DUL_getTransportConnection(association->DULassociation);
  if (connection == nullptr) return;
  const std::string command = Command(DIMSE_C_FIND_RSP, messageId, sopClass, 0xFF00);
  const std::string one = Pdu(presId, true, true, command.data(), command.size()) +
                          Pdu(presId, false, true, dataset.data(), dataset.size());
  std::string many;
  while (many.size() < 64 * 1024) many += one;
  while (Write(connection, many)) {
  }
}

void StreamEndlessMatch(T_ASC_Association* association, T_ASC_PresentationContextID presId,
                        std::uint16_t messageId, const char* sopClass) {
  DcmTransportConnection* connection = DUL_getTransportConnection(association->DULassociation);
  if (connection == nullptr) return;
  const std::string command = Command(DIMSE_C_FIND_RSP, messageId, sopClass, 0xFF00);
  if (!Write(connection, Pdu(presId, true, true, command.data(), command.size()))) return;
  const std::size_t most = std::max<std::size_t>(association->sendPDVLength, 64) - 6;
  const std::string zeros(most, '\0');
  std::string many;
  while (many.size() < 64 * 1024) many += Pdu(presId, false, false, zeros.data(), zeros.size());
  while (Write(connection, many)) {
  }
}

// A match that tests a receiver's limits: a 65,534-byte Patient's Name (the
// most a PN can carry with a 16-bit length, PS3.5 7.1.2), a 40 MiB one (more
// than a window can lay out; explicit VR writes it as UN), bytes that are not
// UTF-8 in an "ISO_IR 192" answer, a character set no one defines, or the
// names of PS3.5 Annexes H, I and J in ISO 2022 (Japanese, Korean) and
// GB18030.
void MakeOddMatch(DcmDataset& answer, const std::string& kind) {
  std::string name, charset;
  if (kind == "long") {
    name = "LONG^" + std::string(65534 - 5, 'N');
    charset = "ISO_IR 100";
  } else if (kind == "huge") {
    name = "HUGE^" + std::string(40 * 1024 * 1024 - 5, 'N');
    charset = "ISO_IR 100";
  } else if (kind == "invalid") {
    name = "BAD\xFF\xFE^NAME\xC3";
    charset = "ISO_IR 192";
  } else if (kind == "japanese") {
    name = "Yamada^Tarou=\x1b$B;3ED\x1b(B^\x1b$BB@O:\x1b(B=\x1b$B$d$^$@\x1b(B^\x1b$B$?$m$&\x1b(B";
    charset = "\\ISO 2022 IR 87";
  } else if (kind == "korean") {
    name = "Hong^Gildong=\x1b$)C\xfb\xf3^\x1b$)C\xd1\xce\xd4\xd7=\x1b$)C\xc8\xab^"
           "\x1b$)C\xb1\xe6\xb5\xbf";
    charset = "\\ISO 2022 IR 149";
  } else if (kind == "chinese") {
    name = "Wang^XiaoDong=\xcd\xf5^\xd0\xa1\xb6\xab=";
    charset = "GB18030";
  } else {
    name = "M\xFCLLER^HANS";
    charset = "ISO_IR 999";
  }
  answer.putAndInsertString(DCM_SpecificCharacterSet, charset.c_str());
  answer.putAndInsertString(DCM_PatientName, name.c_str(), static_cast<Uint32>(name.size()));
}

}  // namespace morvanta::archive
