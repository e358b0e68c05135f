#include "audit/message.h"

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "platform/process.h"

namespace morvanta::audit {

namespace {

// The next code point of `text` from `i` (advanced), or -1 for a byte that
// starts no well-formed UTF-8 sequence (overlong forms and surrogates too).
long NextCodePoint(std::string_view text, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  int length = 0;
  long cp = 0;
  long minimum = 0;
  if ((lead & 0xE0) == 0xC0) length = 2, cp = lead & 0x1F, minimum = 0x80;
  else if ((lead & 0xF0) == 0xE0) length = 3, cp = lead & 0x0F, minimum = 0x800;
  else if ((lead & 0xF8) == 0xF0) length = 4, cp = lead & 0x07, minimum = 0x10000;
  if (length == 0 || i + static_cast<std::size_t>(length) > text.size()) {
    ++i;
    return -1;
  }
  for (int k = 1; k < length; ++k) {
    const unsigned char next = byte(i + static_cast<std::size_t>(k));
    if ((next & 0xC0) != 0x80) {
      ++i;
      return -1;
    }
    cp = (cp << 6) | (next & 0x3F);
  }
  i += static_cast<std::size_t>(length);
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  return cp;
}

// Shown as a character reference: allowed in XML, but invisible or
// misleading when the record is read as text.
bool Referenced(long cp) {
  return cp == 0x09 || cp == 0x0A || cp == 0x0D || (cp >= 0x7F && cp <= 0x9F) || cp == 0xAD || cp == 0x061C ||
         (cp >= 0x200B && cp <= 0x200F) || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2060 && cp <= 0x2069) ||
         cp == 0xFEFF;
}

void Attribute(std::string& out, const char* name, std::string_view value) {
  out += ' ';
  out += name;
  out += "=\"";
  out += XmlText(value);
  out += '"';
}

void CodeElement(std::string& out, const char* element, const Code& code) {
  out += '<';
  out += element;
  Attribute(out, "csd-code", code.code);
  Attribute(out, "codeSystemName", code.system);
  Attribute(out, "originalText", code.meaning);
  out += "/>";
}

void TextElement(std::string& out, const char* element, std::string_view text) {
  out += '<';
  out += element;
  out += '>';
  out += XmlText(text);
  out += "</";
  out += element;
  out += '>';
}

}  // namespace

std::string XmlText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const std::size_t start = i;
    const long cp = NextCodePoint(utf8, i);
    if (cp == '&') out += "&amp;";
    else if (cp == '<') out += "&lt;";
    else if (cp == '>') out += "&gt;";
    else if (cp == '"') out += "&quot;";
    else if (cp == '\'') out += "&apos;";
    else if (cp < 0 || (cp < 0x20 && !Referenced(cp)) || cp == 0xFFFE || cp == 0xFFFF) out += "\xEF\xBF\xBD";
    else if (Referenced(cp)) {
      char ref[16];
      std::snprintf(ref, sizeof ref, "&#x%lX;", cp);
      out += ref;
    } else {
      out.append(utf8.substr(start, i - start));
    }
  }
  return out;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const std::uint32_t n = (static_cast<unsigned char>(bytes[i]) << 16) |
                            (static_cast<unsigned char>(bytes[i + 1]) << 8) | static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += kAlphabet[n & 63];
  }
  if (i < bytes.size()) {
    std::uint32_t n = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string XsDateTime(std::chrono::system_clock::time_point time) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  const std::tm utc = platform::UtcTime(seconds);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms % 1000));
  return text;
}

std::string ToXml(const Message& m) {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><AuditMessage><EventIdentification";
  Attribute(out, "EventActionCode", std::string(1, m.action));
  Attribute(out, "EventDateTime", XsDateTime(m.time));
  Attribute(out, "EventOutcomeIndicator", std::to_string(static_cast<int>(m.outcome)));
  out += '>';
  CodeElement(out, "EventID", m.event);
  for (const Code& type : m.types) CodeElement(out, "EventTypeCode", type);
  if (!m.outcomeDescription.empty()) TextElement(out, "EventOutcomeDescription", m.outcomeDescription);
  out += "</EventIdentification>";

  for (const Participant& p : m.participants) {
    out += "<ActiveParticipant";
    Attribute(out, "UserID", p.userId);
    if (!p.alternativeUserId.empty()) Attribute(out, "AlternativeUserID", p.alternativeUserId);
    if (!p.userName.empty()) Attribute(out, "UserName", p.userName);
    Attribute(out, "UserIsRequestor", p.requestor ? "true" : "false");
    if (!p.accessPoint.empty() && p.accessPointType != 0) {
      Attribute(out, "NetworkAccessPointID", p.accessPoint);
      Attribute(out, "NetworkAccessPointTypeCode", std::to_string(p.accessPointType));
    }
    if (p.roles.empty()) {
      out += "/>";
      continue;
    }
    out += '>';
    for (const Code& role : p.roles) CodeElement(out, "RoleIDCode", role);
    out += "</ActiveParticipant>";
  }

  out += "<AuditSourceIdentification";
  Attribute(out, "AuditSourceID", m.sourceId);
  // 1: an end-user interface (RFC 3881 5.4, PS3.15 A.5.1).
  out += "><AuditSourceTypeCode csd-code=\"1\" codeSystemName=\"DCM\" originalText=\"End-user display device, "
         "diagnostic display\"/></AuditSourceIdentification>";

  for (const ParticipantObject& o : m.objects) {
    out += "<ParticipantObjectIdentification";
    Attribute(out, "ParticipantObjectID", o.id);
    Attribute(out, "ParticipantObjectTypeCode", std::to_string(o.typeCode));
    Attribute(out, "ParticipantObjectTypeCodeRole", std::to_string(o.role));
    out += '>';
    CodeElement(out, "ParticipantObjectIDTypeCode", o.idType);
    if (!o.name.empty()) TextElement(out, "ParticipantObjectName", o.name);
    else if (!o.query.empty()) TextElement(out, "ParticipantObjectQuery", Base64(o.query));
    for (const Detail& d : o.details) {
      out += "<ParticipantObjectDetail";
      Attribute(out, "type", d.type);
      Attribute(out, "value", Base64(d.value));
      out += "/>";
    }
    if (!o.description.empty()) TextElement(out, "ParticipantObjectDescription", o.description);
    if (!o.studies.empty()) {
      out += "<ParticipantObjectContainsStudy>";
      for (const std::string& uid : o.studies) {
        out += "<StudyIDs";
        Attribute(out, "UID", uid);
        out += "/>";
      }
      out += "</ParticipantObjectContainsStudy>";
    }
    out += "</ParticipantObjectIdentification>";
  }
  out += "</AuditMessage>";
  return out;
}

}  // namespace morvanta::audit
