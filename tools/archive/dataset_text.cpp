#include "dataset_text.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <filesystem>

#include "dicom/charset.h"

namespace morvanta::archive {

std::string ToText(const OFString& text) { return std::string(text.c_str(), text.length()); }

bool DecodeToUtf8(DcmDataset& dataset) {
  OFString declared;
  if (dataset.findAndGetOFStringArray(DCM_SpecificCharacterSet, declared).good() && !declared.empty())
    return dataset.convertToUTF8().good();
  for (unsigned long i = 0; i < dataset.card(); ++i) {
    DcmElement* element = dataset.getElement(i);
    if (element == nullptr || !element->isAffectedBySpecificCharacterSet()) continue;
    OFString value;
    if (element->getOFStringArray(value).bad() || dicom::IsAscii(ToText(value))) continue;
    element->putString(dicom::Latin1ToUtf8(ToText(value)).c_str());
  }
  return true;
}

Study StudyFromDataset(DcmDataset& dataset) {
  Study study;
  static const TagKey kStudyKeys[] = {kPatientName, kPatientID,   kBirthDate,      kPatientSex,
                                      kStudyDate,   kStudyTime,   kAccessionNumber, kStudyID,
                                      kStudyDescription, kStudyUID, kReferringPhysician};
  for (TagKey key : kStudyKeys) {
    OFString value;
    if (dataset.findAndGetOFStringArray(DcmTagKey(key >> 16, key & 0xFFFF), value).good())
      study.values[key] = ToText(value);
  }
  Series series;
  OFString value;
  if (dataset.findAndGetOFString(DCM_SeriesInstanceUID, value).good()) series.uid = ToText(value);
  if (dataset.findAndGetOFString(DCM_Modality, value).good()) series.modality = ToText(value);
  if (dataset.findAndGetOFString(DCM_BodyPartExamined, value).good()) series.bodyPart = ToText(value);
  study.series.push_back(series);
  return study;
}

void LoadFolder(const std::string& folder, StudyStore& store) {
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_regular_file()) continue;
    DcmFileFormat file;
    if (file.loadFile(it->path().string().c_str()).bad()) continue;  // not a DICOM file: skipped
    DcmDataset* dataset = file.getDataset();
    if (!DecodeToUtf8(*dataset)) continue;
    Study study = StudyFromDataset(*dataset);
    if (!study.values[kStudyUID].empty()) store.Add(std::move(study));
  }
}

}  // namespace morvanta::archive
