#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// multipart/form-data bodies, read from the raw bytes as sent.
namespace standin {

struct MultipartPart {
    std::string name;
    std::optional<std::string> fileName;
    std::string contentType;
    std::string content;
};

// The boundary parameter of a Content-Type value, unquoted; nothing when it is missing or empty.
std::optional<std::string> multipartBoundary(std::string_view contentType);

// The parts in order. Throws HttpError 400 ("malformed multipart body: ...") when the body is not well
// formed.
std::vector<MultipartPart> parseMultipart(const std::string& body, const std::string& boundary);

} // namespace standin
