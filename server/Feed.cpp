#include "Feed.h"

#include <iconv.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>

namespace kivo::server {
namespace {

// ---- XML (RSS, Atom) --------------------------------------------------------

// No entity, DTD or stylesheet is ever fetched, whatever a document names.
xmlParserInputPtr NoExternalEntities(const char*, const char*, xmlParserCtxtPtr) { return nullptr; }

void InitXml() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(NoExternalEntities);
    });
}

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

bool Named(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

// The text of an element: its text and CDATA below it. References to
// entities the document declares itself are left out, never expanded.
void AppendText(const xmlNode* node, std::string& out, int depth = 0) {
    if (depth > 64) return;
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
            if (child->content != nullptr) out += reinterpret_cast<const char*>(child->content);
        } else if (child->type == XML_ELEMENT_NODE) {
            AppendText(child, out, depth + 1);
        }
        if (out.size() > 64 * 1024) return;
    }
}

std::string TextOf(const xmlNode* node) {
    std::string out;
    if (node != nullptr) AppendText(node, out);
    return out;
}

const xmlNode* Child(const xmlNode* parent, const char* name) {
    for (const xmlNode* child = parent->children; child != nullptr; child = child->next)
        if (Named(child, name)) return child;
    return nullptr;
}

std::string Attribute(const xmlNode* node, const char* name) {
    for (const xmlAttr* attr = node->properties; attr != nullptr; attr = attr->next) {
        if (std::strcmp(reinterpret_cast<const char*>(attr->name), name) == 0 && attr->children != nullptr &&
            attr->children->content != nullptr)
            return reinterpret_cast<const char*>(attr->children->content);
    }
    return {};
}

// Elements named `name` in document order, at most kMaxItems.
void Collect(const xmlNode* node, const char* name, std::vector<const xmlNode*>& out, int depth = 0) {
    if (depth > 8) return;
    for (const xmlNode* child = node->children; child != nullptr && out.size() < kMaxItems; child = child->next) {
        if (Named(child, name)) {
            out.push_back(child);
        } else if (child->type == XML_ELEMENT_NODE) {
            Collect(child, name, out, depth + 1);
        }
    }
}

std::vector<FeedItem> ParseXml(std::string_view body, FeedFormat::Kind kind) {
    InitXml();
    if (body.size() > INT_MAX) throw FeedError("feed too large");
    // No XML_PARSE_NOENT (entities stay references), no DTD loading, no
    // network, and libxml2's limits on entity amplification stay on (no
    // XML_PARSE_HUGE).
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOBLANKS;
    std::unique_ptr<xmlDoc, DocFree> doc(
        xmlReadMemory(body.data(), static_cast<int>(body.size()), "feed.xml", nullptr, options));
    if (!doc) {
        const xmlError* error = xmlGetLastError();
        std::string why = error != nullptr && error->message != nullptr ? error->message : "parse error";
        while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) why.pop_back();
        xmlResetLastError();
        throw FeedError("not well-formed XML: " + why);
    }
    const xmlNode* root = xmlDocGetRootElement(doc.get());
    if (root == nullptr) throw FeedError("XML without a root element");
    const bool rss = Named(root, "rss") || Named(root, "RDF");
    const bool atom = Named(root, "feed");
    if (kind == FeedFormat::Kind::Rss && !rss) throw FeedError("not an RSS feed");
    if (kind == FeedFormat::Kind::Atom && !atom) throw FeedError("not an Atom feed");
    if (!rss && !atom) {
        throw FeedError(std::string("not a feed: the document is <") + reinterpret_cast<const char*>(root->name) + ">");
    }

    std::vector<const xmlNode*> nodes;
    Collect(root, rss ? "item" : "entry", nodes);
    std::vector<FeedItem> items;
    for (const xmlNode* node : nodes) {
        FeedItem item;
        item.title = TextOf(Child(node, "title"));
        if (rss) {
            item.link = TextOf(Child(node, "link"));
        } else {
            // Atom: the alternate link (a link without rel is one).
            for (const xmlNode* link = node->children; link != nullptr; link = link->next) {
                if (!Named(link, "link")) continue;
                const std::string rel = Attribute(link, "rel");
                if (rel.empty() || rel == "alternate") {
                    item.link = Attribute(link, "href");
                    break;
                }
            }
        }
        items.push_back(std::move(item));
    }
    return items;
}

