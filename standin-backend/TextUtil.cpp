#include "TextUtil.h"

#include <cctype>

namespace standin {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

} // namespace

std::string toLower(std::string s) {
    for (char& c : s)
        c = lower(c);
    return s;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && startsWithNoCase(a, b);
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (lower(s[i]) != lower(prefix[i]))
            return false;
    }
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::string percentDecode(std::string_view s, bool plusIsSpace) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (plusIsSpace && s[i] == '+') {
            out += ' ';
        } else if (s[i] == '%' && i + 2 < s.size() && hexDigit(s[i + 1]) >= 0 && hexDigit(s[i + 2]) >= 0) {
            out += static_cast<char>(hexDigit(s[i + 1]) * 16 + hexDigit(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> parseQuery(std::string_view raw) {
    std::vector<std::pair<std::string, std::string>> items;
    while (!raw.empty()) {
        const auto amp = raw.find('&');
        const std::string_view item = raw.substr(0, amp);
        raw = amp == std::string_view::npos ? std::string_view() : raw.substr(amp + 1);
        if (item.empty())
            continue;
        const auto eq = item.find('=');
        if (eq == std::string_view::npos)
            items.emplace_back(percentDecode(item, true), std::string());
        else
            items.emplace_back(percentDecode(item.substr(0, eq), true),
                               percentDecode(item.substr(eq + 1), true));
    }
    return items;
}

} // namespace standin
