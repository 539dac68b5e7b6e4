#include <algorithm>
#include <cmath>

#include "fonts.h"
#include "win32_window.h"

namespace sormio {

namespace {

COLORREF colorRef(Rgb c) {
    return RGB(c.r, c.g, c.b);
}

void fill(HDC dc, const RECT& r, Rgb colour) {
    SetBkColor(dc, colorRef(colour));
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

}  // namespace

void Win32Window::paintWindow() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd_, &ps);
    // Drawn off screen and shown at once: no label is seen half drawn.
    const RECT& area = ps.rcPaint;
    HDC buffer = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, area.right - area.left, area.bottom - area.top);
    HGDIOBJ previous = SelectObject(buffer, bitmap);
    SetViewportOrgEx(buffer, -area.left, -area.top, nullptr);
    const WindowDescription& description = windowDescription();
    fill(buffer, area, description.background);
    for (const std::size_t i : description.drawOrder()) {
        const RECT r = scaledRect(description.controls[i].geometry);
        if (RectVisible(dc, &r)) {  // else outside what needs painting: a turn repaints two tiles
            paintLabel(buffer, i, area);
        }
    }
    BitBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top, buffer,
           area.left, area.top, SRCCOPY);
    SelectObject(buffer, previous);
    DeleteObject(bitmap);
    DeleteDC(buffer);
    EndPaint(hwnd_, &ps);
}

void Win32Window::paintLabel(HDC dc, std::size_t i, const RECT& area) {
    const Label& label = labels_[i];
    const RECT r = scaledRect(windowDescription().controls[i].geometry);
    RECT overlap;
    if (!label.visible || !IntersectRect(&overlap, &r, &area)) {
        return;
    }
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
    SetViewportOrgEx(dc, r.left - area.left, r.top - area.top, nullptr);
    drawLabel(dc, i, RECT{0, 0, r.right - r.left, r.bottom - r.top});
    RestoreDC(dc, saved);
}

void Win32Window::drawLabel(HDC dc, std::size_t i, const RECT& all) {
    const WindowDescription& description = windowDescription();
    const Control& c = description.controls[i];
    const Label& label = labels_[i];
    fill(dc, all, label.background);
    if (c.border) {
        // Lines on whole device pixels, one scale unit thick, where the neighbours' lie too.
        const int line = std::max(1, static_cast<int>(dpi_ / 96));
        const int x0 = scaled(c.geometry.left), y0 = scaled(c.geometry.top);
        const int left = 0, top = 0;
        const int right = scaled(c.geometry.left + c.geometry.width - 1) - x0;
        const int bottom = scaled(c.geometry.top + c.geometry.height - 1) - y0;
        for (const RECT& edge : {RECT{left, top, right + line, top + line},
                                 RECT{left, bottom, right + line, bottom + line},
                                 RECT{left, top, left + line, bottom + line},
                                 RECT{right, top, right + line, bottom + line}}) {
            fill(dc, edge, description.tileBorder);
        }
    }
    HGDIOBJ old = SelectObject(dc, fonts_[i]);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colorRef(c.text));
    // Centred across on the text's width, and down on the face's own ascent and descent.
    const CarriedFace& face = carried(c.font->face);
    const double pixels = c.font->pixels() * dpi_ / 96.0;
    SIZE extent{};
    GetTextExtentPoint32W(dc, label.text.c_str(), static_cast<int>(label.text.size()), &extent);
    const auto x = static_cast<int>(std::lround((all.right - all.left - extent.cx) / 2.0));
    const auto baseline = static_cast<int>(std::lround(
        (all.bottom - all.top - (face.ascent + face.descent) * pixels) / 2 + face.ascent * pixels));
    SetTextAlign(dc, TA_BASELINE | TA_LEFT | TA_NOUPDATECP);
    TextOutW(dc, all.left + x, all.top + baseline, label.text.c_str(),
             static_cast<int>(label.text.size()));
    SelectObject(dc, old);
}

void Win32Window::paintBar(HWND bar) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(bar, &ps);
    fill(dc, ps.rcPaint, windowDescription().barColour);
    EndPaint(bar, &ps);
}

}  // namespace sormio
