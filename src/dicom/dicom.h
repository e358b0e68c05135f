#pragma once
// Morvanta's DICOM toolkit binding. The rest of the program sees only these
// objects and the standard library; DCMTK stays behind them in src/dicom/.
//
// Data sets are plain values: attributes are kept in the order they were
// added, texts are UTF-8. Every failure of the network objects is thrown as
// dicom::Error with a stable number (see errors.h) and a description that
// names the operation, the peer (AE title at host:port) and, for a DICOM
// status, its value in hex.

#include <atomic>
#include <chrono>
#include <compare>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "dicom/archive.h"
#include "dicom/errors.h"
#include "dicom/timeout.h"
#include "dicom/tls.h"

namespace morvanta::dicom {

class Error : public std::runtime_error {
 public:
  Error(std::int32_t number, std::string description);
  std::int32_t number() const noexcept { return number_; }
  const std::string& description() const noexcept { return description_; }

 private:
  std::int32_t number_;
  std::string description_;
};

struct Tag {
  std::uint16_t group = 0;
  std::uint16_t element = 0;
  auto operator<=>(const Tag&) const = default;
};

class Attribute {
 public:
  Attribute() = default;  // a null attribute: absent, no value
  Attribute(Tag tag, std::string value, bool isNull = false)
      : tag_(tag), value_(std::move(value)), null_(isNull) {}
  Tag tag() const { return tag_; }
  // The value as text ("" for a null attribute). Multiple values are joined
  // by "\" as DICOM writes them.
  const std::string& Value() const { return value_; }
  // True when the data set has no such attribute, or has it without a value.
  bool IsNull() const { return null_; }

 private:
  Tag tag_;
  std::string value_;
  bool null_ = true;
};

class AttributeList {
 public:
  // Appends the attribute; the identifier is sent in the order of the Adds.
  // Adding a tag that is already present appends a second entry; the binding
  // sends the last one (a data set holds each tag once).
  void Add(std::uint16_t group, std::uint16_t element, std::string value);
  // Replaces the value of the first entry with that tag, or appends one.
  void Set(std::uint16_t group, std::uint16_t element, std::string value,
           bool isNull = false);
  // The first entry with that tag; a null Attribute (tag (0000,0000)) when
  // there is none. The reference lives as long as the list is not changed.
  const Attribute& Item(std::uint16_t group, std::uint16_t element) const;
  bool Contains(std::uint16_t group, std::uint16_t element) const;
  const std::vector<Attribute>& items() const { return items_; }

 private:
  std::vector<Attribute> items_;
};

class DataSet {
 public:
  AttributeList& Attributes() { return attributes_; }
  const AttributeList& Attributes() const { return attributes_; }

  // (0010,0010), (0010,0020), (0010,0030): set on an identifier, read on
  // results. The getters return the stored text ("" when absent), valid as
  // long as the data set is not changed.
  const std::string& PatientName() const;
  void SetPatientName(std::string value);
  const std::string& PatientID() const;
  void SetPatientID(std::string value);
  const std::string& BirthDate() const;
  void SetBirthDate(std::string value);
  // Read on results: (0020,000D), (0010,0040), (0008,1030), (0008,0050).
  const std::string& StudyUID() const;
  const std::string& PatientSex() const;
  const std::string& StudyDescription() const;
  const std::string& AccessionNumber() const;

 private:
  AttributeList attributes_;
};

class DataSetList {
 public:
  DataSetList() = default;
  explicit DataSetList(std::vector<DataSet> items, bool truncated = false)
      : items_(std::move(items)), truncated_(truncated) {}
  std::size_t Count() const { return items_.size(); }
  std::vector<DataSet>::const_iterator begin() const { return items_.begin(); }
  std::vector<DataSet>::const_iterator end() const { return items_.end(); }
  const DataSet& operator[](std::size_t i) const { return items_[i]; }
  // Ends the program's use of the list and frees its data sets.
  void Release() { std::vector<DataSet>().swap(items_); }
  // True when the search stopped at its result limit while the archive still
  // had matches to send (it answered the C-CANCEL with 0xFE00, or had to be
  // aborted): the list holds exactly the limit, and there are more.
  bool Truncated() const { return truncated_; }
  // Set when the archive ended the search by itself (0xFE00 with no C-CANCEL
  // from us): the list holds what came, there may be more, and the failure
  // says so in the table's words.
  const std::optional<Failure>& EndedEarly() const { return endedEarly_; }
  void SetEndedEarly(Failure failure) { endedEarly_ = std::move(failure); }