// ---- JSON --------------------------------------------------------------------

using Json = nlohmann::json;

Json ParseJson(std::string_view body) {
    const auto limit = [](int depth, Json::parse_event_t, Json&) {
        if (depth > kMaxJsonDepth) throw FeedError("JSON nested deeper than " + std::to_string(kMaxJsonDepth));
        return true;
    };
    try {
        return Json::parse(body.begin(), body.end(), limit);
    } catch (const Json::exception& e) {
        throw FeedError(std::string("not valid JSON: ") + e.what());
    }
}

const Json* Path(const Json& root, const std::string& dotted) {
    if (dotted == ".") return &root;
    const Json* at = &root;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = dotted.find('.', start);
        const std::string key = dotted.substr(start, dot == std::string::npos ? dot : dot - start);
        if (!at->is_object()) return nullptr;
        const auto it = at->find(key);
        if (it == at->end()) return nullptr;
        at = &*it;
        if (dot == std::string::npos) return at;
        start = dot + 1;
    }
}

std::string StringField(const Json& item, const std::string& field) {
    if (field.empty()) return {};
    const Json* value = Path(item, field);
    return value != nullptr && value->is_string() ? value->get<std::string>() : std::string();
}

std::int64_t HeatField(const Json& item, const std::string& field) {
    if (field.empty()) return 0;
    const Json* value = Path(item, field);
    if (value == nullptr) return 0;
    if (value->is_string()) return ParseHeat(value->get<std::string>());
    if (value->is_number_unsigned())
        return static_cast<std::int64_t>(std::min<std::uint64_t>(value->get<std::uint64_t>(), INT64_MAX));
    if (value->is_number_integer()) return std::max<std::int64_t>(0, value->get<std::int64_t>());
    if (value->is_number_float()) {
        const double number = value->get<double>();
        if (!(number > 0)) return 0;
        return number >= 9.2e18 ? INT64_MAX : static_cast<std::int64_t>(std::llround(number));
    }
    return 0;
}

std::vector<FeedItem> ParseJsonFeed(std::string_view body, FeedFormat format) {
    const Json root = ParseJson(body);
    using K = FeedFormat::Kind;
    const auto hasArray = [&](const char* key) {
        return root.is_object() && root.contains(key) && root[key].is_array();
    };
    const bool jsonFeed = root.is_object() && root.contains("version") && root["version"].is_string() &&
                          root["version"].get<std::string>().starts_with("https://jsonfeed.org/version/");
    if (format.kind == K::Auto) {
        if (jsonFeed)
            format.kind = K::JsonFeed;
        else if (hasArray("data"))
            format.kind = K::DailyHot;
        else if (hasArray("items"))
            format.kind = K::NewsNow;
        else
            throw FeedError("JSON of no known feed shape");
    }
    switch (format.kind) {
        case K::JsonFeed:
            if (!jsonFeed) throw FeedError("not a JSON Feed (no jsonfeed.org version)");
            format = FeedFormat{K::Json, "items", "title", "", "url"};
            break;
        case K::DailyHot:
            format = FeedFormat{K::Json, "data", "title", "hot", "url"};
            break;
        case K::NewsNow:
            format = FeedFormat{K::Json, "items", "title", "", "url"};
            break;
        default:
            break;
    }
    const Json* array = Path(root, format.items);
    if (array == nullptr || !array->is_array()) throw FeedError("no item array at \"" + format.items + "\"");
    std::vector<FeedItem> items;
    for (const Json& entry : *array) {
        if (items.size() >= kMaxItems) break;
        if (!entry.is_object()) continue;
        items.push_back(
            FeedItem{StringField(entry, format.title), HeatField(entry, format.heat), StringField(entry, format.link)});
    }
    return items;
}

// ---- names --------------------------------------------------------------------

