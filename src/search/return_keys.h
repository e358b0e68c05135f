#pragma once
// The return keys every study search asks for: what the result grid shows
// (and Send takes, the Study Instance UID). The binding sends them empty
// where the identifier has no value of its own; it does not choose them.

#include <vector>

#include "dicom/dicom.h"

namespace morvanta::search {

inline const std::vector<dicom::Tag> kReturnKeys = {
    {0x0020, 0x000D},  // Study Instance UID
    {0x0008, 0x0020},  // Study Date
    {0x0008, 0x0030},  // Study Time
    {0x0010, 0x0010},  // Patient's Name
    {0x0010, 0x0020},  // Patient ID
    {0x0010, 0x0030},  // Patient's Birth Date
    {0x0010, 0x0040},  // Patient's Sex
    {0x0008, 0x0060},  // Modality
    {0x0008, 0x0061},  // Modalities in Study
    {0x0018, 0x0015},  // Body Part Examined
    {0x0008, 0x1030},  // Study Description
    {0x0008, 0x0050},  // Accession Number
};

}  // namespace morvanta::search
