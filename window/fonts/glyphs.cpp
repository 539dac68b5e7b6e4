// Run by the build: writes, as UTF-8, every character that the window draws in one face, so
// that only those glyphs of it are carried.
#include <cstdio>
#include <cstring>
#include <string>

#include "description.h"

int main(int argc, char** argv) {
    using sormio::Face;
    if (argc != 3) {
        std::fputs("usage: glyphs heavy|mono|script FILE\n", stderr);
        return 2;
    }
    const Face face = std::strcmp(argv[1], "heavy") == 0  ? Face::Heavy
                      : std::strcmp(argv[1], "mono") == 0 ? Face::Mono
                                                          : Face::Script;
    std::string out;
    for (const char32_t c : sormio::glyphsOf(face)) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    std::FILE* file = std::fopen(argv[2], "wb");
    if (file == nullptr || std::fputs(out.c_str(), file) < 0 || std::fclose(file) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