// Tags (and comments) out: '<' followed by a letter, '/', '!' or '?', up to
// the next '>'; a line break or block is a space, inline markup nothing. A
// lone '<' (as in "a < b") stays.
std::string StripTags(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '<' && i + 1 < text.size()) {
            const char next = text[i + 1];
            if (std::isalpha(static_cast<unsigned char>(next)) || next == '/' || next == '!' || next == '?') {
                const std::size_t close = text.find('>', i + 1);
                if (close != std::string_view::npos) {
                    std::string tag(text.substr(i + 1, std::min<std::size_t>(close - i - 1, 4)));
                    std::transform(tag.begin(), tag.end(), tag.begin(),
                                   [](unsigned char c) { return std::tolower(c); });
                    if (tag.starts_with("/")) tag.erase(0, 1);
                    for (const char* block : {"br", "p", "div", "li"}) {
                        const std::string_view b(block);
                        if (tag.starts_with(b) &&
                            (tag.size() == b.size() || !std::isalpha(static_cast<unsigned char>(tag[b.size()]))))
                            out.push_back(' ');
                    }
                    i = close;
                    continue;
                }
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string DecodeEntities(std::string_view text) {
    static const std::pair<const char*, std::uint32_t> kNamed[] = {
        {"amp", '&'},      {"lt", '<'},       {"gt", '>'},        {"quot", '"'},     {"apos", '\''},
        {"nbsp", 0xA0},    {"middot", 0xB7},  {"hellip", 0x2026}, {"mdash", 0x2014}, {"ndash", 0x2013},
        {"ldquo", 0x201C}, {"rdquo", 0x201D}, {"lsquo", 0x2018},  {"rsquo", 0x2019}, {"times", 0xD7},
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            const std::size_t semi = text.find(';', i + 1);
            if (semi != std::string_view::npos && semi - i <= 12) {
                const std::string_view name = text.substr(i + 1, semi - i - 1);
                std::uint32_t cp = 0;
                bool known = false;
                if (name.size() >= 2 && name[0] == '#') {
                    const bool hex = name[1] == 'x' || name[1] == 'X';
                    const std::string_view digits = name.substr(hex ? 2 : 1);
                    const auto [end, ec] =
                        std::from_chars(digits.data(), digits.data() + digits.size(), cp, hex ? 16 : 10);
                    known = !digits.empty() && ec == std::errc() && end == digits.data() + digits.size() && cp > 0 &&
                            cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
                } else {
                    for (const auto& [entity, value] : kNamed) {
                        if (name == entity) {
                            cp = value;
                            known = true;
                        }
                    }
                }
                if (known) {
                    AppendUtf8(out, cp);
                    i = semi;
                    continue;
                }
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

// The next code point of valid UTF-8 at `i` (advancing it); 0xFFFFFFFF for an
// invalid byte, which is skipped.
std::uint32_t NextCodePoint(std::string_view text, std::size_t& i) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    std::size_t length = lead < 0x80           ? 1
                         : (lead >> 5) == 0x6  ? 2
                         : (lead >> 4) == 0xE  ? 3
                         : (lead >> 3) == 0x1E ? 4
                                               : 0;
    if (length == 0 || i + length > text.size()) {
        ++i;
        return 0xFFFFFFFF;
    }
    std::uint32_t cp = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return 0xFFFFFFFF;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    static const std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFFFFFF;
    }
    i += length;
    return cp;
}

// Whether one character (UTF-8) has a GBK form, through the same iconv
// converter the pages are encoded with.
bool HasGbkForm(std::string_view character) {
    struct Converter {
        iconv_t cd = iconv_open("GBK", "UTF-8");
        ~Converter() {
            if (cd != reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1))) iconv_close(cd);
        }
    };
    thread_local Converter converter;
    if (converter.cd == reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1))) return false;
    char input[4];
    std::memcpy(input, character.data(), std::min<std::size_t>(4, character.size()));
    char output[16];
    char* in = input;
    char* out = output;
    std::size_t inLeft = std::min<std::size_t>(4, character.size());
    std::size_t outLeft = sizeof output;
    iconv(converter.cd, nullptr, nullptr, nullptr, nullptr);
    return iconv(converter.cd, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1) && inLeft == 0;
}

