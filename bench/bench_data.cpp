#include "bench_data.h"

#include <QStandardItem>
#include <array>
#include <cstdlib>
#include <fstream>
#include <random>

#include "search_widgets/result_grid.h"

namespace morvanta::bench {
namespace {

constexpr std::array kLastNames{"MUELLER", "SCHMIDT", "SCHNEIDER", "FISCHER", "WEBER",
                                "MEYER",   "WAGNER",  "BECKER",    "SCHULZ",  "HOFFMANN",
                                "KOCH",    "RICHTER", "KLEIN",     "WOLF",    "SCHROEDER"};
constexpr std::array kFirstNames{"ANNA", "PETER", "MARIA", "KLAUS", "SABINE", "THOMAS",
                                 "JULIA", "MICHAEL", "CLAUDIA", "STEFAN"};
constexpr std::array kModalities{"CT", "MR", "CR", "US", "DX", "MG", "NM", "XA"};
constexpr std::array kBodyParts{"CHEST", "HEAD", "ABDOMEN", "KNEE", "PELVIS", "SPINE", ""};
constexpr std::array kDescriptions{"Thorax p.a. und seitlich", "CT Schaedel nativ",
                                   "MRT Knie rechts", "Sonographie Abdomen",
                                   "Mammographie beidseits", "CT Thorax mit KM"};

std::string Digits(std::mt19937& random, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += static_cast<char>('0' + random() % 10);
  return text;
}

std::string TwoDigits(unsigned value) {
  return std::string(1, static_cast<char>('0' + value / 10)) +
         static_cast<char>('0' + value % 10);
}

dicom::DataSetList MakeResults() {
  std::mt19937 random(399);
  std::vector<dicom::DataSet> sets;
  sets.reserve(kGridRows);
  for (std::size_t i = 0; i < kGridRows; ++i) {
    dicom::DataSet ds;
    auto& a = ds.Attributes();
    const auto pick = [&](const auto& list) { return list[random() % list.size()]; };
    a.Add(0x0008, 0x0020, "20" + TwoDigits(10 + random() % 15) + TwoDigits(1 + random() % 12) +
                              TwoDigits(1 + random() % 28));
    a.Add(0x0008, 0x0030, TwoDigits(7 + random() % 12) + TwoDigits(random() % 60) +
                              TwoDigits(random() % 60) + ".000000");
    a.Add(0x0008, 0x0050, "ACC" + Digits(random, 9));
    a.Add(0x0008, 0x0061, pick(kModalities));
    a.Add(0x0008, 0x1030, pick(kDescriptions));
    a.Add(0x0010, 0x0010, std::string(pick(kLastNames)) + "^" + pick(kFirstNames));
    a.Add(0x0010, 0x0020, "PID" + Digits(random, 7));
    a.Add(0x0010, 0x0030, "19" + TwoDigits(30 + random() % 70) + TwoDigits(1 + random() % 12) +
                              TwoDigits(1 + random() % 28));
    a.Add(0x0010, 0x0040, random() % 2 ? "F" : "M");
    a.Add(0x0018, 0x0015, pick(kBodyParts));
    a.Add(0x0020, 0x000D, "1.2.826.0.1.3680043.8.498." + Digits(random, 20) + "." +
                              std::to_string(i + 1));
    sets.push_back(std::move(ds));
  }
  return dicom::DataSetList(std::move(sets));
}

}  // namespace

const dicom::DataSetList& StudyResults() {
  static const dicom::DataSetList results = MakeResults();
  return results;
}

void FillStandardModel(QStandardItemModel& model, const dicom::DataSetList& results) {
  // The same cell texts the grid shows, one QStandardItem per cell, inserted
  // the way a plain Qt program would fill a fresh model.
  model.clear();
  model.setColumnCount(search::kGridColumns);
  for (const dicom::DataSet& ds : results) {
    const search::GridRow row = search::RowFromResult(ds);
    QList<QStandardItem*> items;
    items.reserve(search::kGridColumns);
    for (const QString& cell : row.cells) items.append(new QStandardItem(cell));
    model.appendRow(items);
  }
}

namespace {

// The temporary folder of the benchmarks' Settings.ini, removed at exit by its
// own destructor: an atexit handler registered while the path was being made
// ran after the path was destroyed, and read freed memory.
struct ProfileFolder {
  ProfileFolder() {
    std::string dir = (std::filesystem::temp_directory_path() / "morvanta-bench-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) std::abort();
    path = dir;
  }
  ~ProfileFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  ProfileFolder(const ProfileFolder&) = delete;
  ProfileFolder& operator=(const ProfileFolder&) = delete;
  std::filesystem::path path;
};

}  // namespace

const std::filesystem::path& ProfileFile() {
  static const ProfileFolder folder;
  static const std::filesystem::path file = [] {
    const std::filesystem::path path = folder.path / "Settings.ini";
    std::ofstream out(path, std::ios::binary);
    std::string current;
    for (const ProfileKey& k : ProfileKeys()) {
      if (k.section != current) {
        if (!current.empty()) out << "\r\n";
        out << "[" << k.section << "]\r\n";
        current = k.section;
      }
      out << k.key << "=Value of " << k.key << " in " << k.section << "\r\n";
    }
    return path;
  }();
  return file;
}

const std::vector<ProfileKey>& ProfileKeys() {
  static const std::vector<ProfileKey> keys = [] {
    std::vector<ProfileKey> list;
    for (int s = 0; s < 10; ++s) {
      for (int k = 0; k < 20; ++k) {
        list.push_back({"Section" + std::to_string(s), "Key" + std::to_string(k)});
      }
    }
    return list;
  }();
  return keys;
}

}  // namespace morvanta::bench
