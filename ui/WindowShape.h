#pragma once
// Window regions as data: a set of pixels kept as sorted spans per row, and
// the popup's shape built from them.
#include <map>
#include <utility>
#include <vector>

struct ShapeRect {
    int x, y, width, height;
    bool operator==(const ShapeRect&) const = default;
};

class CRegion {
public:
    // Pixels from (l, t) to (r, b), right and bottom edges excluded.
    static CRegion Rect(int l, int t, int r, int b);
    // The same rectangle with corners cut by an ellipse `w` x `h` wide.
    static CRegion RoundRect(int l, int t, int r, int b, int w, int h);

    CRegion& Union(const CRegion& other);
    bool Contains(int x, int y) const;
    bool Empty() const { return m_rows.empty(); }
    // The region as rectangles, consecutive rows with equal spans merged.
    std::vector<ShapeRect> Rects() const;

private:
    void AddSpan(int y, int x0, int x1);
    std::map<int, std::vector<std::pair<int, int>>> m_rows;  // y -> [x0, x1)
};

// The popup's shape for a window `width` x `height` pixels: a rectangle
// without its rightmost 15 pixels, whose top-left corner alone is rounded
// by a 36 x 36 ellipse.
CRegion MakePopupShape(int width, int height);
