#include "ui/WindowShape.h"

#include <algorithm>
#include <cmath>

CRegion CRegion::Rect(int l, int t, int r, int b) {
    CRegion region;
    for (int y = t; y < b; ++y) region.AddSpan(y, l, r);
    return region;
}

CRegion CRegion::RoundRect(int l, int t, int r, int b, int w, int h) {
    CRegion region;
    const double rx = w / 2.0;
    const double ry = h / 2.0;
    for (int y = t; y < b; ++y) {
        // Distance of the row's centre from the nearer corner ellipses' centre row.
        const double centre = y + 0.5;
        double dy = 0;
        if (centre < t + ry)
            dy = t + ry - centre;
        else if (centre > b - ry)
            dy = centre - (b - ry);
        int inset = 0;
        if (dy > 0) {
            const double q = 1.0 - (dy / ry) * (dy / ry);
            const double dx = q > 0 ? rx * std::sqrt(q) : 0.0;
            inset = static_cast<int>(std::lround(rx - dx));
        }
        if (l + inset < r - inset) region.AddSpan(y, l + inset, r - inset);
    }
    return region;
}

void CRegion::AddSpan(int y, int x0, int x1) {
    if (x0 >= x1) return;
    auto& spans = m_rows[y];
    spans.emplace_back(x0, x1);
    std::sort(spans.begin(), spans.end());
    std::vector<std::pair<int, int>> merged;
    for (const auto& s : spans) {
        if (!merged.empty() && s.first <= merged.back().second)
            merged.back().second = std::max(merged.back().second, s.second);
        else
            merged.push_back(s);
    }
    spans = std::move(merged);
}

CRegion& CRegion::Union(const CRegion& other) {
    for (const auto& [y, spans] : other.m_rows)
        for (const auto& [x0, x1] : spans) AddSpan(y, x0, x1);
    return *this;
}

bool CRegion::Contains(int x, int y) const {
    const auto row = m_rows.find(y);
    if (row == m_rows.end()) return false;
    for (const auto& [x0, x1] : row->second)
        if (x >= x0 && x < x1) return true;
    return false;
}

std::vector<ShapeRect> CRegion::Rects() const {
    std::vector<ShapeRect> out;
    const std::vector<std::pair<int, int>>* previous = nullptr;
    int previousY = 0;
    std::size_t bandStart = 0;
    for (const auto& [y, spans] : m_rows) {
        if (previous != nullptr && y == previousY + 1 && *previous == spans) {
            for (std::size_t i = bandStart; i < out.size(); ++i) ++out[i].height;
        } else {
            bandStart = out.size();
            for (const auto& [x0, x1] : spans) out.push_back({x0, y, x1 - x0, 1});
        }
        previous = &spans;
        previousY = y;
    }
    return out;
}

CRegion MakePopupShape(int width, int height) {
    // GetWindowRect at initialisation: the window stands at the origin.
    const int l = 0, t = 0, r = width, b = height;
    CRegion shape = CRegion::RoundRect(l, t, r - 15, b, 36, 36);
    shape.Union(CRegion::Rect(l, t + (b - t) / 2, r - 15, b));
    shape.Union(CRegion::Rect(l + (r - l) / 2, t, r - 15, b));
    return shape;
}
