#pragma once
// The archive's studies and the C-FIND matching rules it applies to them
// (PS3.4 C.2.2.2). Values are kept in UTF-8; the wire character set is the
// server's concern.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

namespace morvanta::archive {

// (group << 16) | element
using TagKey = std::uint32_t;
constexpr TagKey Key(std::uint16_t group, std::uint16_t element) {
  return (static_cast<TagKey>(group) << 16) | element;
}

inline constexpr TagKey kSpecificCharacterSet = Key(0x0008, 0x0005);
inline constexpr TagKey kStudyDate = Key(0x0008, 0x0020);
inline constexpr TagKey kStudyTime = Key(0x0008, 0x0030);
inline constexpr TagKey kAccessionNumber = Key(0x0008, 0x0050);
inline constexpr TagKey kQueryRetrieveLevel = Key(0x0008, 0x0052);
inline constexpr TagKey kModality = Key(0x0008, 0x0060);
inline constexpr TagKey kModalitiesInStudy = Key(0x0008, 0x0061);
inline constexpr TagKey kReferringPhysician = Key(0x0008, 0x0090);
inline constexpr TagKey kStudyDescription = Key(0x0008, 0x1030);
inline constexpr TagKey kPatientName = Key(0x0010, 0x0010);
inline constexpr TagKey kPatientID = Key(0x0010, 0x0020);
inline constexpr TagKey kBirthDate = Key(0x0010, 0x0030);
inline constexpr TagKey kPatientSex = Key(0x0010, 0x0040);
inline constexpr TagKey kBodyPart = Key(0x0018, 0x0015);
inline constexpr TagKey kStudyUID = Key(0x0020, 0x000D);
inline constexpr TagKey kStudyID = Key(0x0020, 0x0010);
inline constexpr TagKey kSeriesCount = Key(0x0020, 0x1206);
inline constexpr TagKey kInstanceCount = Key(0x0020, 0x1208);

struct Series {
  std::string uid;
  std::string modality;
  std::string bodyPart;
  int instances = 1;
};

struct Study {
  std::map<TagKey, std::string> values;  // patient and study level attributes
  std::vector<Series> series;

  // The study's value for a key, derived keys (Modalities in Study, counts,
  // Modality and Body Part from the series) included; nullopt when unknown.
  std::optional<std::string> Value(TagKey key) const;
  std::vector<std::string> Modalities() const;
};

// One key of a C-FIND identifier: its tag, value (UTF-8) and VR.
struct QueryKey {
  TagKey tag = 0;
  std::string value;
  std::string vr;  // "PN", "DA", "TM", "UI", "CS", ...
};

// PS3.4 C.2.2.2: an empty value matches everything; otherwise single value,
// wildcard (* ?), range (DA, TM), list of UIDs. Person names compare without
// regard to case (C.2.2.2.1 leaves this to the archive).
bool Matches(const Study& study, const std::vector<QueryKey>& keys);
bool WildcardMatch(std::u32string_view pattern, std::u32string_view text, bool ignoreCase);
bool RangeMatch(const std::string& pattern, const std::string& value);

// Study `index` of the demo set: deterministic for a given today
// ("YYYYMMDD"); study dates fall on today and the weeks before it.
Study MakeDemoStudy(int index, const std::string& today);
// "YYYYMMDD" minus `days`.
std::string ShiftDate(const std::string& yyyymmdd, int days);

// One image a C-MOVE sends of a study: made up from the series it belongs to
// (the archive keeps study and series attributes, not the images received).
struct Instance {
  std::size_t series = 0;  // index into Study::series
  int number = 1;          // Instance Number, from 1 in each series
  std::string seriesUid;
  std::string sopInstanceUid;
};

// The study's images: Series::instances of each series, with UIDs that are
// the same on every call, distinct within the archive, and at most 64
// characters (PS3.5 9.1). A series without a UID gets one from the study's.
std::vector<Instance> Instances(const Study& study);

class StudyStore {
 public:
  void Add(Study study);  // merges series into a study with the same UID
  std::size_t Count() const;
  // Copies of the matching studies.
  std::vector<Study> Find(const std::vector<QueryKey>& keys) const;

 private:
  mutable std::shared_mutex mutex_;
  std::vector<Study> studies_;
  std::map<std::string, std::size_t> byUid_;
};

}  // namespace morvanta::archive
