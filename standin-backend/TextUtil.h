#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Small string helpers shared by the connection handling, the multipart reader and the routes.
namespace standin {

std::string toLower(std::string s);
bool equalsNoCase(std::string_view a, std::string_view b);
bool startsWithNoCase(std::string_view s, std::string_view prefix);
std::string_view trim(std::string_view s); // spaces and tabs

// %XX escapes; with plusIsSpace also '+' for a space (query components). A malformed escape stays as it is.
std::string percentDecode(std::string_view s, bool plusIsSpace);
// "a=1&b&c=%20" as (name, value) pairs in order, decoded.
std::vector<std::pair<std::string, std::string>> parseQuery(std::string_view raw);

} // namespace standin
