#include "dicom/errors.h"

#include <cctype>
#include <cstdio>
#include <exception>
#include <new>

#include "dicom/dicom.h"

namespace morvanta::dicom {

Failure CurrentFailure() {
  try {
    throw;
  } catch (const Error& e) {
    return {e.number(), e.description()};
  } catch (const std::bad_alloc&) {
    return {static_cast<std::int32_t>(ErrorCode::OutOfMemory), "Out of memory"};
  } catch (const std::exception& e) {
    return {static_cast<std::int32_t>(ErrorCode::Unexpected), e.what()};
  } catch (...) {
    return {static_cast<std::int32_t>(ErrorCode::Unexpected), "Unknown error"};
  }
}

bool IsCancel(const Failure& failure) {
  return failure.number == static_cast<std::int32_t>(ErrorCode::Cancelled);
}

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
  return "Could not connect to " + Describe(peer) + (detail.empty() ? "" : " (" + detail + ")") +
         ": check that the archive is running and the port is right.";
}

std::string UnknownHostText(const Peer& peer) {
  return "Unknown host \"" + peer.host + "\" for " + (peer.aet.empty() ? "the archive" : peer.aet) +
         " (port " + std::to_string(peer.port) + "): check Remote IP.";
}

std::string RejectedText(const Peer& peer, int result, int source, int reason) {
  const std::string why = RejectReason(result, source, reason);
  // The two rejections a site can mend by its settings (PS3.8 9.3.4).
  if (source == 1 && reason == 7)
    return "Association rejected by " + Describe(peer) + " (" + why + "): check Remote AET.";
  if (source == 1 && reason == 3)
    return "Association rejected by " + Describe(peer) + " (" + why +
           "): add this station's AE title to the archive.";
  return "Association rejected by " + Describe(peer) + ": " + why;
}

