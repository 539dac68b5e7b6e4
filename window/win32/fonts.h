#pragma once

#include <windows.h>

#include <string>

#include "description.h"

namespace sormio {

// The carried fonts, from the program's own resources, made available to this process only
// (nothing is installed into the system), and what GDI knows each by, as the file itself says:
// its family name (empty if the face could not be loaded) and its style's weight. Asked for
// that weight, GDI draws the face as it is rather than emboldening a heavy face that is the
// "Regular" of its family.
struct CarriedFace {
    std::wstring family;
    int weight = FW_NORMAL;
    // The face's own line metrics (hhea), in em: a caption is centred on these, as the other
    // platforms centre it, rather than on the Windows-only metrics GDI reports.
    double ascent = 0.8;
    double descent = 0.2;
};
const CarriedFace& carried(Face face);

}  // namespace sormio
