// Draws the setup launcher's pictures at build time: the background, the five
// picture buttons in their idle, hover and pressed looks, the program icon and
// the pointer cursor, written as 24-bit BMP, ICO and CUR files that the
// launcher's resource script names. Built and run on the build machine (also
// in a cross build); text is rendered with FreeType from the DejaVu fonts.
//
//   picture_gen OUTPUT_DIR FONT_DIR
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Rgb {
    float r, g, b;
};

constexpr Rgb Hex(uint32_t rgb) {
    return {float((rgb >> 16) & 0xFF) / 255.0f, float((rgb >> 8) & 0xFF) / 255.0f,
            float(rgb & 0xFF) / 255.0f};
}

Rgb Mix(Rgb a, Rgb b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// A straight-alpha RGBA canvas; every shape is painted with 4x4 supersampled
// coverage so edges are smooth.
class Canvas {
public:
    Canvas(int w, int h, Rgb fill, float alpha = 1.0f)
        : width(w), height(h), px(size_t(w * h), {fill, alpha}) {}

    struct Px {
        Rgb c;
        float a;
    };
    int width, height;
    std::vector<Px> px;

    void Blend(int x, int y, Rgb c, float a) {
        if (x < 0 || y < 0 || x >= width || y >= height || a <= 0.0f) return;
        Px& p = px[size_t(y * width + x)];
        float outA = a + p.a * (1.0f - a);
        if (outA <= 0.0f) return;
        auto ch = [&](float src, float dst) { return (src * a + dst * p.a * (1.0f - a)) / outA; };
        p.c = {ch(c.r, p.c.r), ch(c.g, p.c.g), ch(c.b, p.c.b)};
        p.a = outA;
    }

    // Paints the points of `inside` within the box, coloured by `colour`.
    void Paint(float x0, float y0, float x1, float y1, const std::function<bool(float, float)>& inside,
               const std::function<Rgb(float, float)>& colour, float opacity = 1.0f) {
        int ix0 = std::max(0, int(std::floor(x0))), iy0 = std::max(0, int(std::floor(y0)));
        int ix1 = std::min(width, int(std::ceil(x1))), iy1 = std::min(height, int(std::ceil(y1)));
        for (int y = iy0; y < iy1; ++y)
            for (int x = ix0; x < ix1; ++x) {
                int hits = 0;
                for (int j = 0; j < 4; ++j)
                    for (int i = 0; i < 4; ++i)
                        if (inside(float(x) + (float(i) + 0.5f) / 4.0f, float(y) + (float(j) + 0.5f) / 4.0f))
                            ++hits;
                if (hits)
                    Blend(x, y, colour(float(x) + 0.5f, float(y) + 0.5f), opacity * float(hits) / 16.0f);
            }
    }

    void RoundRect(float x0, float y0, float x1, float y1, float r,
                   const std::function<Rgb(float, float)>& colour, float opacity = 1.0f) {
        Paint(
            x0, y0, x1, y1, [=](float x, float y) { return InRoundRect(x, y, x0, y0, x1, y1, r); }, colour,
            opacity);
    }
    void RoundRect(float x0, float y0, float x1, float y1, float r, Rgb c, float opacity = 1.0f) {
        RoundRect(
            x0, y0, x1, y1, r, [=](float, float) { return c; }, opacity);
    }
    // A ring of the given width along the inside of a rounded rectangle.
    void RoundFrame(float x0, float y0, float x1, float y1, float r, float w, Rgb c, float opacity = 1.0f) {
        Paint(
            x0, y0, x1, y1,
            [=](float x, float y) {
                return InRoundRect(x, y, x0, y0, x1, y1, r) &&
                       !InRoundRect(x, y, x0 + w, y0 + w, x1 - w, y1 - w, std::max(0.0f, r - w));
            },
            [=](float, float) { return c; }, opacity);
    }
    void Line(float ax, float ay, float bx, float by, float w, Rgb c, float opacity = 1.0f) {
        float h = w / 2 + 1;
        Paint(
            std::min(ax, bx) - h, std::min(ay, by) - h, std::max(ax, bx) + h, std::max(ay, by) + h,
            [=](float x, float y) { return SegmentDistance(x, y, ax, ay, bx, by) <= w / 2; },
            [=](float, float) { return c; }, opacity);
    }
    void Circle(float cx, float cy, float r, Rgb c, float opacity = 1.0f) {
        Paint(
            cx - r, cy - r, cx + r, cy + r,
            [=](float x, float y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; },
            [=](float, float) { return c; }, opacity);
    }
    void Polygon(const std::vector<std::pair<float, float>>& pts, Rgb c, float opacity = 1.0f) {
        float x0 = 1e9f, y0 = 1e9f, x1 = -1e9f, y1 = -1e9f;
        for (auto [x, y] : pts) {
            x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
        }
        Paint(
            x0, y0, x1 + 1, y1 + 1,
            [&](float x, float y) {
                bool in = false;
                for (size_t i = 0, j = pts.size() - 1; i < pts.size(); j = i++) {
                    auto [xi, yi] = pts[i];
                    auto [xj, yj] = pts[j];
                    if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) in = !in;
                }
                return in;
            },
            [=](float, float) { return c; }, opacity);
    }

    static bool InRoundRect(float x, float y, float x0, float y0, float x1, float y1, float r) {
        if (x < x0 || x > x1 || y < y0 || y > y1) return false;
        float dx = std::max({x0 + r - x, 0.0f, x - (x1 - r)});
        float dy = std::max({y0 + r - y, 0.0f, y - (y1 - r)});
        return dx * dx + dy * dy <= r * r;
    }
    static float SegmentDistance(float x, float y, float ax, float ay, float bx, float by) {
        float vx = bx - ax, vy = by - ay, len2 = vx * vx + vy * vy;
        float t = len2 > 0 ? std::clamp(((x - ax) * vx + (y - ay) * vy) / len2, 0.0f, 1.0f) : 0.0f;
        float dx = x - (ax + t * vx), dy = y - (ay + t * vy);
        return std::sqrt(dx * dx + dy * dy);
    }
};

