#include "image_io.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace skin {
namespace {

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::int32_t kPixelsPerMetre = 2835;  // 72 dpi

void put16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void put32(Bytes& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

std::uint32_t get16(const Bytes& in, std::size_t at) {
    return static_cast<std::uint32_t>(in[at]) | (static_cast<std::uint32_t>(in[at + 1]) << 8);
}

std::uint32_t get32(const Bytes& in, std::size_t at) { return get16(in, at) | (get16(in, at + 2) << 16); }

std::uint32_t get32be(const Bytes& in, std::size_t at) {
    return (static_cast<std::uint32_t>(in[at]) << 24) | (static_cast<std::uint32_t>(in[at + 1]) << 16) |
           (static_cast<std::uint32_t>(in[at + 2]) << 8) | static_cast<std::uint32_t>(in[at + 3]);
}

struct Pixel {
    std::uint8_t r, g, b, a;  // premultiplied, as cairo keeps them
};

Pixel pixel_at(cairo_surface_t* image, int x, int y) {
    const unsigned char* data = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
    const std::uint32_t p = row[x];
    const bool has_alpha = cairo_image_surface_get_format(image) == CAIRO_FORMAT_ARGB32;
    return {static_cast<std::uint8_t>((p >> 16) & 0xFF), static_cast<std::uint8_t>((p >> 8) & 0xFF),
            static_cast<std::uint8_t>(p & 0xFF), has_alpha ? static_cast<std::uint8_t>(p >> 24) : std::uint8_t{255}};
}

std::uint8_t unpremultiply(std::uint8_t c, std::uint8_t a) {
    if (a == 0) return 0;
    return static_cast<std::uint8_t>((c * 255u + a / 2u) / a);
}

std::uint32_t bmp_row_bytes(int width, int bits) {
    return ((static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(bits) + 31u) / 32u) * 4u;
}

void put_info_header(Bytes& out, int width, int height, int bits, std::uint32_t image_bytes, bool with_density) {
    put32(out, kInfoHeaderSize);
    put32(out, static_cast<std::uint32_t>(width));
    put32(out, static_cast<std::uint32_t>(height));
    put16(out, 1);  // planes
    put16(out, static_cast<std::uint32_t>(bits));
    put32(out, kBiRgb);
    put32(out, image_bytes);
    put32(out, with_density ? static_cast<std::uint32_t>(kPixelsPerMetre) : 0u);
    put32(out, with_density ? static_cast<std::uint32_t>(kPixelsPerMetre) : 0u);
    put32(out, 0);  // colours used
    put32(out, 0);  // important colours
}

cairo_status_t append_to_bytes(void* closure, const unsigned char* data, unsigned int length) {
    auto* out = static_cast<Bytes*>(closure);
    out->insert(out->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

std::string describe(const std::string& path, const std::string& what) { return path + ": " + what; }

}  // namespace

Bytes encode_bmp24(cairo_surface_t* image) {
    cairo_surface_flush(image);
    const int w = cairo_image_surface_get_width(image);
    const int h = cairo_image_surface_get_height(image);
    const std::uint32_t row_bytes = bmp_row_bytes(w, 24);
    const std::uint32_t image_bytes = row_bytes * static_cast<std::uint32_t>(h);
    const std::uint32_t offset = kFileHeaderSize + kInfoHeaderSize;

    Bytes out;
    out.reserve(offset + image_bytes);
    out.push_back('B');
    out.push_back('M');
    put32(out, offset + image_bytes);
    put32(out, 0);  // reserved
    put32(out, offset);
    put_info_header(out, w, h, 24, image_bytes, true);
    for (int y = h - 1; y >= 0; --y) {
        const std::size_t row_start = out.size();
        for (int x = 0; x < w; ++x) {
            const Pixel p = pixel_at(image, x, y);
            out.push_back(p.b);
            out.push_back(p.g);
            out.push_back(p.r);
        }
        out.resize(row_start + row_bytes, 0);
    }
    return out;
}

Bytes encode_ico(const std::vector<cairo_surface_t*>& images) {
    std::vector<Bytes> bodies;
    for (cairo_surface_t* image : images) {
        cairo_surface_flush(image);
        const int w = cairo_image_surface_get_width(image);
        const int h = cairo_image_surface_get_height(image);
        const std::uint32_t xor_bytes = bmp_row_bytes(w, 32) * static_cast<std::uint32_t>(h);
        const std::uint32_t and_row = bmp_row_bytes(w, 1);
        const std::uint32_t and_bytes = and_row * static_cast<std::uint32_t>(h);

        Bytes body;
        put_info_header(body, w, h * 2, 32, xor_bytes + and_bytes, false);
        for (int y = h - 1; y >= 0; --y) {
            for (int x = 0; x < w; ++x) {
                const Pixel p = pixel_at(image, x, y);
                body.push_back(unpremultiply(p.b, p.a));
                body.push_back(unpremultiply(p.g, p.a));
                body.push_back(unpremultiply(p.r, p.a));
                body.push_back(p.a);
            }
        }
        // AND mask: a set bit marks a transparent pixel for readers that ignore alpha.
        for (int y = h - 1; y >= 0; --y) {
            Bytes row(and_row, 0);
            for (int x = 0; x < w; ++x) {
                if (pixel_at(image, x, y).a < 128)
                    row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
            }
            body.insert(body.end(), row.begin(), row.end());
        }
        bodies.push_back(std::move(body));
    }

    Bytes out;
    put16(out, 0);  // reserved
    put16(out, 1);  // type: icon
    put16(out, static_cast<std::uint32_t>(images.size()));
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        const int w = cairo_image_surface_get_width(images[i]);
        const int h = cairo_image_surface_get_height(images[i]);
        out.push_back(static_cast<std::uint8_t>(w >= 256 ? 0 : w));
        out.push_back(static_cast<std::uint8_t>(h >= 256 ? 0 : h));
        out.push_back(0);  // palette colours
        out.push_back(0);  // reserved
        put16(out, 1);     // planes
        put16(out, 32);    // bits per pixel
        put32(out, static_cast<std::uint32_t>(bodies[i].size()));
        put32(out, offset);
        offset += static_cast<std::uint32_t>(bodies[i].size());
    }
    for (const Bytes& body : bodies) out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes encode_png(cairo_surface_t* image) {
    Bytes out;
    cairo_surface_write_to_png_stream(image, append_to_bytes, &out);
    return out;
}

Bytes read_file(const std::string& path, bool* ok) {
    std::ifstream in(path, std::ios::binary);
    *ok = static_cast<bool>(in);
    if (!in) return {};
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool write_file(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string check_bmp24(const std::string& path, int width, int height) {
    bool ok = false;
    const Bytes f = read_file(path, &ok);
    if (!ok) return describe(path, "cannot be read");
    const std::uint32_t offset = kFileHeaderSize + kInfoHeaderSize;
    if (f.size() < offset) return describe(path, "shorter than the BMP headers");
    if (f[0] != 'B' || f[1] != 'M') return describe(path, "does not start with BM");
    if (get32(f, 2) != f.size()) return describe(path, "bfSize differs from the file size");
    if (get32(f, 6) != 0) return describe(path, "reserved header fields are not zero");
    if (get32(f, 10) != offset) return describe(path, "bfOffBits is not 54");
    if (get32(f, 14) != kInfoHeaderSize) return describe(path, "info header is not a 40-byte BITMAPINFOHEADER");
    const auto w = static_cast<std::int32_t>(get32(f, 18));
    const auto h = static_cast<std::int32_t>(get32(f, 22));
    if (w != width || h != height) {
        return describe(path, "is " + std::to_string(w) + "x" + std::to_string(h) + ", expected " +
                                  std::to_string(width) + "x" + std::to_string(height) + " (bottom-up)");
    }
    if (get16(f, 26) != 1) return describe(path, "biPlanes is not 1");
    if (get16(f, 28) != 24) return describe(path, "biBitCount is not 24");
    if (get32(f, 30) != kBiRgb) return describe(path, "biCompression is not BI_RGB");
    const std::uint32_t image_bytes = bmp_row_bytes(width, 24) * static_cast<std::uint32_t>(height);
    if (get32(f, 34) != 0 && get32(f, 34) != image_bytes) return describe(path, "biSizeImage is wrong");
    if (f.size() != offset + image_bytes) {
        return describe(path,
                        "file size " + std::to_string(f.size()) + ", expected " + std::to_string(offset + image_bytes));
    }
    return {};
}

std::string check_ico(const std::string& path, const std::vector<int>& sizes) {
    bool ok = false;
    const Bytes f = read_file(path, &ok);
    if (!ok) return describe(path, "cannot be read");
    if (f.size() < 6 || get16(f, 0) != 0 || get16(f, 2) != 1) return describe(path, "no ICONDIR header");
    if (get16(f, 4) != sizes.size()) return describe(path, "holds " + std::to_string(get16(f, 4)) + " images");
    if (f.size() < 6 + 16 * sizes.size()) return describe(path, "directory is cut short");
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const std::size_t e = 6 + 16 * i;
        const int s = sizes[i];
        const std::string which = "image " + std::to_string(i) + " ";
        if (f[e] != s || f[e + 1] != s) return describe(path, which + "is not " + std::to_string(s) + " px square");
        if (get16(f, e + 4) != 1 || get16(f, e + 6) != 32) return describe(path, which + "is not 32 bpp");
        const std::uint32_t bytes = get32(f, e + 8);
        const std::uint32_t at = get32(f, e + 12);
        const auto u = static_cast<std::uint32_t>(s);
        const std::uint32_t expect = kInfoHeaderSize + u * u * 4 + bmp_row_bytes(s, 1) * u;
        if (bytes != expect)
            return describe(path,
                            which + "has " + std::to_string(bytes) + " bytes, expected " + std::to_string(expect));
        if (static_cast<std::size_t>(at) + bytes > f.size())
            return describe(path, which + "runs past the end of the file");
        if (get32(f, at) != kInfoHeaderSize || get32(f, at + 4) != u || get32(f, at + 8) != 2 * u ||
            get16(f, at + 12) != 1 || get16(f, at + 14) != 32 || get32(f, at + 16) != kBiRgb) {
            return describe(path, which + "has a bad BITMAPINFOHEADER");
        }
    }
    return {};
}

std::string check_png(const std::string& path, int width, int height) {
    bool ok = false;
    const Bytes f = read_file(path, &ok);
    if (!ok) return describe(path, "cannot be read");
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (f.size() < 33 || !std::equal(kSignature, kSignature + 8, f.begin())) return describe(path, "no PNG signature");
    if (get32be(f, 8) != 13 || f[12] != 'I' || f[13] != 'H' || f[14] != 'D' || f[15] != 'R')
        return describe(path, "no IHDR chunk");
    if (get32be(f, 16) != static_cast<std::uint32_t>(width) || get32be(f, 20) != static_cast<std::uint32_t>(height)) {
        return describe(path, "is not " + std::to_string(width) + "x" + std::to_string(height));
    }
    if (f[24] != 8 || f[25] != 6) return describe(path, "is not 8-bit RGBA");
    return {};
}

}  // namespace skin
