#pragma once

#include <QRawFont>

namespace sormio {

// The game carries its own font files, so that the picture is the same on every machine. They
// are drawn straight from the carried data, without registering them with the desktop's font
// configuration: nothing of the desktop's font setup (substitutions, hinting, scaling) can
// change them, and start-up skips the font matching. Sizes are in pixels, the layout's unit,
// so font scaling cannot break the fixed layout; on a high-density display everything scales
// together.
struct GameFonts {
    QRawFont title;   // heavy display sans, 96 px
    QRawFont score;   // the same face, 16 px
    QRawFont tile;    // bold monospace, 16 px
    QRawFont credit;  // bold script, 13 px
};

// Loads the carried fonts on first use.
const GameFonts& gameFonts();

}  // namespace sormio
