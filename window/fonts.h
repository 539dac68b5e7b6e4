#pragma once

#include <QFont>

namespace sormio {

// The game carries its own font files, so that the picture is the same on every machine. Sizes
// are in pixels (the layout's unit), never points, so a desktop's font scaling cannot break the
// fixed layout; on a high-density display everything scales together.
struct GameFonts {
    QFont title;   // heavy display sans, 96 px
    QFont score;   // the same face, 16 px
    QFont tile;    // bold monospace, 16 px
    QFont credit;  // bold script, 13 px
};

// Registers the carried fonts on first use.
const GameFonts& gameFonts();

}  // namespace sormio