class Font {
public:
    Font(FT_Library lib, const std::string& file) {
        if (FT_New_Face(lib, file.c_str(), 0, &face_)) throw std::runtime_error("cannot open font " + file);
    }
    ~Font() { FT_Done_Face(face_); }
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    float Width(const std::string& text, int size) {
        FT_Set_Pixel_Sizes(face_, 0, FT_UInt(size));
        long w = 0;
        for (unsigned char ch : text) {
            if (FT_Load_Char(face_, ch, FT_LOAD_DEFAULT)) continue;
            w += face_->glyph->advance.x;
        }
        return float(w) / 64.0f;
    }

    // Draws text with its baseline at y.
    void Draw(Canvas& cv, float x, float y, const std::string& text, int size, Rgb c, float opacity = 1.0f) {
        FT_Set_Pixel_Sizes(face_, 0, FT_UInt(size));
        float pen = x;
        for (unsigned char ch : text) {
            if (FT_Load_Char(face_, ch, FT_LOAD_RENDER)) continue;
            FT_GlyphSlot g = face_->glyph;
            int left = int(std::lround(pen)) + g->bitmap_left, top = int(std::lround(y)) - g->bitmap_top;
            for (unsigned row = 0; row < g->bitmap.rows; ++row)
                for (unsigned col = 0; col < g->bitmap.width; ++col) {
                    float a = float(g->bitmap.buffer[row * unsigned(g->bitmap.pitch) + col]) / 255.0f;
                    cv.Blend(left + int(col), top + int(row), c, a * opacity);
                }
            pen += float(g->advance.x) / 64.0f;
        }
    }
    void DrawCentred(Canvas& cv, float cx, float y, const std::string& text, int size, Rgb c,
                     float opacity = 1.0f) {
        Draw(cv, cx - Width(text, size) / 2, y, text, size, c, opacity);
    }

private:
    FT_Face face_{};
};

// ---- file writers ----------------------------------------------------------

void Put16(std::vector<uint8_t>& b, unsigned v) { b.push_back(uint8_t(v)), b.push_back(uint8_t(v >> 8)); }
void Put32(std::vector<uint8_t>& b, uint32_t v) { Put16(b, v & 0xFFFF), Put16(b, v >> 16); }
uint8_t Byte(float v) { return uint8_t(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); }

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

