#pragma once
// The fourteen hot lists. Category numbers run from 1 to 14; in both list
// choosers the item index is the category number minus 1.

constexpr int kCategoryCount = 14;

struct CategoryInfo {
    const char* szPopupText;     // item of the popup's list chooser (GBK)
    const char* szSettingsText;  // item of the settings dialog's chooser (GBK)
    const char* szPageFile;      // page on the server and in the cache folder
};

// Indexed by category number minus 1.
extern const CategoryInfo g_categories[kCategoryCount];
// Header bitmap of each list, indexed by category number minus 1.
extern const int g_nCategoryBanner[kCategoryCount];

// What the cache refresh fetches, in order: the pages' shared background
// image, then the fourteen pages in category order.
constexpr int kRefreshItemCount = kCategoryCount + 1;
extern const char* const g_szRefreshItems[kRefreshItemCount];

// The chooser index of a category (its number minus 1); -1 outside 1..14,
// for any int a settings file may hold.
int CategoryIndex(int nCategory);

// The page file of a category; the empty string outside 1..14.
const char* PageFileName(int nCategory);
