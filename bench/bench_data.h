#pragma once
// Realistic inputs for the micro benchmarks: study results as an archive
// returns them, and a Settings.ini with 200 keys.

#include <QStandardItemModel>
#include <cstddef>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "dicom/dicom.h"

namespace morvanta::bench {

// The most results a search lists (one fewer is "too many").
inline constexpr std::size_t kGridRows = 399;

// 399 study-level results, the same each call.
const dicom::DataSetList& StudyResults();

// The same rows as plain text for the reference model.
void FillStandardModel(QStandardItemModel& model, const dicom::DataSetList& results);

struct ProfileKey {
  std::string section;
  std::string key;
};
// A Settings.ini of 200 keys in 10 sections, written once into a temporary
// folder that is removed at exit.
const std::filesystem::path& ProfileFile();
const std::vector<ProfileKey>& ProfileKeys();

}  // namespace morvanta::bench
