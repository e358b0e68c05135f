#pragma once
// Inside the binding only: the program's data sets as DCMTK's and back, with
// the character set chosen on the way out and decoded on the way in.
#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>

#include <memory>

#include "dicom/dicom.h"

namespace morvanta::dicom::detail {

// A data set built from the program's attribute list. Values arrive as UTF-8;
// the narrowest character set that holds them is chosen and declared.
std::unique_ptr<DcmDataset> BuildDataset(const AttributeList& attributes);

// A received data set as the program's DataSet, texts decoded into UTF-8 by
// the set's own (0008,0005) (ISO_IR 100 when it has none).
DataSet ToDataSet(DcmDataset& dataset);

}  // namespace morvanta::dicom::detail
