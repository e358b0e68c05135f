// The study identifier over any search form: texts as typed (any UTF-8 or
// not), any dates, any shortcut range.
//
// Input, read with FuzzedDataProvider: which optional dates are set and their
// day numbers, the shortcut range (half the time a well-formed one), then
// patient ID, last name, first name and modality texts.
//
// Properties:
// - the keys come in the documented order: Patient's Name, Birth Date (only
//   when set), Patient ID, Query/Retrieve Level "STUDY", Modality (only when
//   typed), Study Date (at most one, only when not matching nothing);
// - the patient name key holds no space and is the composed name with
//   spaces as "^"; the composed name is "*" for an empty last name;
// - with valid dates on both the shortcut and the range, the Study Date key
//   is exactly their intersection, and no overlap means "matches nothing";
// - the data set from MakeIdentifier carries each key's value;
// - the character set chosen for the keys holds them: Latin-1 texts survive
//   the trip to Latin-1 and back.

#include <fuzzer/FuzzedDataProvider.h>

#include <QDate>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dicom/charset.h"
#include "fuzz_common.h"
#include "search/query.h"

namespace {

using namespace morvanta::search;

// Mostly days the date pickers can show (years 1000..9999, so DicomDate
// writes eight digits); now and then any day, or an invalid date.
std::optional<QDate> ConsumeDate(FuzzedDataProvider& input) {
  if (!input.ConsumeBool()) return std::nullopt;
  const std::uint8_t kind = input.ConsumeIntegral<std::uint8_t>();
  if (kind < 8) return QDate();
  if (kind < 16) return QDate::fromJulianDay(input.ConsumeIntegral<std::int32_t>());
  const qint64 first = QDate(1000, 1, 1).toJulianDay();
  const qint64 last = QDate(9999, 12, 31).toJulianDay();
  return QDate::fromJulianDay(input.ConsumeIntegralInRange<qint64>(first, last));
}

bool Plausible(const std::optional<QDate>& date) {
  return date && date->isValid() && date->year() >= 1000 && date->year() <= 9999;
}

QString ConsumeText(FuzzedDataProvider& input) {
  return QString::fromUtf8(input.ConsumeRandomLengthString(96));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  SearchCriteria criteria;
  criteria.birthDate = ConsumeDate(input);
  criteria.shortcutDate = ConsumeDate(input);
  criteria.rangeStart = ConsumeDate(input);
  criteria.rangeEnd = ConsumeDate(input);
  if (input.ConsumeBool()) {
    const auto a = ConsumeDate(input);
    const auto b = ConsumeDate(input);
    if (Plausible(a) && Plausible(b)) {
      criteria.shortcutRange = QString::fromStdString(DicomDate(*a) + "-" + DicomDate(*b));
    }
  } else {
    criteria.shortcutRange = ConsumeText(input);
  }
  criteria.patientId = ConsumeText(input);
  criteria.lastName = ConsumeText(input);
  criteria.firstName = ConsumeText(input);
  criteria.modality = ConsumeText(input);

  (void)HasCriteria(criteria);
  const IdentifierPlan plan = BuildIdentifier(criteria);
  const auto& keys = plan.keys;

  // Order and presence.
  std::vector<morvanta::dicom::Tag> expected{kPatientName};
  if (criteria.birthDate) expected.push_back(kPatientBirthDate);
  expected.push_back(kPatientId);
  expected.push_back(kQueryRetrieveLevel);
  if (!criteria.modality.isEmpty()) expected.push_back(kModality);
  const bool hasStudyDate = !keys.empty() && keys.back().tag == kStudyDate;
  if (hasStudyDate) expected.push_back(kStudyDate);
  FUZZ_CHECK(keys.size() == expected.size());
  for (std::size_t i = 0; i < keys.size(); ++i) FUZZ_CHECK(keys[i].tag == expected[i]);
  FUZZ_CHECK(!(hasStudyDate && plan.matchesNothing));
  if (!criteria.shortcutDate && !criteria.rangeStart) {
    FUZZ_CHECK(!hasStudyDate && !plan.matchesNothing);
  }

  // Patient name.
  const QString composed = ComposePatientName(criteria.lastName, criteria.firstName);
  FUZZ_CHECK(plan.composedName == composed);
  if (criteria.lastName.isEmpty()) FUZZ_CHECK(composed.startsWith(QLatin1Char('*')));
  FUZZ_CHECK(keys[0].value.find(' ') == std::string::npos);
  FUZZ_CHECK(keys[0].value == QString(composed).replace(QLatin1Char(' '), QLatin1Char('^')).toStdString());

  const auto at = [&](morvanta::dicom::Tag tag) {
    return std::ranges::find(keys, tag, &IdentifierKey::tag);
  };
  FUZZ_CHECK(at(kQueryRetrieveLevel)->value == "STUDY");
  FUZZ_CHECK(at(kPatientId)->value == criteria.patientId.toStdString());

  // Study Date as the intersection of the shortcut's span and the range.
  const bool rangeUsable =
      Plausible(criteria.rangeStart) && (!criteria.rangeEnd || Plausible(criteria.rangeEnd));
  std::optional<DateSpan> shortcutSpan;
  if (Plausible(criteria.shortcutDate)) {
    shortcutSpan = criteria.shortcutRange.isEmpty()
                       ? std::optional(DateSpan{*criteria.shortcutDate, *criteria.shortcutDate})
                       : ParseDateSpan(criteria.shortcutRange.toStdString());
  }
  if (rangeUsable && shortcutSpan) {
    const QDate first = std::max(shortcutSpan->first, *criteria.rangeStart);
    const QDate last = std::min(shortcutSpan->last, criteria.rangeEnd.value_or(*criteria.rangeStart));
    if (first > last) {
      FUZZ_CHECK(plan.matchesNothing && !hasStudyDate);
    } else {
      FUZZ_CHECK(hasStudyDate);
      const auto span = ParseDateSpan(keys.back().value);
      FUZZ_CHECK(span && span->first == first && span->last == last);
      FUZZ_CHECK((first == last) == (keys.back().value.find('-') == std::string::npos));
    }
  }

  // The data set the query client sends.
  const morvanta::dicom::DataSet identifier = MakeIdentifier(keys);
  for (const IdentifierKey& key : keys) {
    FUZZ_CHECK(identifier.Attributes().Item(key.tag.group, key.tag.element).Value() == key.value);
  }

  // The character set of the identifier holds its texts.
  std::vector<std::string> texts;
  for (const IdentifierKey& key : keys) texts.push_back(key.value);
  const morvanta::dicom::Charset charset = morvanta::dicom::ChooseCharset(texts);
  for (const std::string& text : texts) {
    if (charset == morvanta::dicom::Charset::Ascii) FUZZ_CHECK(morvanta::dicom::IsAscii(text));
    if (charset == morvanta::dicom::Charset::Latin1) {
      FUZZ_CHECK(morvanta::dicom::Latin1ToUtf8(morvanta::dicom::Utf8ToLatin1(text)) == text);
    }
  }
  return 0;
}