 private:
  std::vector<DataSet> items_;
  bool truncated_ = false;
  std::optional<Failure> endedEarly_;
};

// Where the time of one Find went, for the benchmarks' breakdown.
struct FindPhases {
  std::chrono::nanoseconds associate{};  // connect and association negotiation
  std::chrono::nanoseconds responses{};  // request out, responses waited for and parsed
  std::chrono::nanoseconds decode{};     // response data sets to DataSets (character sets)
  std::chrono::nanoseconds release{};    // the association's release
};

// One C-FIND at a time against one archive, Study Root, over its own
// association per Find. The client keeps one ArchiveAddress: SetParameters
// sets all of it, the setters below one field each.
class QueryClient {
 public:
  QueryClient();
  ~QueryClient();
  QueryClient(const QueryClient&) = delete;
  QueryClient& operator=(const QueryClient&) = delete;

  // Address, AE titles, time-out and TLS at once.
  void SetParameters(const ArchiveAddress& archive);
  const ArchiveAddress& Parameters() const;
  void SetPort(std::int32_t port);
  void SetHost(std::string host);
  void SetCalledAET(std::string aet);
  void SetCallingAET(std::string aet);
  void SetQueryRoot(std::string level);  // "STUDY"
  // Connecting, negotiating and waiting for each response: at most this long.
  void SetTimeout(int seconds);

  // The data set that receives the query keys.
  DataSet& Identifier();

  // Keys every Find asks the archive to return: sent empty where the
  // identifier holds no value of its own (PS3.4 C.2.2.1.2). None by default.
  void SetReturnKeys(std::vector<Tag> keys);

  // Runs one C-FIND with the identifier (plus the return keys, as empty keys
  // where the identifier has none) and collects every
  // pending response. Throws Error; a cancel throws Error number 1012
  // (ErrorCode::Cancelled), which is no failure and is not to be logged.
  // What breaks the protocol is the archive's error 1009: a response to
  // another message ID, a PDU the toolkit refuses, a match whose sequences
  // nest deeper than 128 levels (never parsed). Once the answer is complete
  // the release is given a second, then the association is aborted.
  DataSetList Find(const DataSet& identifier);
  // The phases of the last Find that returned results.
  const FindPhases& LastPhases() const;

  // Stops receiving at the limit-th result: C-CANCEL (PS3.7 9.3.2.3), then
  // an abort if the archive goes on for more than a second. The list then
  // holds `limit` results and says Truncated(). 0 (the default): no limit.
  void SetResultLimit(std::size_t limit);
  // A flag another thread sets to end a running Find; read, never written;
  // must outlive the client. Checked every 50 ms while waiting, so a Find
  // ends within about a second and a half of the flag being set, whatever
  // the archive does: C-CANCEL, and an abort when the archive does not
  // answer it within a second (however fast it goes on sending); while the
  // association is being negotiated, the connection is shut; while the TCP
  // connection is being made, it is given up within a second.
  void SetCancelFlag(const std::atomic<bool>* flag);
  // The same from any thread without a flag of one's own: ends the running
  // Find, and every later one of this client, as cancelled.
  void Cancel();
  // TLS for every Find when tls.enabled (see tls.h).
  void SetTls(const TlsSettings& tls);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Computed Radiography Image Storage (PS3.4 B.5): the one class StoreClient
// negotiates, and the class the archive accepts forwarding requests under.
inline constexpr const char* kComputedRadiographyStorage = "1.2.840.10008.5.1.4.1.1.1";

// One storage association to the archive; forwarding requests go over it.
class StoreClient {
 public:
  StoreClient();
  // Aborts the association when Close was not called.
  ~StoreClient();
  StoreClient(const StoreClient&) = delete;
  StoreClient& operator=(const StoreClient&) = delete;

