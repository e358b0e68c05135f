#pragma once
// Received data sets as the archive's studies: their texts in UTF-8, and the
// study a stored image or a file of --data belongs to.

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>

#include <string>

#include "studies.h"

namespace morvanta::archive {

std::string ToText(const OFString& text);
// Texts of a received data set in UTF-8: by its own (0008,0005), and as
// Latin-1 where it has none (what most senders that omit it mean).
bool DecodeToUtf8(DcmDataset& dataset);
Study StudyFromDataset(DcmDataset& dataset);
// The studies of the DICOM files in `folder` (recursive); other files are skipped.
void LoadFolder(const std::string& folder, StudyStore& store);

}  // namespace morvanta::archive
