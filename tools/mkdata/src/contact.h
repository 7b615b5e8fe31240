// One picture of all sheets, each labelled, for looking at the art at once.
#pragma once

#include <vector>

#include "sheets.h"

namespace zt::mkdata {

Image contact_sheet(const std::vector<Sheet>& sheets);

}  // namespace zt::mkdata
