#include "studies.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

#include "dicom/charset.h"

namespace morvanta::archive {

using dicom::Utf8ToUtf32;

namespace {

std::vector<std::string> SplitValues(const std::string& value) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t bar = value.find('\\', start);
    parts.push_back(value.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return parts;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

char32_t Fold(char32_t c) {
  if (c >= U'a' && c <= U'z') return c - 0x20;
  // Latin-1 lower-case letters à..þ except ÷ fold onto À..Þ.
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  return c;
}

bool MatchOne(const std::string& pattern, const std::string& value, const std::string& vr) {
  if (pattern == "*") return true;
  if (vr == "DA" || vr == "TM" || vr == "DT") {
    if (pattern.find('-') != std::string::npos) return RangeMatch(pattern, value);
    return Trim(pattern) == Trim(value);
  }
  const bool ignoreCase = vr == "PN";
  return WildcardMatch(Utf8ToUtf32(Trim(pattern)), Utf8ToUtf32(Trim(value)), ignoreCase);
}

}  // namespace

bool WildcardMatch(std::u32string_view pattern, std::u32string_view text, bool ignoreCase) {
  // Iterative glob with back-tracking to the last "*": linear in practice,
  // no recursion for hostile patterns like "*a*a*a*a*b".
  std::size_t p = 0, t = 0, starP = std::u32string_view::npos, starT = 0;
  auto same = [&](char32_t a, char32_t b) { return ignoreCase ? Fold(a) == Fold(b) : a == b; };
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == U'?' || (pattern[p] != U'*' && same(pattern[p], text[t])))) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == U'*') {
      starP = p++;
      starT = t;
    } else if (starP != std::u32string_view::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == U'*') ++p;
  return p == pattern.size();
}

bool RangeMatch(const std::string& pattern, const std::string& value) {
  const std::size_t dash = pattern.find('-');
  const std::string low = Trim(pattern.substr(0, dash));
  const std::string high = dash == std::string::npos ? low : Trim(pattern.substr(dash + 1));
  const std::string v = Trim(value);
  if (v.empty()) return false;
  // Dates (and times of equal precision) compare as text.
  if (!low.empty() && v.compare(0, low.size(), low) < 0) return false;
  if (!high.empty() && v.substr(0, high.size()) > high) return false;
  return true;
}

std::vector<std::string> Study::Modalities() const {
  std::vector<std::string> result;
  for (const Series& s : series)
    if (!s.modality.empty() && std::find(result.begin(), result.end(), s.modality) == result.end())
      result.push_back(s.modality);
  return result;
}

std::optional<std::string> Study::Value(TagKey key) const {
  switch (key) {
    case kModalitiesInStudy: {
      std::string joined;
      for (const std::string& m : Modalities()) joined += (joined.empty() ? "" : "\\") + m;
      return joined;
    }
    case kModality: {
      const auto all = Modalities();
      return all.empty() ? std::string() : all.front();
    }
    case kBodyPart:
      for (const Series& s : series)
        if (!s.bodyPart.empty()) return s.bodyPart;
      return std::string();
    case kSeriesCount: return std::to_string(series.size());
    case kInstanceCount: {
      int total = 0;
      for (const Series& s : series) total += s.instances;
      return std::to_string(total);
    }
    default: break;
  }
  const auto found = values.find(key);
  if (found == values.end()) return std::nullopt;
  return found->second;
}

bool Matches(const Study& study, const std::vector<QueryKey>& keys) {
  for (const QueryKey& key : keys) {
    if (key.tag == kSpecificCharacterSet || key.tag == kQueryRetrieveLevel) continue;
    if (key.value.empty() || key.vr == "SQ") continue;  // universal matching
    const std::vector<std::string> wanted = SplitValues(key.value);
    if (key.tag == kModality || key.tag == kModalitiesInStudy) {
      // Modality against the modalities of the study's series.
      bool any = false;
      for (const std::string& m : study.Modalities())
        for (const std::string& w : wanted)
          if (MatchOne(w, m, "CS")) any = true;
      if (!any) return false;
      continue;
    }
    const std::string value = study.Value(key.tag).value_or("");
    bool any = false;
    for (const std::string& w : wanted) {
      // A list of UIDs matches any of them (C.2.2.2.2); other values allow one
      // value or a pattern.
      if (key.vr == "UI" ? Trim(w) == Trim(value) : MatchOne(w, value, key.vr)) any = true;
    }
    if (!any) return false;
  }
  return true;
}

std::string ShiftDate(const std::string& yyyymmdd, int days) {
  using namespace std::chrono;
  const int y = std::stoi(yyyymmdd.substr(0, 4));
  const unsigned m = static_cast<unsigned>(std::stoi(yyyymmdd.substr(4, 2)));
  const unsigned d = static_cast<unsigned>(std::stoi(yyyymmdd.substr(6, 2)));
  const year_month_day shifted{sys_days{year{y} / month{m} / day{d}} - std::chrono::days{days}};
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02u%02u", static_cast<int>(shifted.year()),
                static_cast<unsigned>(shifted.month()), static_cast<unsigned>(shifted.day()));
  return text;
}

