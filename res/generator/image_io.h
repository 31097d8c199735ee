// Encoders and header checks for the skin's file formats: 24-bit BMP,
// BMP-in-ICO (32-bit BGRA + AND mask) and PNG. Encoders return the exact
// bytes so that callers can write them or compare them with files on disk.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>
#include <vector>

namespace skin {

using Bytes = std::vector<std::uint8_t>;

// Uncompressed BI_RGB, 24 bits per pixel, bottom-up rows padded to 4 bytes.
// Pixels that are not opaque come out composited over black.
Bytes encode_bmp24(cairo_surface_t* image);

// One ICO file holding every image (each square, at most 256 px) as a
// 32-bit BGRA bitmap with straight alpha plus a 1-bit AND mask.
Bytes encode_ico(const std::vector<cairo_surface_t*>& images);

// 8-bit RGBA PNG, written by cairo (no time stamp chunk).
Bytes encode_png(cairo_surface_t* image);

Bytes read_file(const std::string& path, bool* ok);
bool write_file(const std::string& path, const Bytes& bytes);

// Each check returns an empty string when the file is well formed and has the
// given size, or else a one-line description of the first problem found.
std::string check_bmp24(const std::string& path, int width, int height);
std::string check_ico(const std::string& path, const std::vector<int>& sizes);
std::string check_png(const std::string& path, int width, int height);

}  // namespace skin
