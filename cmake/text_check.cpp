// kivo-text-check FILE...: prints each non-ASCII byte that stands outside a
// comment (in a literal or in code) as "file:line: ..." and exits with 1 when
// there is one. Understands line and block comments, string and character
// literals with escapes, and raw string literals.
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

int CheckFile(const char* name) {
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot be read\n", name);
        return 1;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    enum class State { Code, LineComment, BlockComment, Quoted, Raw } state = State::Code;
    char quote = 0;
    std::string rawEnd;  // ")delimiter\"" of the raw literal being read
    int line = 1;
    int found = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if (static_cast<unsigned char>(c) >= 0x80 && state != State::LineComment && state != State::BlockComment) {
            std::fprintf(stderr, "%s:%d: non-ASCII text outside the text sources\n", name, line);
            ++found;
            // One report per line is enough.
            while (i + 1 < text.size() && text[i + 1] != '\n') ++i;
            state = State::Code;
            continue;
        }
        if (c == '\n') ++line;
        switch (state) {
            case State::Code:
                if (c == '/' && next == '/')
                    state = State::LineComment, ++i;
                else if (c == '/' && next == '*')
                    state = State::BlockComment, ++i;
                else if (c == 'R' && next == '"' &&
                         (i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1])))) {
                    const std::size_t open = text.find('(', i + 2);
                    if (open == std::string::npos) break;
                    rawEnd = ")" + text.substr(i + 2, open - i - 2) + "\"";
                    state = State::Raw;
                    i = open;
                } else if (c == '"' || c == '\'')
                    state = State::Quoted, quote = c;
                break;
            case State::LineComment:
                if (c == '\n') state = State::Code;
                break;
            case State::BlockComment:
                if (c == '*' && next == '/') state = State::Code, ++i;
                break;
            case State::Quoted:
                if (c == '\\') {
                    if (next == '\n') ++line;
                    ++i;
                } else if (c == quote || c == '\n') {
                    state = State::Code;
                }
                break;
            case State::Raw:
                if (text.compare(i, rawEnd.size(), rawEnd) == 0) {
                    i += rawEnd.size() - 1;
                    state = State::Code;
                }
                break;
        }
    }
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    int found = 0;
    for (int i = 1; i < argc; ++i) found += CheckFile(argv[i]);
    return found == 0 ? 0 : 1;
}