  void SetTimeout(int seconds);
  // As for QueryClient, a flag another thread sets, or Cancel(). A Store
  // under way is given a second to be answered, then the connection is shut
  // and Store throws Error 1012; so is a Close, an Open at once. A request
  // the archive did not answer may still have been stored.
  void SetCancelFlag(const std::atomic<bool>* flag);
  void Cancel();
  // TLS for the association when tls.enabled; set before Open.
  void SetTls(const TlsSettings& tls);
  // Negotiates Computed Radiography Image Storage (Explicit and Implicit VR
  // Little Endian) with the archive: address, AE titles, time-out and TLS
  // all from `archive`. Throws Error.
  void Open(const ArchiveAddress& archive);
  // The same with the time-out and TLS set before.
  void Open(const std::string& host, std::int32_t port,
            const std::string& callingAET, const std::string& calledAET);
  // One C-STORE; (0008,0016) and (0008,0018) of the sent data set are set to
  // the given UIDs. `option` is accepted for compatibility and has no effect.
  // A failure status from the archive throws Error; warnings do not.
  void Store(const DataSet& dataSet, std::int16_t option,
             const std::string& sopInstanceUID,
             const std::string& sopClassUID);
  // Releases the association.
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Study Root C-MOVE at STUDY level (PS3.4 C.4.2) over one association; the
// archive sends the study's instances to the destination AE title, which it
// must know in its own list of nodes.
class MoveClient {
 public:
  MoveClient();
  // Aborts the association when Close was not called.
  ~MoveClient();
  MoveClient(const MoveClient&) = delete;
  MoveClient& operator=(const MoveClient&) = delete;

  // Waiting for the association and for each response: at most this long.
  // Between pending responses the archive is sending images; each response
  // restarts the wait.
  void SetTimeout(int seconds);
  // As for QueryClient: a running Move sends C-CANCEL and throws Error 1012.
  void SetCancelFlag(const std::atomic<bool>* flag);
  void Cancel();
  // TLS for the association when tls.enabled; set before Open.
  void SetTls(const TlsSettings& tls);

  // Negotiates Study Root Query/Retrieve - MOVE with the archive: address,
  // AE titles, time-out and TLS all from `archive`. Throws Error.
  void Open(const ArchiveAddress& archive);
  // The same with the time-out and TLS set before.
  void Open(const std::string& host, std::int32_t port, const std::string& callingAET,
            const std::string& calledAET);
  // Moves one study to destinationAET. `progress` gets the counts of every
  // pending response. Returns the final counts: status 0x0000, or 0xB000
  // (a warning: some images were not taken; counts.failed says how many).
  // A failure status throws Error 1013 (ErrorCode::MoveFailed) with a text
  // naming cause and remedy (MoveFailureText).
  MoveCounts Move(const std::string& studyUid, const std::string& destinationAET,
                  const std::function<void(const MoveCounts&)>& progress = {});
  // Releases the association.
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// One C-ECHO (PS3.7 9.1.5) over an association of its own: the time from
// connecting to the echo's answer. Throws Error with the numbers of the
// table: 1001 refused, 1002 unknown host, 1003 rejected (called or calling
// AE title not recognised), 1004 no answer within the archive's time-out.
// Setting `cancel` (from another thread) ends it at once with Error 1012.
// Over TLS when archive.tls.enabled, with 1015 to 1017 for what TLS refused.
std::chrono::milliseconds Echo(const ArchiveAddress& archive, const std::atomic<bool>* cancel = nullptr);

// The data set as QueryClient sends it (its character set chosen the same
// way), encoded in Explicit VR Little Endian (1.2.840.10008.1.2.1) without a
// preamble or meta header: what an audit message records of a query.
std::string EncodeDataSet(const DataSet& dataSet);
inline constexpr const char* kExplicitVRLittleEndian = "1.2.840.10008.1.2.1";

class UidGenerator {
 public:
  // "2.25." and a random 128-bit UUID in decimal (PS3.5 B.2): unique across
  // stations without a registered root.
  std::string NewUID();
};

}  // namespace morvanta::dicom