// 24 bits per pixel, bottom-up rows padded to four bytes.
void WriteBmp(const std::string& path, const Canvas& cv) {
    uint32_t stride = (uint32_t(cv.width) * 3 + 3) & ~3u, size = stride * uint32_t(cv.height);
    std::vector<uint8_t> b;
    b.push_back('B'), b.push_back('M');
    Put32(b, 54 + size), Put32(b, 0), Put32(b, 54);
    Put32(b, 40), Put32(b, uint32_t(cv.width)), Put32(b, uint32_t(cv.height)), Put16(b, 1), Put16(b, 24);
    Put32(b, 0), Put32(b, size), Put32(b, 2835), Put32(b, 2835), Put32(b, 0), Put32(b, 0);
    for (int y = cv.height - 1; y >= 0; --y) {
        size_t start = b.size();
        for (int x = 0; x < cv.width; ++x) {
            const auto& p = cv.px[size_t(y * cv.width + x)];
            b.push_back(Byte(p.c.b)), b.push_back(Byte(p.c.g)), b.push_back(Byte(p.c.r));
        }
        while (b.size() - start < stride) b.push_back(0);
    }
    WriteFile(path, b);
}

// An icon or cursor file of 32-bit images with their AND masks. A cursor
// carries its hot spot where an icon carries planes and bit count.
void WriteIconFile(const std::string& path, const std::vector<const Canvas*>& images, bool cursor,
                   int hotX = 0, int hotY = 0) {
    std::vector<std::vector<uint8_t>> bodies;
    for (const Canvas* cv : images) {
        std::vector<uint8_t> d;
        uint32_t maskStride = ((uint32_t(cv->width) + 31) / 32) * 4;
        Put32(d, 40), Put32(d, uint32_t(cv->width)), Put32(d, uint32_t(cv->height * 2)), Put16(d, 1),
            Put16(d, 32);
        Put32(d, 0), Put32(d, uint32_t(cv->width * cv->height * 4) + maskStride * uint32_t(cv->height));
        Put32(d, 0), Put32(d, 0), Put32(d, 0), Put32(d, 0);
        for (int y = cv->height - 1; y >= 0; --y)
            for (int x = 0; x < cv->width; ++x) {
                const auto& p = cv->px[size_t(y * cv->width + x)];
                d.push_back(Byte(p.c.b)), d.push_back(Byte(p.c.g)), d.push_back(Byte(p.c.r)),
                    d.push_back(Byte(p.a));
            }
        for (int y = cv->height - 1; y >= 0; --y) {
            std::vector<uint8_t> row(maskStride, 0);
            for (int x = 0; x < cv->width; ++x)
                if (cv->px[size_t(y * cv->width + x)].a < 0.5f)
                    row[size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
            d.insert(d.end(), row.begin(), row.end());
        }
        bodies.push_back(std::move(d));
    }
    std::vector<uint8_t> b;
    Put16(b, 0), Put16(b, cursor ? 2 : 1), Put16(b, unsigned(images.size()));
    uint32_t offset = 6 + 16 * uint32_t(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        b.push_back(uint8_t(images[i]->width & 0xFF)), b.push_back(uint8_t(images[i]->height & 0xFF));
        b.push_back(0), b.push_back(0);
        if (cursor)
            Put16(b, unsigned(hotX)), Put16(b, unsigned(hotY));
        else
            Put16(b, 1), Put16(b, 32);
        Put32(b, uint32_t(bodies[i].size())), Put32(b, offset);
        offset += uint32_t(bodies[i].size());
    }
    for (auto& body : bodies) b.insert(b.end(), body.begin(), body.end());
    WriteFile(path, b);
}

// ---- the look --------------------------------------------------------------

// Colours of the launcher's skin.
const Rgb kNavyTop = Hex(0x0E1A2E), kNavyBottom = Hex(0x13284A), kBar = Hex(0x0A1322);
const Rgb kPanel = Hex(0x142540), kPanelEdge = Hex(0x2B4A75), kScreen = Hex(0x07101D);
const Rgb kAccent = Hex(0x2EC4F1), kText = Hex(0xEAF2FB), kSubtle = Hex(0x93B3D8), kGrid = Hex(0x16273F);
// The decoder's default display colours of the records drawn on the screen.
const Rgb kRead = Hex(0x3C7DFD), kCommand = Hex(0xEF7F9F), kData = Hex(0x33CC33);

struct Fonts {
    Font& sans;
    Font& bold;
    Font& mono;
};

// A CompactFlash card: the program's emblem, used in the icon, the title bar
// and the right-hand panel.
void DrawCard(Canvas& cv, float x, float y, float w, float h, bool detailed, Font* bold) {
    float r = w * 0.08f, notch = w * 0.14f;
    cv.Polygon({{x + notch, y}, {x + w, y}, {x + w, y + h}, {x, y + h}, {x, y + notch}}, Hex(0x1B1F27));
    cv.Polygon({{x + notch + 1, y + 1},
                {x + w - 1, y + 1},
                {x + w - 1, y + h * 0.12f},
                {x + 1, y + h * 0.12f},
                {x + 1, y + notch}},
               Hex(0x3A404C));
    (void)r;
    float lx0 = x + w * 0.1f, ly0 = y + h * 0.2f, lx1 = x + w * 0.9f, ly1 = y + h * 0.78f;
    cv.RoundRect(lx0, ly0, lx1, ly1, w * 0.05f, [=](float, float py) {
        return Mix(Hex(0x2EC4F1), Hex(0x1565C0), (py - ly0) / (ly1 - ly0));
    });
    // A strobe waveform across the label.
    float mid = detailed ? ly0 + (ly1 - ly0) * 0.68f : (ly0 + ly1) / 2;
    float amp = (ly1 - ly0) * (detailed ? 0.15f : 0.22f), step = (lx1 - lx0) / 6;
    float lw = std::max(1.2f, w * 0.035f);
    for (int i = 0; i < 6; ++i) {
        float xa = lx0 + step * float(i) + step * 0.1f, xb = xa + step;
        float yv = (i % 2) ? mid + amp : mid - amp;
        if (i == 5) xb = lx1 - step * 0.2f;
        cv.Line(xa, yv, std::min(xb, lx1 - step * 0.2f), yv, lw, kText);
        if (i < 5) cv.Line(xa + step, mid - amp, xa + step, mid + amp, lw, kText);
    }
    if (detailed && bold) {
        bold->DrawCentred(cv, (lx0 + lx1) / 2, ly0 + (ly1 - ly0) * 0.38f, "CF 4.1", int(h * 0.14f), kText);
    }
    // Contacts along the bottom edge.
    int pins = detailed ? 25 : 5;
    float pw = (w * 0.84f) / float(pins);
    for (int i = 0; i < pins; ++i) {
        float px = x + w * 0.08f + pw * float(i);
        cv.RoundRect(px + pw * 0.2f, y + h * 0.88f, px + pw * 0.8f, y + h * 0.97f, 0.5f, Hex(0xD4A838));
    }
}

Canvas Background(Fonts& f) {
    const int w = 640, h = 430;
    Canvas cv(w, h, kNavyTop);
    cv.Paint(
        0, 0, w, h, [](float, float) { return true; },
        [&](float, float y) { return Mix(kNavyTop, kNavyBottom, y / float(h)); });
    // Faint diagonal traces, like a board's copper, behind everything.
    for (int i = -8; i < 24; ++i) {
        float x = float(i) * 46.0f;
        cv.Line(x, 430, x + 260, 170, 1.0f, Hex(0x1D3658), 0.55f);
    }
    // Title bar.
    cv.Paint(
        0, 0, w, 54, [](float, float) { return true; }, [](float, float) { return kBar; });
    cv.Line(0, 54, w, 54, 1.5f, kAccent, 0.85f);
    DrawCard(cv, 16, 11, 26, 32, false, nullptr);
    f.bold.Draw(cv, 54, 35, "flashdecode", 22, kText);
    f.sans.Draw(cv, 54 + f.bold.Width("flashdecode", 22) + 10, 35, "Setup", 22, kSubtle);
    // The launcher writes its version line at (390, 70) on the right of this.
    f.sans.Draw(cv, 24, 78, "CompactFlash 4.1  \xB7  True IDE bus decoder", 13, kSubtle);

    // The analyzer screen on the left: strobes, data bus and decoded records.
    const float sx0 = 24, sy0 = 104, sx1 = 424, sy1 = 408;
    cv.RoundRect(sx0 - 1, sy0 - 1, sx1 + 1, sy1 + 1, 9, kPanelEdge);
    cv.RoundRect(sx0, sy0, sx1, sy1, 8, kScreen);
    for (float gx = sx0 + 90; gx < sx1 - 4; gx += 36) cv.Line(gx, sy0 + 8, gx, sy1 - 8, 1.0f, kGrid);
    const char* names[] = {"DMARQ", "DMACK-", "CS0-", "A[2:0]", "IOWR-", "IORD-", "IORDY", "D[15:0]"};
    const float t0 = sx0 + 86, t1 = sx1 - 14;
    auto rowY = [&](int i) { return sy0 + 30 + float(i) * 27; };
    for (int i = 0; i < 8; ++i) f.mono.Draw(cv, sx0 + 12, rowY(i) + 4, names[i], 11, kSubtle);
    // Levels per row as toggle points (fractions of the trace width), starting high.
    struct Trace {
        std::vector<float> toggles;
        bool startHigh;
    };
    const Trace traces[] = {
        {{0.62f, 0.96f}, false},  // DMARQ
        {{0.66f, 0.98f}, true},   // DMACK-
        {{0.05f, 0.58f}, true},   // CS0-
        {},
        {{0.10f, 0.22f, 0.36f, 0.48f}, true},  // IOWR-: two register writes
        {{0.72f, 0.78f, 0.84f, 0.90f}, true},  // IORD-: DMA reads
        {{0.04f, 0.08f}, true},                // IORDY
    };
    Rgb traceColour = Hex(0x6FE3A8);
    for (int i = 0; i < 7; ++i) {
        if (i == 3) continue;
        const Trace& tr = traces[i];
        float hi = rowY(i) - 7, lo = rowY(i) + 5;
        bool high = tr.startHigh;
        float x = t0;
        std::vector<float> pts = tr.toggles;
        pts.push_back(1.0f);
        for (float p : pts) {
            float xe = t0 + (t1 - t0) * p;
            cv.Line(x, high ? hi : lo, xe, high ? hi : lo, 1.6f, traceColour);
            if (p < 1.0f) cv.Line(xe, hi, xe, lo, 1.6f, traceColour);
            high = !high;
            x = xe;
        }
    }
    // Buses as value bubbles.
    auto bubble = [&](int row, float a, float b, const std::string& text) {
        float yc = rowY(row) - 1, x0 = t0 + (t1 - t0) * a, x1 = t0 + (t1 - t0) * b;
        cv.Polygon(
            {{x0, yc}, {x0 + 5, yc - 6}, {x1 - 5, yc - 6}, {x1, yc}, {x1 - 5, yc + 6}, {x0 + 5, yc + 6}},
            Hex(0x6FE3A8), 0.25f);
        cv.Line(x0, yc, x0 + 5, yc - 6, 1.3f, traceColour),
            cv.Line(x0 + 5, yc - 6, x1 - 5, yc - 6, 1.3f, traceColour);
        cv.Line(x1 - 5, yc - 6, x1, yc, 1.3f, traceColour),
            cv.Line(x0, yc, x0 + 5, yc + 6, 1.3f, traceColour);
        cv.Line(x0 + 5, yc + 6, x1 - 5, yc + 6, 1.3f, traceColour),
            cv.Line(x1 - 5, yc + 6, x1, yc, 1.3f, traceColour);
        f.mono.DrawCentred(cv, (x0 + x1) / 2, yc + 4, text, 10, kText);
    };
    bubble(3, 0.06f, 0.27f, "2"), bubble(3, 0.30f, 0.52f, "7");
    bubble(7, 0.07f, 0.27f, "0008"), bubble(7, 0.31f, 0.51f, "00C8");
    bubble(7, 0.70f, 0.80f, "A55A"), bubble(7, 0.82f, 0.92f, "1F00");
    // Decoded records, in the decoder's own colours.
    auto record = [&](float a, Rgb c, const std::string& text) {
        float y0 = sy1 - 50, x0 = t0 + (t1 - t0) * a, x1 = x0 + f.bold.Width(text, 10) + 14;
        cv.RoundRect(x0, y0, x1, y0 + 20, 4, c, 0.9f);
        f.bold.DrawCentred(cv, (x0 + x1) / 2, y0 + 14, text, 10, Hex(0xFFFFFF));
    };
    f.mono.Draw(cv, sx0 + 12, sy1 - 36, "decoded", 11, kAccent);
    record(0.02f, kRead, "SECTORS 08");
    record(0.31f, kCommand, "COMMAND C8");
    record(0.64f, kData, "DATA A55A 1F00");

    // The right-hand panel with the card and the three buttons.
    const float px0 = 444, py0 = 104, px1 = 616, py1 = 408;
    cv.RoundRect(px0 - 1, py0 - 1, px1 + 1, py1 + 1, 9, kPanelEdge);
    cv.RoundRect(px0, py0, px1, py1, 8, kPanel);
    DrawCard(cv, 478, 120, 104, 120, true, &f.bold);
    return cv;
}

enum class Look { Idle, Hover, Pressed };

struct ButtonSkin {
    Rgb top, bottom, edge, text;
    float shift;  // the face moves down while pressed
};

ButtonSkin Skin(Look look) {
    switch (look) {
        case Look::Hover:
            return {Hex(0x3FD0FF), Hex(0x0F83C4), Hex(0xB9EEFF), Hex(0xFFFFFF), 0};
        case Look::Pressed:
            return {Hex(0x0A5C8E), Hex(0x0B3E66), Hex(0x2EC4F1), Hex(0xD6ECFA), 1.5f};
        default:
            return {Hex(0x2F5A93), Hex(0x1B365E), Hex(0x4C7DBD), Hex(0xEAF2FB), 0};
    }
}

using GlyphFn = std::function<void(Canvas&, float cx, float cy, Rgb)>;

// The three large buttons (129 by 46): a rounded face on the panel colour,
// a glyph and a label. The visible button is about 124 by 40.
Canvas WideButton(Fonts& f, Look look, const std::string& label, const GlyphFn& glyph) {
    Canvas cv(129, 46, kPanel);
    ButtonSkin s = Skin(look);
    const float x0 = 3, y0 = 3, x1 = 121, y1 = 38;
    if (look == Look::Hover) cv.RoundRect(x0 - 2.5f, y0 - 2.5f, x1 + 2.5f, y1 + 2.5f, 10, kAccent, 0.35f);
    if (look != Look::Pressed) cv.RoundRect(x0 + 1, y0 + 2, x1 + 1, y1 + 2, 8, Hex(0x050B14), 0.6f);
    float d = s.shift;
    cv.RoundRect(x0, y0 + d, x1, y1 + d, 8, s.edge);
    cv.RoundRect(x0 + 1, y0 + 1 + d, x1 - 1, y1 - 1 + d, 7,
                 [&](float, float y) { return Mix(s.top, s.bottom, (y - y0 - d) / (y1 - y0)); });
    if (look == Look::Pressed)  // an inner shadow under the top edge
        cv.RoundRect(x0 + 1, y0 + 1 + d, x1 - 1, y0 + 6 + d, 6, Hex(0x02070D), 0.35f);
    else  // a gloss on the upper half
        cv.RoundRect(x0 + 2, y0 + 2, x1 - 2, (y0 + y1) / 2, 6, Hex(0xFFFFFF), 0.12f);
    glyph(cv, x0 + 21, (y0 + y1) / 2 + d, s.text);
    f.bold.Draw(cv, x0 + 40, (y0 + y1) / 2 + 6 + d, label, 16, s.text);
    return cv;
}

// The two small corner buttons (32 by 32) on the title bar.
Canvas CornerButton(Look look, bool close) {
    Canvas cv(32, 32, kBar);
    Rgb face = look == Look::Idle ? Hex(0x1C2C45)
               : close            ? (look == Look::Hover ? Hex(0xE5484D) : Hex(0xA8262B))
                                  : (look == Look::Hover ? Hex(0x2F6FB0) : Hex(0x1B4A7C));
    Rgb edge = look == Look::Idle ? Hex(0x34507A) : look == Look::Hover ? Hex(0xFFFFFF) : kAccent;
    float d = look == Look::Pressed ? 1.0f : 0.0f;
    cv.RoundRect(3, 3 + d, 29, 29 + d, 6, edge);
    cv.RoundRect(4, 4 + d, 28, 28 + d, 5, face);
    Rgb mark = look == Look::Idle ? kSubtle : Hex(0xFFFFFF);
    if (close) {
        cv.Line(11, 11 + d, 21, 21 + d, 2.4f, mark);
        cv.Line(21, 11 + d, 11, 21 + d, 2.4f, mark);
    } else {
        cv.Line(10.5f, 20 + d, 21.5f, 20 + d, 2.6f, mark);
    }
    return cv;
}

void InstallGlyph(Canvas& cv, float cx, float cy, Rgb c) {
    cv.Line(cx, cy - 9, cx, cy + 3, 2.6f, c);
    cv.Polygon({{cx - 6, cy - 1}, {cx + 6, cy - 1}, {cx, cy + 6}}, c);
    cv.Line(cx - 9, cy + 4, cx - 9, cy + 9, 2.2f, c), cv.Line(cx + 9, cy + 4, cx + 9, cy + 9, 2.2f, c);
    cv.Line(cx - 9, cy + 9, cx + 9, cy + 9, 2.2f, c);
}
void HelpGlyph(Font& bold, Canvas& cv, float cx, float cy, Rgb c) {
    cv.Paint(
        cx - 11, cy - 11, cx + 11, cy + 11,
        [=](float x, float y) {
            float r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            return r2 <= 10.0f * 10.0f && r2 >= 8.0f * 8.0f;
        },
        [=](float, float) { return c; });
    bold.DrawCentred(cv, cx, cy + 5.5f, "?", 15, c);
}
void ExitGlyph(Canvas& cv, float cx, float cy, Rgb c) {
    // A power symbol: an open ring and a bar.
    cv.Paint(
        cx - 11, cy - 11, cx + 11, cy + 11,
        [=](float x, float y) {
            float r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            bool ring = r2 <= 9.5f * 9.5f && r2 >= 7.2f * 7.2f;
            bool gap = y < cy && std::fabs(x - cx) < 4.5f;
            return ring && !gap;
        },
        [=](float, float) { return c; });
    cv.Line(cx, cy - 10, cx, cy - 1, 2.4f, c);
}

Canvas Icon(int size) {
    Canvas cv(size, size, Hex(0), 0.0f);
    float s = float(size);
    DrawCard(cv, s * 0.12f, s * 0.03f, s * 0.76f, s * 0.94f, false, nullptr);
    return cv;
}

// A pointing arrow in the skin's accent colour, hot spot at its tip.
Canvas Cursor() {
    Canvas cv(32, 32, Hex(0), 0.0f);
    std::vector<std::pair<float, float>> outer = {{1, 1},   {1, 23},     {6.5f, 18},    {10.5f, 27},
                                                  {15, 25}, {11, 16.5f}, {18.5f, 16.5f}};
    std::vector<std::pair<float, float>> inner = {{2.6f, 4.6f},   {2.6f, 19.6f},  {7.0f, 15.6f},
                                                  {11.3f, 24.6f}, {12.9f, 23.9f}, {8.7f, 15.0f},
                                                  {14.8f, 15.0f}};
    cv.Polygon(outer, Hex(0x0A1322));
    cv.Polygon(inner, Hex(0x2EC4F1));
    return cv;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR FONT_DIR\n", argv[0]);
        return 2;
    }
    std::string out = argv[1], fonts = argv[2];
    try {
        FT_Library lib;
        if (FT_Init_FreeType(&lib)) throw std::runtime_error("cannot start FreeType");
        {
            Font sans(lib, fonts + "/DejaVuSans.ttf"), bold(lib, fonts + "/DejaVuSans-Bold.ttf"),
                mono(lib, fonts + "/DejaVuSansMono.ttf");
            Fonts f{sans, bold, mono};
            WriteBmp(out + "/background.bmp", Background(f));
            const Look looks[] = {Look::Idle, Look::Hover, Look::Pressed};
            const char* suffix[] = {"idle", "hover", "pressed"};
            for (int i = 0; i < 3; ++i) {
                WriteBmp(out + "/install_" + suffix[i] + ".bmp",
                         WideButton(f, looks[i], "Install", InstallGlyph));
                WriteBmp(out + "/help_" + suffix[i] + ".bmp",
                         WideButton(f, looks[i], "Help", [&](Canvas& cv, float x, float y, Rgb c) {
                             HelpGlyph(bold, cv, x, y, c);
                         }));
                WriteBmp(out + "/exit_" + suffix[i] + ".bmp", WideButton(f, looks[i], "Exit", ExitGlyph));
                WriteBmp(out + "/minimise_" + suffix[i] + ".bmp", CornerButton(looks[i], false));
                WriteBmp(out + "/close_" + suffix[i] + ".bmp", CornerButton(looks[i], true));
            }
            Canvas i48 = Icon(48), i32 = Icon(32), i16 = Icon(16);
            WriteIconFile(out + "/launcher.ico", {&i48, &i32, &i16}, false);
            Canvas cur = Cursor();
            WriteIconFile(out + "/pointer.cur", {&cur}, true, 1, 1);
        }
        FT_Done_FreeType(lib);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "picture_gen: %s\n", e.what());
        return 1;
    }
    return 0;
}
