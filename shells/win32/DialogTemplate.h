#pragma once
// Extended dialog templates (DIALOGEX) as data: read from a resource, changed
// and written back for CreateDialogIndirectParam. And the dialogs'
// initialisation data (resource type 240), the list entries that the
// framework adds to a dialog's controls before its own initialisation.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kivo::win32 {

// A name in a template: none, a number (ordinal) or a text.
struct TemplateName {
    bool bOrdinal = false;
    std::uint16_t nOrdinal = 0;
    std::wstring text;  // empty and not an ordinal: none

    bool Empty() const { return !bOrdinal && text.empty(); }
};

struct TemplateItem {
    std::uint32_t helpId = 0;
    std::uint32_t exStyle = 0;
    std::uint32_t style = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::int32_t id = 0;       // -1: no id
    TemplateName windowClass;  // ordinals 0x80..0x85: button, edit, static, list box, scroll bar, combo box
    TemplateName title;
    std::vector<std::uint8_t> extra;

    // An ActiveX control, named by its CLSID in braces instead of a class.
    bool IsOleControl() const {
        return !windowClass.bOrdinal && !windowClass.text.empty() && windowClass.text[0] == L'{';
    }
};

struct DialogTemplateEx {
    std::uint32_t helpId = 0;
    std::uint32_t exStyle = 0;
    std::uint32_t style = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    TemplateName menu;
    TemplateName windowClass;
    std::wstring title;
    // Present with DS_SETFONT (or DS_SHELLFONT).
    std::uint16_t pointSize = 0;
    std::uint16_t weight = 0;
    std::uint8_t italic = 0;
    std::uint8_t charset = 0;
    std::wstring typeface;
    std::vector<TemplateItem> items;

    // Null when `data` is no well-formed extended template.
    static std::optional<DialogTemplateEx> Parse(const void* data, std::size_t size);
    // The template in memory form, DWORD-aligned from its start.
    std::vector<std::uint32_t> Serialize() const;
};

// One entry of a dialog's initialisation data: control `nId` gets message
// `nMessage` (0x0403: add the text to a combo box's list) with `data`.
struct DialogInitEntry {
    std::uint16_t nId = 0;
    std::uint16_t nMessage = 0;
    std::string data;  // the bytes as stored; a text ends with its zero
};

inline constexpr std::uint16_t kDlgInitComboAddString = 0x0403;
inline constexpr std::uint16_t kResourceTypeDlgInit = 240;

// Null when the data is malformed: each entry is the control id and the
// message (16 bits each), the data's length (32 bits) and the data; an id of
// 0 ends the list.
std::optional<std::vector<DialogInitEntry>> ParseDialogInit(const void* data, std::size_t size);

}  // namespace kivo::win32
