// Writes the window description as JSON, for the end-to-end harness: what it looks for in a
// picture (where each tile, the bar, the score, the title and the credit line are, and their
// colours) comes from the same description every platform draws, never typed again.
//
//     describe OUT.json
#include <cstdio>
#include <fstream>
#include <sstream>

#include "description.h"
#include "game.h"
#include "key_table.h"

namespace {

using namespace sormio;

std::string rgb(Rgb c) {
    std::ostringstream out;
    out << "[" << int{c.r} << ", " << int{c.g} << ", " << int{c.b} << "]";
    return out.str();
}

std::string rect(const Rect& r) {
    std::ostringstream out;
    out << "[" << r.left << ", " << r.top << ", " << r.width << ", " << r.height << "]";
    return out.str();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: describe OUT.json\n", stderr);
        return 2;
    }
    const WindowDescription& w = windowDescription();
    std::ostringstream json;
    json << "{\n  \"caption\": \"" << w.caption << "\",\n  \"appId\": \"" << w.appId
         << "\",\n  \"client\": [" << w.clientWidth << ", " << w.clientHeight
         << "],\n  \"background\": " << rgb(w.background)
         << ",\n  \"tileBorder\": " << rgb(w.tileBorder)
         << ",\n  \"barColour\": " << rgb(w.barColour)
         << ",\n  \"tickMs\": " << w.control("Tmr1").periodMs
         << ",\n  \"startWidth\": " << Game::kStartWidth
         << ",\n  \"colours\": {\"idle\": " << rgb(rgbOf(TileColour::Black))
         << ", \"target\": " << rgb(rgbOf(TileColour::Red))
         << ", \"wrong\": " << rgb(rgbOf(TileColour::Blue))
         << ", \"text\": " << rgb(w.control("Lblotsikko").text) << "},\n  \"controls\": {";
    const char* separator = "\n";
    for (const char* name : {"Picture1", "Lblpisteet", "Lblotsikko", "Label1"}) {
        json << separator << "    \"" << name << "\": " << rect(w.control(name).geometry);
        separator = ",\n";
    }
    json << "\n  },\n  \"tiles\": [";
    separator = "\n";
    for (int t = 0; t < KeyTable::kKeys; ++t) {
        const KeyRow& row = KeyTable::rows()[static_cast<std::size_t>(t)];
        json << separator << "    [\"" << row.glyph << "\", " << rect(w.tile(t).geometry) << "]";
        separator = ",\n";
    }
    json << "\n  ]\n}\n";
    std::ofstream out(argv[1], std::ios::binary);
    out << json.str();
    return out.flush() ? 0 : 1;
}
