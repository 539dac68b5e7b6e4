#pragma once

#include <QRawFont>

#include "description.h"

namespace sormio {

// The game carries its own font files, so that the picture is the same on every machine. They
// are drawn straight from the carried data, without registering them with the desktop's font
// configuration: nothing of the desktop's font setup (substitutions, hinting, scaling) can
// change them, and start-up skips the font matching. Sizes are in pixels, the layout's unit,
// so font scaling cannot break the fixed layout; on a high-density display everything scales
// together.
//
// The font of the description at its size, loaded on first use.
const QRawFont& gameFont(const Font& font);

}  // namespace sormio
