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
  Cancelled = 1012,            // the user ended the operation: not a failure, not logged
  MoveFailed = 1013,           // C-MOVE response with a failure status
  EchoFailed = 1014,           // C-ECHO response with a status other than success
  TlsSetupFailed = 1015,       // this station's TLS files: CA list, certificate, key or TLS module unusable
  TlsCertificateRejected = 1016,  // the archive's certificate did not pass verification
  TlsHandshakeFailed = 1017,   // TLS could not be agreed: client certificate, plain/TLS port mix-up
  AuditFailed = 1018,          // [Audit]: a value that cannot be used, a repository that takes no messages
  OutOfMemory = 7,             // memory ran out while building or receiving data sets
  Unexpected = 1099,           // a failure from outside this table (it never should happen)
};

// An error as the program logs and shows it: "number - description". Every
// operation reports its failures as one of these; a cancel is not one.
struct Failure {
  std::int32_t number = 0;
  std::string description;
  bool operator==(const Failure&) const = default;
};

// The one mapping from exceptions to the table; call inside a catch block.
// The binding's Error keeps its number, memory running out is 7, anything
// else 1099 with what it says.
Failure CurrentFailure();

// True for the binding's Cancelled: the user ended the operation. No
// operation reports it as a failure or logs it.
bool IsCancel(const Failure& failure);

// The counts of a C-MOVE's sub-operations (PS3.7 9.3.4.2: (0000,1020) to
// (0000,1023)). `remaining` is -1 where the response did not carry it.
struct MoveCounts {
  int remaining = -1;
  int completed = 0;
  int failed = 0;
  int warning = 0;
  std::uint16_t status = 0;  // of the response the counts came with
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
// A forwarding request (C-STORE) the archive refused. 0xA7xx is no
// temporary shortage as a rule: archives use it for a request they will not
// take at all (a required attribute they miss, say) as well as for a full
// disk, so the text does not promise that sending again helps.
std::string StoreRefusedText(const Peer& peer, std::uint16_t status);

// Where a remedy is known a text reads "what happened (detail): remedy."
std::string CancelledText(const std::string& operation);
// A C-MOVE that ended in a failure status, its counts as far as they came.
std::string MoveFailureText(const Peer& peer, const std::string& destination, std::uint16_t status,
                            const MoveCounts& counts);
// A C-MOVE that ended, some of its images not taken by the destination
// (0xB000, or a success that still counts failures): for the completion
// message; the move itself is no error.
std::string SubOperationsFailedText(const Peer& peer, const std::string& destination,
                                    const MoveCounts& counts);
// "Connection to ARCHIVE at 10.0.0.5:104 works (12 ms)."; with `overTls`,
// "... works over TLS (12 ms).", and with the identity its certificate was
// checked for, "... works over TLS, certificate checked for archive.example
// (12 ms).".
std::string EchoWorksText(const Peer& peer, long long milliseconds, bool overTls = false,
                          const std::string& identity = {});

// TLS. `key` is the Settings.ini key the file came from ("CACertificates",
// "Certificate", "PrivateKey", "CRL"); `reason` why it could not be used.
std::string TlsFileText(const std::string& key, const std::string& file, const std::string& reason);
std::string TlsKeyMismatchText(const std::string& certificate, const std::string& privateKey);
// This station's private key file may be read by other users (`mode`, the
// file's permission bits): refused, as a key others could copy.
std::string TlsKeyExposedText(const std::string& privateKey, unsigned mode);
// Only one of Certificate and PrivateKey is set.
std::string TlsHalfIdentityText(const std::string& missingKey);
// TLS is on and the program's TLS module at `path` cannot be loaded;
// `reason` is the loader's.
std::string TlsModuleText(const std::string& path, const std::string& reason);
// Why the archive's certificate failed, in words: "has expired", "is not
// yet valid", "is not signed by a certificate authority in FILE", ...
std::string TlsCertificateText(const Peer& peer, const std::string& why, const std::string& remedy);
// The archive wants a certificate from this station: none is configured
// (`configured` false), or it refused the one that is.
std::string TlsClientCertificateText(const Peer& peer, bool configured);
// TLS spoken to a port that does not (`tlsOn`), or plain DICOM to a port
// that only speaks TLS.
std::string TlsPortMismatchText(const Peer& peer, bool tlsOn);
// The archive and this station have no TLS version or cipher in common;
// `reason` is OpenSSL's.
std::string TlsNegotiationText(const Peer& peer, const std::string& reason);
// Any other failure of the TLS handshake, with OpenSSL's reason.
std::string TlsHandshakeText(const Peer& peer, const std::string& reason);

}  // namespace morvanta::dicom
