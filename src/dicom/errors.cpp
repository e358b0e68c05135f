#include "dicom/errors.h"

#include <cstdio>

namespace morvanta::dicom {

std::string Address(const Peer& peer) {
  return peer.host + ":" + std::to_string(peer.port);
}

std::string Describe(const Peer& peer) {
  return (peer.aet.empty() ? std::string("the archive") : peer.aet) + " at " +
         Address(peer);
}

std::string HexStatus(std::uint16_t status) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(status));
  return text;
}

bool IsFailureStatus(std::uint16_t status) {
  if (status == 0x0000 || status == 0xFF00 || status == 0xFF01 ||
      status == 0xFE00 || status == 0x0001 || status == 0x0107 ||
      status == 0x0116)
    return false;
  return (status & 0xF000) != 0xB000;
}

std::string StatusMeaning(std::uint16_t status) {
  switch (status) {
    case 0x0000: return "success";
    case 0xFF00:
    case 0xFF01: return "pending";
    case 0xFE00: return "cancelled";
    case 0x0001:
    case 0x0107:
    case 0x0116:
    case 0xB000:
    case 0xB006:
    case 0xB007: return "warning";
    case 0x0110: return "processing failure";
    case 0x0111: return "duplicate SOP instance";
    case 0x0117: return "invalid object instance";
    case 0x0118: return "no such SOP class";
    case 0x0122: return "SOP class not supported";
    case 0x0124: return "not authorised";
    case 0x0210: return "duplicate invocation";
    case 0x0211: return "unrecognised operation";
    case 0x0212: return "mistyped argument";
    case 0x0213: return "resource limitation";
    default: break;
  }
  switch (status & 0xFF00) {
    case 0xA700: return "out of resources";
    case 0xA900: return "data set does not match SOP class";
    default: break;
  }
  if ((status & 0xF000) == 0xC000) return "unable to process";
  if ((status & 0xF000) == 0xB000) return "warning";
  return "failure";
}

std::string RejectReason(int result, int source, int reason) {
  std::string text;
  if (source == 1) {
    switch (reason) {
      case 2: text = "application context not supported"; break;
      case 3: text = "calling AE title not recognised"; break;
      case 7: text = "called AE title not recognised"; break;
      default: text = "no reason given"; break;
    }
  } else if (source == 2) {
    text = reason == 2 ? "protocol version not supported" : "no reason given by the ACSE provider";
  } else if (source == 3) {
    text = reason == 1 ? "temporary congestion" : reason == 2 ? "local limit exceeded"
                                                             : "no reason given by the presentation provider";
  } else {
    text = "no reason given";
  }
  if (result == 2) text += " (transient: try again later)";
  return text;
}

std::string ConnectFailedText(const Peer& peer, const std::string& detail) {
  std::string text = "Could not connect to " + Describe(peer);
  if (!detail.empty()) text += ": " + detail;
  return text;
}

std::string UnknownHostText(const Peer& peer) {
  return "Unknown host \"" + peer.host + "\" for " + (peer.aet.empty() ? "the archive" : peer.aet) +
         " (port " + std::to_string(peer.port) + ")";
}

std::string RejectedText(const Peer& peer, int result, int source, int reason) {
  return "Association rejected by " + Describe(peer) + ": " + RejectReason(result, source, reason);
}

std::string TimeoutText(const Peer& peer, int seconds) {
  return "No answer from " + Describe(peer) + " within " + std::to_string(seconds) + " s";
}

std::string AbortedText(const Peer& peer, const std::string& during) {
  return "Connection aborted by " + Describe(peer) + (during.empty() ? "" : " during " + during);
}

std::string FailureStatusText(const std::string& operation, const Peer& peer,
                              std::uint16_t status) {
  return operation + " refused by " + Describe(peer) + ": status " + HexStatus(status) + " (" +
         StatusMeaning(status) + ")";
}

std::string NoPresentationContextText(const Peer& peer, const std::string& what) {
  return Describe(peer) + " accepted the association but does not support " + what;
}

}  // namespace morvanta::dicom
