// Run by the build: writes the page's markup and style sheet from the window description, so
// that the page shows the start screen before any script has run and every position, colour
// and font comes from the one description the desktop windows are made from; and the page's
// script with the numbers it shares with the module, taken from the module's own declarations.
//
//     page OUT_DIR SCRIPT    writes OUT_DIR/index.html, sormio.css, sormio.webmanifest and
//                            sormio.js (SCRIPT with @CHANGE@, @TEXT@, @PAGE@ and @LAYOUT@ filled
//                            in)
#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "description.h"
#include "reader.h"
#include "tone.h"
#include "web_window.h"

namespace {

using namespace sormio;

std::string hex(Rgb c) {
    char s[8];
    std::snprintf(s, sizeof s, "#%02x%02x%02x", c.r, c.g, c.b);
    return s;
}

std::string escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// The page's own name for a carried face, so that no installed font of the same family stands
// in for it.
std::string familyOf(Face face) {
    return face == Face::Heavy  ? "sormio-heavy"
           : face == Face::Mono ? "sormio-mono"
                                : "sormio-script";
}

std::string woff2Of(const Font& font) {
    const std::string file(font.file);
    return file.substr(0, file.rfind('.')) + ".woff2";
}

// One font of each face the window draws in.
std::array<const Font*, 3> carried(const WindowDescription& w) {
    std::array<const Font*, 3> faces{};
    for (const Control& c : w.controls) {
        if (c.font != nullptr) {
            faces[static_cast<std::size_t>(c.font->face)] = c.font;
        }
    }
    return faces;
}

std::string idOf(const Control& c) {
    return c.index < 0 ? std::string(c.name) : std::string(c.name) + std::to_string(c.index);
}

// A length of the window's in the units that the style sheet lays it out in: --w CSS pixels
// (the menu bar's), --u device pixels (the play area's, shown at one CSS pixel to the device
// pixel as the script lays it out) to the window's pixel.
std::string scaled(double pixels, std::string_view unit) {
    std::ostringstream out;
    out << "calc(" << pixels << "*var(" << unit << "))";
    return out.str();
}

std::string cssLength(double pixels) {
    return scaled(pixels, "--w");
}

std::string deviceLength(double pixels) {
    return scaled(pixels, "--u");
}

// The device pixels to the CSS pixel that screens commonly have, which a style sheet can only
// ask one by one.
constexpr std::array<double, 13> kPixelRatios{1.25, 1.5, 1.75, 2, 2.25, 2.5, 2.625,
                                              2.75, 3,   3.5,  4, 4.5,  5};

// The page's own elements beside the window's controls, named once for the markup, the style
// sheet and the script.
constexpr std::string_view kClient = "client";
constexpr std::string_view kMenuBar = "menubar";
constexpr std::string_view kEnding = "ending";
constexpr std::string_view kTyping = "typing";

// The menu bar's height, in the window's pixels.
constexpr int kMenuHeight = 20;

// Everything but what a script changes: that is set on the elements themselves.
std::string styleSheet(const WindowDescription& w) {
    std::ostringstream css;
    for (const Font* f : carried(w)) {
        css << "@font-face{font-family:" << familyOf(f->face) << ";src:url(" << woff2Of(*f)
            << ") format(\"woff2\");font-weight:" << f->weight << ";font-display:block}\n";
    }
    const Menu& menu = w.menu;
    const int height = w.clientHeight + kMenuHeight;
    const auto m = cssLength;
    // The window centred in what the screen shows of the page, which never scrolls, and laid
    // out smaller where it does not fit, before any script has run: --w is the window's width
    // over its own, and the play area is laid out in device pixels as the script lays it out,
    // which then only rounds its edges to whole ones.
    css << ":root{--dpr:1}\n";
    for (const double ratio : kPixelRatios) {
        css << "@media (resolution:" << ratio << "dppx){:root{--dpr:" << ratio << "}}\n";
    }
    css << "html{background:" << hex(w.background) << ";color-scheme:dark;overflow:hidden}\n"
        << "body{margin:0;position:fixed;inset:0;display:flex;align-items:center;"
           "justify-content:center;overflow:hidden}\n"
        << "*:focus,*:focus-visible{outline:none}\n"
        << "[hidden]{display:none!important}\n"
        << "#" << w.name << "{position:relative;width:min(" << w.clientWidth << "px,100vw,100svh*"
        << w.clientWidth << "/" << height << ");aspect-ratio:" << w.clientWidth << "/" << height
        << ";--w:calc(100cqw/" << w.clientWidth
        << ");--u:calc(var(--w)*var(--dpr));container-type:inline-size;flex:none;"
           "user-select:none;-webkit-user-select:none;cursor:default}\n"
        // A desktop window's menu bar: light, one line, the items below it on demand. It and
        // the page around the game take the colours of a player's contrast theme.
        << "#" << kMenuBar << "{height:" << m(kMenuHeight) << ";font:" << m(12) << "/"
        << m(kMenuHeight) << " system-ui,sans-serif;background:#f0f0f0;color:#000;display:flex}\n"
        << "#" << kMenuBar
        << " button{font:inherit;color:inherit;background:none;border:0;margin:0;"
           "padding:0 "
        << m(8) << ";height:" << m(kMenuHeight)
        << ";text-align:left}\n"
        // Where the keyboard is, too: a menu reached by Tab or F10 and walked with the arrows.
        << "#" << kMenuBar << " button:hover,#" << kMenuBar << " button:focus,#" << kMenuBar
        << " [aria-expanded=true]{background:#cce4f7}\n"
        << "#" << menu.name << "-items{position:absolute;top:" << m(kMenuHeight)
        << ";left:0;z-index:2;background:#f0f0f0;border:1px solid #a0a0a0;padding:2px;min-width:"
        << m(180) << ";box-shadow:2px 2px 3px rgba(0,0,0,.4)}\n"
        << "#" << menu.name << "-items button{display:flex;width:100%;padding:0 " << m(8) << " 0 "
        << m(24) << "}\n"
        << "#" << menu.name << "-items kbd{font:inherit;margin-left:auto;padding-left:" << m(24)
        << "}\n"
        // The play area keeps its own colours in a contrast theme: they are what the game
        // says (the key to press red, the wrong one blue), as a board's are.
        << "#" << kClient << "{position:absolute;left:0;top:" << m(kMenuHeight)
        << ";overflow:hidden;width:" << deviceLength(w.clientWidth)
        << ";height:" << deviceLength(w.clientHeight)
        << ";transform:scale(calc(1/var(--dpr)));transform-origin:0 0;background:"
        << hex(w.background) << ";forced-color-adjust:none}\n"
        << "#" << kClient << ">#countdown{display:contents}\n"
        << "#" << kClient
        << ">div,#countdown>div{position:absolute;box-sizing:border-box;display:flex;"
           "align-items:center;justify-content:center;white-space:pre;overflow:hidden}\n"
        // A tile's lines are its background, the colour inside them drawn over it: they stay
        // whole device pixels when the script lays the window out smaller, where a browser would
        // not draw a border thinner than a CSS pixel.
        << "#" << kClient
        << ">[role=img]::before{content:\"\";position:absolute;inset:var(--line,1px);"
           "background:var(--fill);z-index:-1}\n"
        << ".reader{position:absolute;width:1px;height:1px;overflow:hidden;"
           "clip-path:inset(50%)}\n"
        // Not zoomed into when it takes the focus (a browser does so below 16 px).
        << "#" << kTyping << "{left:0;top:0;padding:0;border:0;font-size:16px;opacity:0}\n";
    // Each control at its place in the description's drawing order: a later one lies on top.
    for (std::size_t place = 0; place < w.drawOrder().size(); ++place) {
        const Control& c = w.controls[w.drawOrder()[place]];
        if (c.kind == ControlKind::Timer) {
            continue;
        }
        const Rect& r = c.geometry;
        css << "#" << idOf(c) << "{left:" << deviceLength(r.left) << ";top:" << deviceLength(r.top)
            << ";width:" << (c.kind == ControlKind::Bar ? "0" : deviceLength(r.width))
            << ";height:" << deviceLength(r.height) << ";background:";
        if (c.border) {
            css << hex(w.tileBorder) << ";--fill:" << hex(c.background);
        } else {
            css << hex(c.background);
        }
        css << ";z-index:" << place;
        if (c.font != nullptr) {
            css << ";color:" << hex(c.text) << ";font:" << c.font->weight << " "
                << deviceLength(c.font->pixels()) << " " << familyOf(c.font->face);
        }
        css << "}\n";
    }
    return css.str();
}

std::string markup(const WindowDescription& w) {
    std::ostringstream html;
    // Only the page's own files: no inline script or style, no eval; WebAssembly compiles.
    html << "<!DOCTYPE html>\n<html lang=\"fi\">\n<head>\n<meta charset=\"utf-8\">\n"
         << "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'self'; "
            "script-src 'self' 'wasm-unsafe-eval'; style-src 'self'; object-src 'none'; "
            "base-uri 'none'; form-action 'none'\">\n"
         << "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         << "<meta name=\"theme-color\" content=\"" << hex(w.background) << "\">\n"
         << "<title>" << escaped(w.caption)
         << "</title>\n"
         // As the desktop entry says it.
         << "<meta name=\"description\" content=\"" << escaped(w.caption)
         << ": paina punaista näppäintä ennen kuin palkki loppuu.\">\n"
         << "<link rel=\"manifest\" href=\"sormio.webmanifest\">\n"
         << "<link rel=\"icon\" href=\"icon-192.png\">\n";
    for (const Font* f : carried(w)) {
        html << "<link rel=\"preload\" href=\"" << woff2Of(*f)
             << "\" as=\"font\" type=\"font/woff2\" crossorigin>\n";
    }
    // Fetched beside the fonts rather than after the script that asks for it.
    html << "<link rel=\"preload\" href=\"sormio.wasm\" as=\"fetch\" type=\"application/wasm\" "
            "crossorigin>\n";
    html << "<link rel=\"stylesheet\" href=\"sormio.css\">\n"
         << "<script src=\"sormio.js\" defer></script>\n</head>\n<body>\n"
         // An application: a screen reader whose focus is in it leaves it every key, where in
         // a document it would take letters for its own reading commands.
         << "<div id=\"" << w.name << "\" role=\"application\" aria-label=\"" << escaped(w.caption)
         << "\" tabindex=\"-1\">\n";
    const Menu& menu = w.menu;
    // The menu in the tab order: where F1 and F3 need a key held (a Mac's Fn), Tab and Enter
    // reach Start as they reach any control of a page.
    html << "<div id=\"" << kMenuBar << "\" role=\"menubar\"><button id=\"" << menu.name
         << "\" role=\"menuitem\" aria-haspopup=\"menu\" aria-expanded=\"false\" tabindex=\"0\">"
         << escaped(menu.caption) << "</button>\n<div id=\"" << menu.name
         << "-items\" role=\"menu\" hidden>\n";
    for (const MenuItem& item : menu.items) {
        const std::string key = item.shortcut();
        html << "<button id=\"" << item.name << "\" role=\"menuitem\" tabindex=\"-1\"";
        if (!key.empty()) {
            html << " aria-keyshortcuts=\"" << key << "\"";
        }
        html << "><span>" << escaped(item.caption) << "</span>";
        if (!key.empty()) {
            html << "<kbd>" << key << "</kbd>";
        }
        html << "</button>\n";
    }
    html << "</div></div>\n<div id=\"" << kClient << "\">\n";
    for (const Control& c : w.controls) {
        if (c.kind == ControlKind::Bar) {
            // In a status bar of its own, saying nothing by itself: a screen reader does not
            // read out a progress bar there each time its value changes.
            html << "<div id=\"countdown\" role=\"status\" aria-live=\"off\"><div id=\"" << idOf(c)
                 << "\" role=\"progressbar\" aria-valuemin=\"" << reader::BarValue::kMinimum
                 << "\" aria-valuemax=\"" << reader::BarValue::kMaximum << "\" aria-valuenow=\""
                 << reader::BarValue::kMaximum << "\" tabindex=\"-1\" hidden></div></div>\n";
        } else if (c.kind == ControlKind::Label) {
            html << "<div id=\"" << idOf(c) << "\"";
            if (c.index >= 0) {
                // Focusable: a screen reader is told each turn's key by the focus coming to
                // its tile.
                html << " role=\"img\" aria-label=\"" << escaped(c.caption) << "\" tabindex=\"-1\"";
            } else if (c.name == "Lblpisteet") {
                html << " aria-description=\"" << escaped(texts().points) << "\"";
            }
            html << (c.visible ? "" : " hidden") << ">" << escaped(c.caption) << "</div>\n";
        }
    }
    // Named by how the game ended when it ends: the focus comes to it, and a screen reader
    // says that first, as the focus coming to a tile tells the key of a turn.
    html << "</div>\n<div id=\"" << kEnding
         << "\" class=\"reader\" role=\"img\" tabindex=\"-1\" "
            "hidden></div>\n"
         // Where an on-screen keyboard types: a game started by a tap keeps the focus here. The
         // keyboard's own help (corrections, capitals, suggestions) would type what the player
         // did not.
         << "<input id=\"" << kTyping
         << "\" class=\"reader\" tabindex=\"-1\" autocomplete=\"off\" "
            "autocorrect=\"off\" autocapitalize=\"none\" spellcheck=\"false\" "
            "enterkeyhint=\"done\" aria-label=\""
         << escaped(w.caption) << "\">\n"
         << "</div>\n</body>\n</html>\n";
    return html.str();
}

// What a browser needs to install the page as an app of its own.
std::string manifest(const WindowDescription& w) {
    std::ostringstream json;
    json << "{\n  \"id\": \"./\",\n  \"name\": \"" << w.caption << "\",\n  \"short_name\": \""
         << w.caption << "\",\n  \"lang\": \"fi\",\n  \"start_url\": \"./\",\n"
         << "  \"scope\": \"./\",\n  \"display\": \"standalone\",\n  \"background_color\": \""
         << hex(w.background) << "\",\n  \"theme_color\": \"" << hex(w.background) << "\",\n"
         << "  \"icons\": [\n"
         << "    {\"src\": \"icon-192.png\", \"sizes\": \"192x192\", \"type\": \"image/png\"},\n"
         << "    {\"src\": \"icon-512.png\", \"sizes\": \"512x512\", \"type\": \"image/png\"}\n"
         << "  ]\n}\n";
    return json.str();
}

// The numbers the script and the module share, as the module declares them.
std::string script(std::string text) {
    const auto fill = [&text](std::string_view marker, const std::string& value) {
        const std::size_t at = text.find(marker);
        if (at != std::string::npos) {
            text.replace(at, marker.size(), value);
        }
        return at != std::string::npos;
    };
    std::ostringstream change;
    change << "{ Tiles: " << Change::Tiles << ", Bar: " << Change::Bar
           << ", Score: " << Change::Score << ", SoundItem: " << Change::SoundItem
           << ", Turn: " << Change::Turn << ", Ending: " << Change::Ending << " }";
    std::ostringstream slots;
    slots << "{ Score: " << WebWindow::Score << ", SoundItem: " << WebWindow::SoundItem
          << ", Key: " << WebWindow::Key << ", Ending: " << WebWindow::Ending
          << ", TileState: " << WebWindow::TileState << " }";
    // The window's own lengths, which the script lays out on whole device pixels: the play
    // area, the menu bar, and each element's left, top, width, height and font size.
    const WindowDescription& w = windowDescription();
    std::ostringstream layout;
    layout << "{width:" << w.clientWidth << ",height:" << w.clientHeight << ",menu:" << kMenuHeight
           << ",controls:{";
    for (const Control& c : w.controls) {
        if (c.kind != ControlKind::Timer) {
            const Rect& r = c.geometry;
            layout << idOf(c) << ":[" << r.left << "," << r.top << "," << r.width << "," << r.height
                   << "," << (c.font != nullptr ? c.font->pixels() : 0) << "],";
        }
    }
    layout << "}}";
    // What the page's elements are called, and the module's buffer for typed text.
    // The menu's items by name, each with the command it gives.
    const MenuItem* sound = nullptr;
    std::ostringstream commands;
    for (const MenuItem& item : w.menu.items) {
        sound = item.command == Command::Sound ? &item : sound;
        commands << item.name << ":" << static_cast<int>(item.command) << ",";
    }
    std::ostringstream page;
    page << "{tiles:" << KeyTable::kKeys << ",textBuffer:" << WebWindow::kTextBufferLength
         << ",ids:{window:\"" << w.name << "\",tile:\"" << w.tile(0).name << "\",bar:\""
         << idOf(w.control("Picture1")) << "\",score:\"" << w.control("Lblpisteet").name
         << "\",menu:\"" << w.menu.name << "\",sound:\"" << sound->name << "\",client:\"" << kClient
         << "\",menubar:\"" << kMenuBar << "\",ending:\"" << kEnding << "\",typing:\"" << kTyping
         << "\"},commands:{" << commands.str() << "},start:" << static_cast<int>(Command::Start)
         << ",tone:{frames:" << Tone::kSlotFrames << ",rate:" << Tone::kRate << "}"
         << ",woken:{Early:" << static_cast<int>(WakeUp::Woken::Early)
         << ",Wait:" << static_cast<int>(WakeUp::Woken::Wait) << "}}";
    return fill("@CHANGE@", change.str()) && fill("@TEXT@", slots.str()) &&
                   fill("@PAGE@", page.str()) && fill("@LAYOUT@", layout.str())
               ? text
               : std::string();
}

// The script as a browser fetches it: without its comments, blank lines and indentation, which
// are a third of what a phone would otherwise download. Only whole lines go: the script has no
// string or template that spans a line.
std::string shipped(const std::string& source) {
    std::string out;
    std::size_t from = 0;
    while (from < source.size()) {
        std::size_t end = source.find('\n', from);
        end = end == std::string::npos ? source.size() : end;
        const std::size_t first = source.find_first_not_of(" \t\r", from);
        if (first < end && source.compare(first, 2, "//") != 0) {
            out.append(source, first, end - first).push_back('\n');
        }
        from = end + 1;
    }
    return out;
}

bool write(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out.flush());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: page OUT_DIR SCRIPT\n", stderr);
        return 2;
    }
    const std::string dir = argv[1];
    std::ifstream in(argv[2], std::ios::binary);
    const std::string js = script(shipped({std::istreambuf_iterator<char>(in), {}}));
    if (js.empty()) {
        std::fprintf(stderr, "page: %s has no @CHANGE@, @TEXT@, @PAGE@ and @LAYOUT@ to fill in\n",
                     argv[2]);
        return 1;
    }
    const WindowDescription& w = windowDescription();
    if (!write(dir + "/index.html", markup(w)) || !write(dir + "/sormio.css", styleSheet(w)) ||
        !write(dir + "/sormio.webmanifest", manifest(w)) || !write(dir + "/sormio.js", js)) {
        std::fprintf(stderr, "page: cannot write into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
