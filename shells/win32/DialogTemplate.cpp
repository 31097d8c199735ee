#include "shells/win32/DialogTemplate.h"

#include <cstring>

namespace kivo::win32 {

namespace {

// Reads the little-endian fields of a template in order; fails for good at
// the first read past the end.
class Reader {
public:
    Reader(const void* data, std::size_t size) : m_data(static_cast<const std::uint8_t*>(data)), m_size(size) {}

    bool Ok() const { return m_ok; }
    std::size_t Offset() const { return m_offset; }

    template <typename T>
    T Get() {
        T value{};
        if (!m_ok || m_size - m_offset < sizeof value) {
            m_ok = false;
            return value;
        }
        std::memcpy(&value, m_data + m_offset, sizeof value);
        m_offset += sizeof value;
        return value;
    }

    std::wstring String() {
        std::wstring text;
        for (;;) {
            const auto c = Get<std::uint16_t>();
            if (!m_ok || c == 0) break;
            text.push_back(static_cast<wchar_t>(c));
        }
        return text;
    }

    TemplateName Name() {
        TemplateName name;
        const auto first = Get<std::uint16_t>();
        if (!m_ok || first == 0) return name;
        if (first == 0xFFFF) {
            name.bOrdinal = true;
            name.nOrdinal = Get<std::uint16_t>();
            return name;
        }
        name.text.push_back(static_cast<wchar_t>(first));
        name.text += String();
        return name;
    }

    std::vector<std::uint8_t> Bytes(std::size_t n) {
        std::vector<std::uint8_t> bytes;
        if (!m_ok || m_size - m_offset < n) {
            m_ok = false;
            return bytes;
        }
        bytes.assign(m_data + m_offset, m_data + m_offset + n);
        m_offset += n;
        return bytes;
    }

    void AlignTo(std::size_t n) {
        const std::size_t aligned = (m_offset + n - 1) / n * n;
        if (aligned > m_size)
            m_ok = false;
        else
            m_offset = aligned;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_offset = 0;
    bool m_ok = true;
};

class Writer {
public:
    template <typename T>
    void Put(T value) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
        m_bytes.insert(m_bytes.end(), bytes, bytes + sizeof value);
    }
    void String(const std::wstring& text) {
        for (wchar_t c : text) Put(static_cast<std::uint16_t>(c));
        Put(std::uint16_t{0});
    }
    void Name(const TemplateName& name) {
        if (name.bOrdinal) {
            Put(std::uint16_t{0xFFFF});
            Put(name.nOrdinal);
        } else {
            String(name.text);
        }
    }
    void Bytes(const std::vector<std::uint8_t>& bytes) { m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end()); }
    void AlignTo(std::size_t n) {
        while (m_bytes.size() % n != 0) m_bytes.push_back(0);
    }
    std::vector<std::uint32_t> Words() {
        AlignTo(4);
        std::vector<std::uint32_t> words(m_bytes.size() / 4);
        if (!words.empty()) std::memcpy(words.data(), m_bytes.data(), m_bytes.size());
        return words;
    }

private:
    std::vector<std::uint8_t> m_bytes;
};

constexpr std::uint32_t kDsSetFont = 0x40;
constexpr std::uint32_t kDsShellFont = 0x48;

}  // namespace

std::optional<DialogTemplateEx> DialogTemplateEx::Parse(const void* data, std::size_t size) {
    Reader in(data, size);
    if (in.Get<std::uint16_t>() != 1 || in.Get<std::uint16_t>() != 0xFFFF) return std::nullopt;
    DialogTemplateEx dlg;
    dlg.helpId = in.Get<std::uint32_t>();
    dlg.exStyle = in.Get<std::uint32_t>();
    dlg.style = in.Get<std::uint32_t>();
    const auto nItems = in.Get<std::uint16_t>();
    dlg.x = in.Get<std::int16_t>();
    dlg.y = in.Get<std::int16_t>();
    dlg.cx = in.Get<std::int16_t>();
    dlg.cy = in.Get<std::int16_t>();
    dlg.menu = in.Name();
    dlg.windowClass = in.Name();
    dlg.title = in.String();
    if ((dlg.style & kDsSetFont) != 0 || (dlg.style & kDsShellFont) == kDsShellFont) {
        dlg.pointSize = in.Get<std::uint16_t>();
        dlg.weight = in.Get<std::uint16_t>();
        dlg.italic = in.Get<std::uint8_t>();
        dlg.charset = in.Get<std::uint8_t>();
        dlg.typeface = in.String();
    }
    for (unsigned i = 0; i < nItems && in.Ok(); ++i) {
        in.AlignTo(4);
        TemplateItem item;
        item.helpId = in.Get<std::uint32_t>();
        item.exStyle = in.Get<std::uint32_t>();
        item.style = in.Get<std::uint32_t>();
        item.x = in.Get<std::int16_t>();
        item.y = in.Get<std::int16_t>();
        item.cx = in.Get<std::int16_t>();
        item.cy = in.Get<std::int16_t>();
        item.id = in.Get<std::int32_t>();
        item.windowClass = in.Name();
        item.title = in.Name();
        const auto extra = in.Get<std::uint16_t>();
        if (extra > 0) {
            in.AlignTo(2);
            item.extra = in.Bytes(extra);
        }
        dlg.items.push_back(std::move(item));
    }
    if (!in.Ok()) return std::nullopt;
    return dlg;
}

std::vector<std::uint32_t> DialogTemplateEx::Serialize() const {
    Writer out;
    out.Put(std::uint16_t{1});
    out.Put(std::uint16_t{0xFFFF});
    out.Put(helpId);
    out.Put(exStyle);
    out.Put(style);
    out.Put(static_cast<std::uint16_t>(items.size()));
    out.Put(x);
    out.Put(y);
    out.Put(cx);
    out.Put(cy);
    out.Name(menu);
    out.Name(windowClass);
    out.String(title);
    if ((style & kDsSetFont) != 0 || (style & kDsShellFont) == kDsShellFont) {
        out.Put(pointSize);
        out.Put(weight);
        out.Put(italic);
        out.Put(charset);
        out.String(typeface);
    }
    for (const TemplateItem& item : items) {
        out.AlignTo(4);
        out.Put(item.helpId);
        out.Put(item.exStyle);
        out.Put(item.style);
        out.Put(item.x);
        out.Put(item.y);
        out.Put(item.cx);
        out.Put(item.cy);
        out.Put(item.id);
        out.Name(item.windowClass);
        out.Name(item.title);
        out.Put(static_cast<std::uint16_t>(item.extra.size()));
        out.Bytes(item.extra);
    }
    return out.Words();
}

std::optional<std::vector<DialogInitEntry>> ParseDialogInit(const void* data, std::size_t size) {
    Reader in(data, size);
    std::vector<DialogInitEntry> entries;
    for (;;) {
        DialogInitEntry entry;
        entry.nId = in.Get<std::uint16_t>();
        if (!in.Ok()) return std::nullopt;
        if (entry.nId == 0) return entries;
        entry.nMessage = in.Get<std::uint16_t>();
        const auto length = in.Get<std::uint32_t>();
        const std::vector<std::uint8_t> bytes = in.Bytes(length);
        if (!in.Ok()) return std::nullopt;
        entry.data.assign(bytes.begin(), bytes.end());
        entries.push_back(std::move(entry));
    }
}

}  // namespace kivo::win32