Study MakeDemoStudy(int index, const std::string& today) {
  static const char* const kLast[] = {"Müller",  "Schröder", "Weiß",   "Jäger", "Groß",    "Köhler",
                                      "Núñez",   "García",   "Åberg",  "Østergaard", "Dubois",
                                      "Smith",   "Fischer",  "Çelik",  "Brown", "Lefèvre"};
  static const char* const kFirst[] = {"Jürgen", "Zoë",  "Renée", "Søren",  "José", "Anna",
                                       "Peter",  "Hélène", "Björn", "Maria", "Jörg", "Inès", "John"};
  struct Kind {
    const char* modality;
    const char* bodyPart;
    const char* description;
  };
  static const Kind kKinds[] = {
      {"CT", "CHEST", "CT Thorax"},       {"MR", "KNEE", "MRT Knie links"},
      {"CR", "CHEST", "Röntgen Thorax"},  {"DX", "HAND", "Hand p.a."},
      {"US", "ABDOMEN", "Sono Abdomen"},  {"MG", "BREAST", "Mammographie beidseits"},
      {"XA", "HEART", "Koronarangiographie"}, {"CT", "HEAD", "CCT nativ"},
  };
  constexpr int kLastCount = sizeof kLast / sizeof *kLast;
  constexpr int kFirstCount = sizeof kFirst / sizeof *kFirst;
  constexpr int kKindCount = sizeof kKinds / sizeof *kKinds;

  // Two studies per patient; study 0 (today) belongs to Müller^Jürgen.
  const int patient = index / 2;
  const Kind& kind = kKinds[index % kKindCount];
  Study study;
  auto& v = study.values;
  v[kPatientName] = std::string(kLast[patient % kLastCount]) + "^" + kFirst[(patient / kLastCount + patient) % kFirstCount];
  char text[64];
  std::snprintf(text, sizeof text, "PID%05d", patient);
  v[kPatientID] = text;
  std::snprintf(text, sizeof text, "%04d%02d%02d", 1930 + (patient * 7) % 80, 1 + patient % 12, 1 + (patient * 3) % 28);
  v[kBirthDate] = text;
  v[kPatientSex] = patient % 3 == 0 ? "M" : patient % 3 == 1 ? "F" : "O";
  // Dates: today, yesterday, then back over four weeks.
  v[kStudyDate] = ShiftDate(today, index % 29);
  std::snprintf(text, sizeof text, "%02d%02d%02d", 7 + (index * 37 / 60) % 11, (index * 37) % 60, (index * 13) % 60);
  v[kStudyTime] = text;
  std::snprintf(text, sizeof text, "ACC%06d", 100000 + index);
  v[kAccessionNumber] = text;
  std::snprintf(text, sizeof text, "%d", index + 1);
  v[kStudyID] = text;
  v[kStudyDescription] = kind.description;
  v[kReferringPhysician] = "Dr^Weiß";
  std::snprintf(text, sizeof text, "2.25.314159265358979323846264338%07d", index);
  v[kStudyUID] = text;

  const int seriesCount = 1 + index % 3;
  for (int s = 0; s < seriesCount; ++s) {
    Series series;
    std::snprintf(text, sizeof text, "2.25.314159265358979323846264339%07d%d", index, s);
    series.uid = text;
    // Every fourth study closes with a structured report series.
    series.modality = (s == seriesCount - 1 && s > 0 && index % 4 == 0) ? "SR" : kind.modality;
    series.bodyPart = kind.bodyPart;
    series.instances = 1 + (index + s) % 5;
    study.series.push_back(series);
  }
  return study;
}

std::vector<Instance> Instances(const Study& study) {
  std::vector<Instance> instances;
  const auto found = study.values.find(kStudyUID);
  const std::string studyUid = found != study.values.end() ? found->second : std::string();
  for (std::size_t s = 0; s < study.series.size(); ++s) {
    const Series& series = study.series[s];
    std::string seriesUid = series.uid;
    // A UID component has no leading zero (PS3.5 9.1); the suffixes start at 1.
    if (seriesUid.empty()) seriesUid = studyUid + "." + std::to_string(s + 1);
    for (int i = 1; i <= series.instances; ++i) {
      Instance instance;
      instance.series = s;
      instance.number = i;
      instance.seriesUid = seriesUid;
      instance.sopInstanceUid = seriesUid + "." + std::to_string(i);
      // Too long for a UID: one derived from a hash of the series UID instead.
      if (instance.sopInstanceUid.size() > 64)
        instance.sopInstanceUid = "2.25." + std::to_string(std::hash<std::string>{}(seriesUid)) + "." +
                                  std::to_string(i);
      instances.push_back(std::move(instance));
    }
  }
  return instances;
}

void StudyStore::Add(Study study) {
  std::unique_lock lock(mutex_);
  const std::string uid = study.values[kStudyUID];
  const auto found = byUid_.find(uid);
  if (found == byUid_.end()) {
    byUid_.emplace(uid, studies_.size());
    studies_.push_back(std::move(study));
    return;
  }
  Study& existing = studies_[found->second];
  for (Series& s : study.series) {
    auto same = std::find_if(existing.series.begin(), existing.series.end(),
                             [&](const Series& e) { return e.uid == s.uid; });
    if (same == existing.series.end())
      existing.series.push_back(std::move(s));
    else
      same->instances += s.instances;
  }
  for (auto& [key, value] : study.values) existing.values.emplace(key, value);
}

std::size_t StudyStore::Count() const {
  std::shared_lock lock(mutex_);
  return studies_.size();
}

std::vector<Study> StudyStore::Find(const std::vector<QueryKey>& keys) const {
  std::shared_lock lock(mutex_);
  std::vector<Study> result;
  for (const Study& study : studies_)
    if (Matches(study, keys)) result.push_back(study);
  return result;
}

}  // namespace morvanta::archive
