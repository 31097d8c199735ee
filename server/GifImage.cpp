#include "GifImage.h"

#include <algorithm>
#include <stdexcept>

namespace kivo::server {
namespace {

constexpr int kMinCodeSize = 7;  // log2(kPaletteSize)
constexpr std::uint8_t kClearCode = 1u << kMinCodeSize;
constexpr std::uint8_t kEndCode = kClearCode + 1;
// After a clear code the decoder adds one table entry per further code and
// widens codes once the table reaches 256 entries; restarting well before
// that (130 + 120 < 256) keeps every code 8 bits wide.
constexpr std::size_t kLiteralsPerClear = 120;

void PutLe16(std::string& out, int value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

std::uint8_t Mix(int from, int to, int step, int steps) {
    return static_cast<std::uint8_t>(from + (to - from) * step / steps);
}

}  // namespace

GifImage::GifImage(int width, int height, const Palette& palette, std::vector<std::uint8_t> pixels)
    : width_(width), height_(height), palette_(palette), pixels_(std::move(pixels)) {
    if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF) {
        throw std::invalid_argument("GIF size out of range");
    }
    if (pixels_.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
        throw std::invalid_argument("GIF pixel count does not match its size");
    }
    for (const std::uint8_t p : pixels_) {
        if (p >= kPaletteSize) throw std::invalid_argument("GIF pixel outside the palette");
    }
}

std::string GifImage::Encode() const {
    std::string out = "GIF89a";
    // Logical screen descriptor: global table present, 8 bits per primary,
    // table size 2^(6+1) = 128 entries.
    PutLe16(out, width_);
    PutLe16(out, height_);
    out.push_back(static_cast<char>(0x80 | (7 << 4) | (kMinCodeSize - 1)));
    out.push_back(0);  // background colour index
    out.push_back(0);  // pixel aspect ratio: unspecified
    for (const Rgb& c : palette_) {
        out.push_back(static_cast<char>(c.r));
        out.push_back(static_cast<char>(c.g));
        out.push_back(static_cast<char>(c.b));
    }

    // Image descriptor: full frame, no local table, not interlaced.
    out.push_back(0x2C);
    PutLe16(out, 0);
    PutLe16(out, 0);
    PutLe16(out, width_);
    PutLe16(out, height_);
    out.push_back(0);

    std::string codes;
    codes.reserve(pixels_.size() + pixels_.size() / kLiteralsPerClear + 2);
    for (std::size_t i = 0; i < pixels_.size(); ++i) {
        if (i % kLiteralsPerClear == 0) codes.push_back(static_cast<char>(kClearCode));
        codes.push_back(static_cast<char>(pixels_[i]));
    }
    codes.push_back(static_cast<char>(kEndCode));

    out.push_back(static_cast<char>(kMinCodeSize));
    for (std::size_t pos = 0; pos < codes.size(); pos += 255) {
        const std::size_t n = std::min<std::size_t>(255, codes.size() - pos);
        out.push_back(static_cast<char>(n));
        out.append(codes, pos, n);
    }
    out.push_back(0);     // end of image data
    out.push_back(0x3B);  // trailer
    return out;
}

GifImage GifImage::ListBackground() {
    constexpr int kWidth = 156;
    constexpr int kHeight = 135;

    // Slate grey at the top fading to near black at the bottom.
    Palette palette{};
    constexpr int kTop[3] = {0x2E, 0x33, 0x3A};
    constexpr int kBottom[3] = {0x0C, 0x0E, 0x11};
    for (int i = 0; i < kPaletteSize; ++i) {
        palette[static_cast<std::size_t>(i)] =
            Rgb{Mix(kTop[0], kBottom[0], i, kPaletteSize - 1), Mix(kTop[1], kBottom[1], i, kPaletteSize - 1),
                Mix(kTop[2], kBottom[2], i, kPaletteSize - 1)};
    }

    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            // An ordered two-pixel dither between neighbouring shades keeps
            // the fade free of visible bands.
            const int scaled = y * (kPaletteSize - 1) * 2 / (kHeight - 1);
            int index = scaled / 2;
            if ((scaled & 1) != 0 && ((x + y) & 1) != 0 && index + 1 < kPaletteSize) ++index;
            pixels[static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x)] =
                static_cast<std::uint8_t>(index);
        }
    }
    return GifImage(kWidth, kHeight, palette, std::move(pixels));
}

}  // namespace kivo::server
