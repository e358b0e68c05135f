#pragma once
// The study query's pure pieces: the composed patient name, the test for an
// empty search form, the one Study Date the identifier carries, and the
// identifier's keys in the order they are set. No widgets, no network: the
// window reads its controls into SearchCriteria and hands the keys to the
// worker.

#include <QDate>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"
#include "dicom/dicom.h"

namespace morvanta::search {

// A search that finds this many studies or more lists none of them and asks
// the user to narrow it down. Counts are std::size_t throughout, so any
// number of results is simply "too many", never an overflow.
inline constexpr std::size_t kTooManyResults = 400;
inline bool IsTooMany(std::size_t count) { return count >= kTooManyResults; }
// The window's searches stop receiving after this many results (C-CANCEL,
// PS3.7 9.3.2.3). One past the too-many count: an archive told to stop at
// exactly the 400th may already have been about to end, so only a 401st
// result proves there are more than 400. A list of exactly 400 is complete.
inline constexpr std::size_t kSearchResultLimit = kTooManyResults + 1;
// The count label's text: the number, or "400+" when the search stopped at
// its limit with more to come.
inline QString CountText(std::size_t count, bool truncated) {
  if (count > kTooManyResults || (truncated && count >= kTooManyResults)) {
    return QString::number(kTooManyResults) + QLatin1Char('+');
  }
  return QString::number(count);
}

// The search panel as the user left it.
struct SearchCriteria {
  QString patientId;
  QString lastName;
  QString firstName;
  std::optional<QDate> birthDate;
  QString modality;  // the combo box text, as picked or typed
  // A date shortcut's day for one search, and its range (a
  // "YYYYMMDD-YYYYMMDD" text) which, when not empty, is what it means.
  std::optional<QDate> shortcutDate;
  QString shortcutRange;
  // The study-date range pickers (shown only when ExtStudyDate is on; a
  // hidden picker still counts).
  std::optional<QDate> rangeStart;
  std::optional<QDate> rangeEnd;
};

// Last name, or "*" when it is empty; "^" and the first name appended when
// the first name is not empty. Texts are taken as typed: no trimming and no
// wildcard of our own, so the user keeps full control of the match.
QString ComposePatientName(const QString& last, const QString& first);

// True when the form holds something to search for: a patient ID, a last or
// first name, a modality text, a birth date, a range start or a shortcut date.
// A range end alone does not count: without a start it adds nothing to the
// identifier, and an all-wildcard search of the whole archive is never run by
// accident.
bool HasCriteria(const SearchCriteria& criteria);

// "YYYYMMDD" (PS3.5 6.2, VR DA).
std::string DicomDate(const QDate& date);
// Reads "YYYYMMDD"; nullopt for anything else.
std::optional<QDate> ParseDicomDate(std::string_view text);

// An inclusive span of calendar days.
struct DateSpan {
  QDate first;
  QDate last;
  bool operator==(const DateSpan&) const = default;
};
// Reads "YYYYMMDD" (one day) or "YYYYMMDD-YYYYMMDD"; nullopt otherwise.
std::optional<DateSpan> ParseDateSpan(std::string_view text);

// What the identifier says about Study Date (0008,0020).
struct StudyDateKey {
  enum class Kind {
    None,       // no condition: no Study Date key
    Value,      // one key with `value`
    NoOverlap,  // the shortcut and the range exclude each other: no study can match
  };
  Kind kind = Kind::None;
  std::string value;
};

// The shortcut's date (or its range) and the user's range, merged into
// the one Study Date a C-FIND identifier can hold (PS3.4 C.2.2.2.5: a range
// matches both ends inclusive). With both conditions set the key is their
// intersection: a single "YYYYMMDD" when it is one day, otherwise
// "YYYYMMDD-YYYYMMDD". A range start alone is one date (exact match); a
// start and end are sent as the user gave them; an end alone adds nothing.
StudyDateKey CombineStudyDates(const SearchCriteria& criteria);

struct IdentifierKey {
  dicom::Tag tag;
  std::string value;  // UTF-8
  bool operator==(const IdentifierKey&) const = default;
};

struct IdentifierPlan {
  // The keys in the order the identifier receives them: Patient's Name, Birth
  // Date (when set), Patient ID, Query/Retrieve Level, Modality (when typed),
  // Study Date (when there is a condition).
  std::vector<IdentifierKey> keys;
  // The composed name before spaces become "^" (what the window keeps).
  QString composedName;
  // True when the date conditions cannot both hold: show no results and do
  // not ask the archive.
  bool matchesNothing = false;
};

IdentifierPlan BuildIdentifier(const SearchCriteria& criteria);
// The same, the modality criterion sent in Modality (0008,0060) or, for a
// standard archive, Modalities in Study (0008,0061).
IdentifierPlan BuildIdentifier(const SearchCriteria& criteria, ModalityKey modalityKey);

// Writes the keys into a data set through the binding's setters, in order:
// Patient's Name, Patient ID and Birth Date through their own setters, every
// other key through Attributes().Add.
void FillIdentifier(const std::vector<IdentifierKey>& keys,
                    dicom::DataSet& identifier);
dicom::DataSet MakeIdentifier(const std::vector<IdentifierKey>& keys);

// Tags the identifier uses (PS3.6).
inline constexpr dicom::Tag kPatientName{0x0010, 0x0010};
inline constexpr dicom::Tag kPatientBirthDate{0x0010, 0x0030};
inline constexpr dicom::Tag kPatientId{0x0010, 0x0020};
inline constexpr dicom::Tag kQueryRetrieveLevel{0x0008, 0x0052};
inline constexpr dicom::Tag kModality{0x0008, 0x0060};
inline constexpr dicom::Tag kModalitiesInStudy{0x0008, 0x0061};
inline constexpr dicom::Tag kStudyDate{0x0008, 0x0020};

}  // namespace morvanta::search