std::string TimeoutText(const Peer& peer, int seconds) {
  return "No answer from " + Describe(peer) + " within " + std::to_string(seconds) +
         " s: the archive or network is slow or down; [Query] Timeout sets the wait.";
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

std::string StoreRefusedText(const Peer& peer, std::uint16_t status) {
  if ((status & 0xFF00) == 0xA700)
    return Describe(peer) + " refused to store the forwarding request (C-STORE status " + HexStatus(status) +
           "): the archive may lack room, or may not accept this request; its log tells why.";
  return FailureStatusText("C-STORE", peer, status);
}

std::string CancelledText(const std::string& operation) {
  std::string text = operation + " was cancelled.";
  if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  return text;
}

namespace {
std::string CountsText(const MoveCounts& counts) {
  return std::to_string(counts.completed) + " sent, " + std::to_string(counts.failed) + " failed";
}
}  // namespace

std::string MoveFailureText(const Peer& peer, const std::string& destination, std::uint16_t status,
                            const MoveCounts& counts) {
  const std::string hex = HexStatus(status);
  // PS3.4 C.4.2.1.4.1, the C-MOVE statuses a site meets.
  switch (status) {
    case 0xA801:
      return "The archive does not know the destination " + destination + " (" + hex +
             "): add it to the archive's list of nodes.";
    case 0xA701:
      return Describe(peer) + " is out of resources and could not count the images to move (" + hex +
             "): try again later.";
    case 0xA702:
      return Describe(peer) + " is out of resources and could not send the images to " + destination + " (" +
             hex + ", " + CountsText(counts) + "): check that " + destination +
             " is running and accepts images from the archive, then try again.";
    case 0x0122:
      return Describe(peer) + " does not support moving studies (" + hex +
             "): use [Forward] Method REDIRECT.";
    case 0x0124:
      return Describe(peer) + " does not allow this station to move studies (" + hex +
             "): ask the archive's administrator to allow it.";
    case 0xA900:
      return Describe(peer) + " did not understand the move request (" + hex +
             ", data set does not match SOP class).";
    default:
      break;
  }
  if ((status & 0xF000) == 0xC000)
    return Describe(peer) + " could not process the move to " + destination + " (" + hex +
           "): the archive's log tells why.";
  return FailureStatusText("C-MOVE", peer, status);
}

std::string SubOperationsFailedText(const Peer& peer, const std::string& destination,
                                    const MoveCounts& counts) {
  const int total = counts.completed + counts.failed + counts.warning;
  return destination + " did not take " + std::to_string(counts.failed) + " of " + std::to_string(total) +
         " images from " + Describe(peer) + " (" + HexStatus(counts.status) + "): check that " + destination +
         " is running and accepts images from the archive.";
}

std::string EchoWorksText(const Peer& peer, long long milliseconds, bool overTls, const std::string& identity) {
  const std::string how = !overTls           ? ""
                          : identity.empty() ? "over TLS "
                                             : "over TLS, certificate checked for " + identity + " ";
  return "Connection to " + Describe(peer) + " works " + how + "(" + std::to_string(milliseconds) + " ms).";
}

namespace {
const char* const kCheckTlsPort = "check [TLS] Enabled and the port";
}  // namespace

std::string TlsFileText(const std::string& key, const std::string& file, const std::string& reason) {
  const std::string what = key == "CACertificates" ? "The CA certificates file"
                           : key == "Certificate"  ? "This station's certificate file"
                           : key == "CRL"          ? "The certificate revocation list file"
                                                   : "This station's private key file";
  return what + " \"" + file + "\" cannot be used (" + reason + "): check [TLS] " + key + ".";
}

std::string TlsKeyMismatchText(const std::string& certificate, const std::string& privateKey) {
  return "This station's certificate \"" + certificate + "\" and private key \"" + privateKey +
         "\" do not belong together: check [TLS] Certificate and PrivateKey.";
}

std::string TlsKeyExposedText(const std::string& privateKey, unsigned mode) {
  char octal[8];
  std::snprintf(octal, sizeof octal, "%04o", mode & 07777u);
  return "This station's private key file \"" + privateKey + "\" may be read by other users (mode " + octal +
         "), so it is not used: chmod o-rwx \"" + privateKey + "\", leaving it to its owner and the station's group.";
}

std::string TlsHalfIdentityText(const std::string& missingKey) {
  const std::string other = missingKey == "PrivateKey" ? "Certificate" : "PrivateKey";
  return "[TLS] " + other + " is set but [TLS] " + missingKey + " is not: set both, or neither.";
}

std::string TlsModuleText(const std::string& path, const std::string& reason) {
  return "TLS is on, but the program's TLS module \"" + path + "\" cannot be loaded (" + reason +
         "): reinstall the program, or turn [TLS] Enabled off.";
}

std::string TlsCertificateText(const Peer& peer, const std::string& why, const std::string& remedy) {
  return "The TLS certificate of " + Describe(peer) + " " + why + ": " + remedy + ".";
}

std::string TlsClientCertificateText(const Peer& peer, bool configured) {
  if (!configured)
    return Describe(peer) + " requires a TLS certificate from this station and none is configured: set [TLS] "
           "Certificate and PrivateKey.";
  return Describe(peer) + " did not accept this station's TLS certificate: have the archive trust the "
         "certificate authority that signed [TLS] Certificate.";
}

std::string TlsPortMismatchText(const Peer& peer, bool tlsOn) {
  if (tlsOn)
    return Describe(peer) + " did not answer in TLS; the port may take plain DICOM only: " + kCheckTlsPort + ".";
  return Describe(peer) + " closed the connection at once; the port may take TLS only: " + kCheckTlsPort + ".";
}

std::string TlsNegotiationText(const Peer& peer, const std::string& reason) {
  return Describe(peer) + " and this station have no TLS version or cipher in common (" + reason +
         "): this station speaks TLS 1.2 and 1.3 with the ciphers of BCP 195 only; have the archive offer them.";
}

std::string TlsHandshakeText(const Peer& peer, const std::string& reason) {
  return "TLS could not be agreed with " + Describe(peer) + " (" + reason + "): " + kCheckTlsPort +
         ", and see the archive's log.";
}

}  // namespace morvanta::dicom