// An http(s) address that can stand in a list file and a GBK page: ASCII,
// no spaces or controls (other bytes are percent-encoded). Empty otherwise.
std::string CleanLink(std::string_view link) {
    while (!link.empty() && std::isspace(static_cast<unsigned char>(link.front()))) link.remove_prefix(1);
    while (!link.empty() && std::isspace(static_cast<unsigned char>(link.back()))) link.remove_suffix(1);
    std::string lower(link.substr(0, 8));
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (!lower.starts_with("http://") && !lower.starts_with("https://")) return {};
    if (link.size() > 2048) return {};
    std::string out;
    for (const char c : link) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F || byte >= 0x80) {
            if (byte < 0x80) return {};
            static const char kHex[] = "0123456789ABCDEF";
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace

std::vector<FeedItem> ParseFeed(std::string_view body, const FeedFormat& format) {
    using K = FeedFormat::Kind;
    std::size_t first = 0;
    if (body.starts_with("\xEF\xBB\xBF")) first = 3;
    while (first < body.size() && std::isspace(static_cast<unsigned char>(body[first]))) ++first;
    if (first == body.size()) throw FeedError("empty answer");
    std::vector<FeedItem> items;
    switch (format.kind) {
        case K::Rss:
        case K::Atom:
            items = ParseXml(body, format.kind);
            break;
        case K::Auto:
            if (body[first] == '<') {
                items = ParseXml(body, format.kind);
            } else if (body[first] == '{' || body[first] == '[') {
                items = ParseJsonFeed(body.substr(first), format);
            } else {
                throw FeedError("neither XML nor JSON");
            }
            break;
        default:
            items = ParseJsonFeed(body.substr(first), format);
            break;
    }
    if (items.empty()) throw FeedError("no items");
    return items;
}

std::string NormaliseName(std::string_view title) {
    std::string text = StripTags(DecodeEntities(StripTags(DecodeEntities(StripTags(title.substr(0, 64 * 1024))))));
    std::string out;
    std::size_t characters = 0;
    bool space = false;
    for (std::size_t i = 0; i < text.size() && characters < kMaxNameChars;) {
        const std::size_t start = i;
        const std::uint32_t cp = NextCodePoint(text, i);
        if (cp == 0xFFFFFFFF) continue;
        if (cp == ' ' || cp == '\t' || cp == '\r' || cp == '\n' || cp == 0xA0) {
            space = !out.empty();
            continue;
        }
        if (cp < 0x20 || cp == 0x7F) continue;
        if (cp >= 0x80 && !HasGbkForm(std::string_view(text).substr(start, i - start))) continue;
        if (space) {
            out.push_back(' ');
            ++characters;
            space = false;
            if (characters == kMaxNameChars) break;
        }
        out.append(text, start, i - start);
        ++characters;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::int64_t ParseHeat(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    long double value = 0;
    bool digits = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            digits = true;
        } else if (c == ',' && digits && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9') {
            continue;
        } else {
            break;
        }
    }
    if (!digits) return 0;
    if (i + 1 < text.size() && text[i] == '.' && text[i + 1] >= '0' && text[i + 1] <= '9') {
        long double scale = 0.1L;
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, scale /= 10)
            value += (text[i] - '0') * scale;
    }
    while (i < text.size() && text[i] == ' ') ++i;
    const std::string_view unit = text.substr(i);
    if (unit.starts_with("\xE4\xB8\x87"))
        value *= 1e4L;  // wan
    else if (unit.starts_with("\xE4\xBA\xBF"))
        value *= 1e8L;  // yi
    if (value >= 9e18L) return INT64_MAX;
    return static_cast<std::int64_t>(std::llround(static_cast<double>(value)));
}

std::vector<ListItem> MakeListItems(const std::vector<FeedItem>& items) {
    std::vector<ListItem> out;
    std::set<std::string> seen;
    for (const FeedItem& item : items) {
        std::string name = NormaliseName(item.title);
        if (name.empty() || !seen.insert(name).second) continue;
        out.push_back(ListItem{std::move(name), item.heat, CleanLink(item.link)});
    }
    return out;
}

}  // namespace kivo::server
