#include "search/query.h"

#include <algorithm>

namespace morvanta::search {

QString ComposePatientName(const QString& last, const QString& first) {
  QString name = last.isEmpty() ? QStringLiteral("*") : last;
  if (!first.isEmpty()) name += QLatin1Char('^') + first;
  return name;
}

bool HasCriteria(const SearchCriteria& c) {
  return !c.patientId.isEmpty() || !c.lastName.isEmpty() ||
         !c.firstName.isEmpty() || !c.modality.isEmpty() ||
         c.birthDate.has_value() || c.rangeStart.has_value() ||
         c.shortcutDate.has_value();
}

std::string DicomDate(const QDate& date) {
  return date.toString(QStringLiteral("yyyyMMdd")).toStdString();
}

std::optional<QDate> ParseDicomDate(std::string_view text) {
  if (text.size() != 8 ||
      !std::all_of(text.begin(), text.end(),
                   [](char ch) { return ch >= '0' && ch <= '9'; })) {
    return std::nullopt;
  }
  auto number = [&](std::size_t pos, std::size_t len) {
    int n = 0;
    for (std::size_t i = pos; i < pos + len; ++i) n = n * 10 + (text[i] - '0');
    return n;
  };
  QDate date(number(0, 4), number(4, 2), number(6, 2));
  if (!date.isValid()) return std::nullopt;
  return date;
}

std::optional<DateSpan> ParseDateSpan(std::string_view text) {
  const auto dash = text.find('-');
  if (dash == std::string_view::npos) {
    auto day = ParseDicomDate(text);
    if (!day) return std::nullopt;
    return DateSpan{*day, *day};
  }
  auto first = ParseDicomDate(text.substr(0, dash));
  auto last = ParseDicomDate(text.substr(dash + 1));
  if (!first || !last) return std::nullopt;
  return DateSpan{*first, *last};
}

namespace {

// The shortcut's condition as its own key text: its range when it has one,
// otherwise the picker's date.
std::string ShortcutText(const SearchCriteria& c) {
  if (!c.shortcutRange.isEmpty()) return c.shortcutRange.toStdString();
  return DicomDate(*c.shortcutDate);
}

std::string RangeText(const SearchCriteria& c) {
  std::string text = DicomDate(*c.rangeStart);
  if (c.rangeEnd) text += "-" + DicomDate(*c.rangeEnd);
  return text;
}

std::string SpanText(const DateSpan& span) {
  if (span.first == span.last) return DicomDate(span.first);
  return DicomDate(span.first) + "-" + DicomDate(span.last);
}

}  // namespace

StudyDateKey CombineStudyDates(const SearchCriteria& c) {
  const bool shortcut = c.shortcutDate.has_value();
  const bool range = c.rangeStart.has_value();
  if (!shortcut && !range) return {};
  if (shortcut && !range) return {StudyDateKey::Kind::Value, ShortcutText(c)};
  if (!shortcut && range) return {StudyDateKey::Kind::Value, RangeText(c)};

  const std::string shortcutText = ShortcutText(c);
  const auto shortcutSpan = ParseDateSpan(shortcutText);
  if (!shortcutSpan) {
    // Only the shortcut buttons write the range, always as dates; a range
    // we cannot read is sent as it is rather than guessed at.
    return {StudyDateKey::Kind::Value, shortcutText};
  }
  const DateSpan rangeSpan{*c.rangeStart, c.rangeEnd.value_or(*c.rangeStart)};
  const DateSpan both{std::max(shortcutSpan->first, rangeSpan.first),
                      std::min(shortcutSpan->last, rangeSpan.last)};
  if (both.first > both.last) return {StudyDateKey::Kind::NoOverlap, {}};
  return {StudyDateKey::Kind::Value, SpanText(both)};
}

IdentifierPlan BuildIdentifier(const SearchCriteria& c) {
  return BuildIdentifier(c, ModalityKey::Modality);
}

IdentifierPlan BuildIdentifier(const SearchCriteria& c, ModalityKey modalityKey) {
  IdentifierPlan plan;
  plan.composedName = ComposePatientName(c.lastName, c.firstName);
  QString dicomName = plan.composedName;
  dicomName.replace(QLatin1Char(' '), QLatin1Char('^'));

  plan.keys.push_back({kPatientName, dicomName.toStdString()});
  if (c.birthDate) plan.keys.push_back({kPatientBirthDate, DicomDate(*c.birthDate)});
  plan.keys.push_back({kPatientId, c.patientId.toStdString()});
  plan.keys.push_back({kQueryRetrieveLevel, "STUDY"});
  if (!c.modality.isEmpty()) {
    const dicom::Tag tag =
        modalityKey == ModalityKey::ModalitiesInStudy ? kModalitiesInStudy : kModality;
    plan.keys.push_back({tag, c.modality.toStdString()});
  }

  const StudyDateKey studyDate = CombineStudyDates(c);
  switch (studyDate.kind) {
    case StudyDateKey::Kind::None: break;
    case StudyDateKey::Kind::Value:
      plan.keys.push_back({kStudyDate, studyDate.value});
      break;
    case StudyDateKey::Kind::NoOverlap: plan.matchesNothing = true; break;
  }
  return plan;
}

void FillIdentifier(const std::vector<IdentifierKey>& keys,
                    dicom::DataSet& identifier) {
  for (const IdentifierKey& key : keys) {
    if (key.tag == kPatientName) {
      identifier.SetPatientName(key.value);
    } else if (key.tag == kPatientId) {
      identifier.SetPatientID(key.value);
    } else if (key.tag == kPatientBirthDate) {
      identifier.SetBirthDate(key.value);
    } else {
      identifier.Attributes().Add(key.tag.group, key.tag.element, key.value);
    }
  }
}

dicom::DataSet MakeIdentifier(const std::vector<IdentifierKey>& keys) {
  dicom::DataSet identifier;
  FillIdentifier(keys, identifier);
  return identifier;
}

}  // namespace morvanta::search
