#pragma once
// The one table of error numbers the DICOM binding reports. The numbers are
// stable: sites search their error logs for them, and README.md lists them.
// Every text names what failed in words a technologist understands, the peer
// as "AE at host:port", and a DICOM status in hex.

#include <cstdint>
#include <string>

namespace morvanta::dicom {

enum class ErrorCode : std::int32_t {
  ConnectFailed = 1001,        // TCP connection refused or unreachable
  UnknownHost = 1002,          // the host name does not resolve
  AssociationRejected = 1003,  // A-ASSOCIATE-RJ, with its reason
  Timeout = 1004,              // no answer within the time-out
  PeerAborted = 1005,          // A-ABORT, or the connection closed mid-operation
  FindFailed = 1006,           // C-FIND response with a failure status
  StoreFailed = 1007,          // C-STORE response with a failure status
  NoPresentationContext = 1008,  // the archive accepted none of our SOP classes
  NetworkError = 1009,         // any other transport or protocol failure
  InvalidArgument = 1010,      // bad port, AE title, tag or value; store without Open
  EncodingFailed = 1011,       // a data set that could not be built or decoded
};

struct Peer {
  std::string aet;
  std::string host;
  std::int32_t port = 0;
};

// "host:port"
std::string Address(const Peer& peer);
// "AE at host:port"
std::string Describe(const Peer& peer);

// The meaning of a DIMSE status in words (PS3.4 annexes B and C, PS3.7 C).
std::string StatusMeaning(std::uint16_t status);
// "0xA700"
std::string HexStatus(std::uint16_t status);
// True for the failure ranges: neither success (0000), pending (FF00/FF01),
// cancel (FE00) nor a warning (0001, Bxxx) (PS3.7 C).
bool IsFailureStatus(std::uint16_t status);

// The reason of an A-ASSOCIATE-RJ in words (PS3.8 9.3.4, table 9-21).
// result: 1 permanent, 2 transient; source: 1 service user, 2 ACSE provider,
// 3 presentation provider.
std::string RejectReason(int result, int source, int reason);

// Texts of the table; the binding and the tests share them.
std::string ConnectFailedText(const Peer& peer, const std::string& detail);
std::string UnknownHostText(const Peer& peer);
std::string RejectedText(const Peer& peer, int result, int source, int reason);
std::string TimeoutText(const Peer& peer, int seconds);
std::string AbortedText(const Peer& peer, const std::string& during);
std::string FailureStatusText(const std::string& operation, const Peer& peer,
                              std::uint16_t status);
std::string NoPresentationContextText(const Peer& peer, const std::string& what);

}  // namespace morvanta::dicom
