// A minimal GIF89a writer: 128-colour global palette, one full-size frame,
// LZW data made of literal codes only (a clear code every few pixels keeps
// the code width at 8 bits, so the data is simply one byte per code).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kivo::server {

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
};

class GifImage {
public:
    static constexpr int kPaletteSize = 128;
    using Palette = std::array<Rgb, kPaletteSize>;

    // pixels: width * height palette indices (< kPaletteSize), row by row.
    GifImage(int width, int height, const Palette& palette, std::vector<std::uint8_t> pixels);

    std::string Encode() const;

    // The 156 x 135 dark background behind every list page.
    static GifImage ListBackground();

private:
    int width_;
    int height_;
    Palette palette_;
    std::vector<std::uint8_t> pixels_;
};

}  // namespace kivo::server
