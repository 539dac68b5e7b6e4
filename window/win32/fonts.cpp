#include "fonts.h"

#include <array>
#include <cstdint>

#include "resources.h"

namespace sormio {

namespace {

std::uint16_t be16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

std::uint32_t be32(const unsigned char* p) {
    return std::uint32_t{be16(p)} << 16 | be16(p + 2);
}

// Where a table of a font file starts, or 0.
std::size_t tableOf(const unsigned char* file, std::size_t size, std::uint32_t tag) {
    const std::size_t tables = size < 12 ? 0 : be16(file + 4);
    for (std::size_t t = 0; t < tables && 12 + 16 * (t + 1) <= size; ++t) {
        const unsigned char* entry = file + 12 + 16 * t;
        if (be32(entry) == tag && be32(entry + 8) < size) {
            return be32(entry + 8);
        }
    }
    return 0;
}

// Bold or regular, as the file's header marks its style (macStyle).
int weightInFile(const unsigned char* file, std::size_t size) {
    const std::size_t head = tableOf(file, size, 0x68656164);  // 'head'
    return head != 0 && head + 46 <= size && (be16(file + head + 44) & 1) != 0 ? FW_BOLD
                                                                               : FW_NORMAL;
}

// The family (name 1) for Windows (platform 3, Unicode BMP) from a font file's name table.
std::wstring familyInFile(const unsigned char* file, std::size_t size) {
    const std::size_t offset = tableOf(file, size, 0x6E616D65);  // 'name'
    if (offset == 0 || offset + 6 > size) {
        return {};
    }
    const unsigned char* name = file + offset;
    const std::size_t count = be16(name + 2);
    const std::size_t strings = offset + be16(name + 4);
    for (std::size_t r = 0; r < count && offset + 6 + 12 * (r + 1) <= size; ++r) {
        const unsigned char* record = name + 6 + 12 * r;
        if (be16(record) != 3 || be16(record + 2) != 1 || be16(record + 6) != 1) {
            continue;
        }
        const std::size_t length = be16(record + 8);
        const std::size_t start = strings + be16(record + 10);
        if (start + length > size) {
            return {};
        }
        std::wstring family;
        for (std::size_t i = 0; i + 1 < length; i += 2) {
            family += static_cast<wchar_t>(be16(file + start + i));
        }
        return family;
    }
    return {};
}

// Ascender and descender (hhea) over units per em (head), as fractions of the em.
void metricsInFile(const unsigned char* file, std::size_t size, CarriedFace& face) {
    const std::size_t head = tableOf(file, size, 0x68656164);  // 'head'
    const std::size_t hhea = tableOf(file, size, 0x68686561);  // 'hhea'
    if (head == 0 || hhea == 0 || head + 20 > size || hhea + 8 > size) {
        return;
    }
    const double units = be16(file + head + 18);
    if (units > 0) {
        face.ascent = static_cast<std::int16_t>(be16(file + hhea + 4)) / units;
        face.descent = -static_cast<std::int16_t>(be16(file + hhea + 6)) / units;
    }
}

CarriedFace load(int resource) {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(resource), MAKEINTRESOURCEW(10));
    HGLOBAL handle = found != nullptr ? LoadResource(nullptr, found) : nullptr;
    void* data = handle != nullptr ? LockResource(handle) : nullptr;
    const DWORD size = found != nullptr ? SizeofResource(nullptr, found) : 0;
    DWORD faces = 0;
    if (data == nullptr || AddFontMemResourceEx(data, size, nullptr, &faces) == nullptr) {
        return {};
    }
    const auto* file = static_cast<const unsigned char*>(data);
    CarriedFace face{familyInFile(file, size), weightInFile(file, size)};
    metricsInFile(file, size, face);
    return face;
}

}  // namespace

const CarriedFace& carried(Face face) {
    static const std::array<CarriedFace, 3> faces{load(IDR_FONT_HEAVY), load(IDR_FONT_MONO),
                                                  load(IDR_FONT_SCRIPT)};
    return faces[static_cast<std::size_t>(face)];
}

}  // namespace sormio
