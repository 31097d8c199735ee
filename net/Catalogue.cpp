// Built with the GBK execution character set: the list texts below are GBK
// bytes in the program, as every text of the user interface is.
#include "net/Catalogue.h"

const CategoryInfo g_categories[kCategoryCount] = {
    {"上升最快Top8", "今日上升最快Top8", "today.html"},
    {"一周热点Top8", "一周热点Top8", "week.html"},
    {"热门搜索Top8", "热门搜索Top8", "hot.html"},
    {"电影流行榜", "电影流行榜", "movie.html"},
    {"电视剧流行榜", "电视剧流行榜", "teleplay.html"},
    {"游戏流行榜", "游戏流行榜", "game.html"},
    {"小说流行榜", "小说流行榜", "novel.html"},
    {"十大美女", "十大美女", "mm.html"},
    {"十大帅哥", "十大帅哥", "gg.html"},
    {"最火女歌手榜", "最火女歌手榜", "mmstar.html"},
    {"最火男歌手榜", "最火男歌手榜", "ggstar.html"},
    {"十佳旅游景点", "十佳旅游景点", "scenic.html"},
    {"新歌流行榜", "新歌Top8", "newmusic.html"},
    {"中文金曲榜", "中文金曲榜", "hotmusic.html"},
};

const int g_nCategoryBanner[kCategoryCount] = {129, 152, 153, 154, 155, 156, 157, 158, 159, 160, 161, 162, 163, 164};

const char* const g_szRefreshItems[kRefreshItemCount] = {
    "main_back.gif", "today.html",  "week.html",   "hot.html",      "movie.html",
    "teleplay.html", "game.html",   "novel.html",  "mm.html",       "gg.html",
    "mmstar.html",   "ggstar.html", "scenic.html", "newmusic.html", "hotmusic.html",
};

int CategoryIndex(int nCategory) { return nCategory >= 1 && nCategory <= kCategoryCount ? nCategory - 1 : -1; }

const char* PageFileName(int nCategory) {
    const int nIndex = CategoryIndex(nCategory);
    return nIndex < 0 ? "" : g_categories[nIndex].szPageFile;
}
