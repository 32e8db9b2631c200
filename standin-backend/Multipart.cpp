#include "Multipart.h"

#include "HttpMessage.h"
#include "TextUtil.h"

namespace standin {
namespace {

HttpError badMultipart(const std::string& why) {
    return HttpError{400, "malformed multipart body: " + why};
}

// Value of one Content-Disposition parameter. A quoted value runs to the quote that ends the parameter
// (followed by ';' or the end), so unescaped quotes inside a name survive.
std::optional<std::string> dispositionParameter(std::string_view header, std::string_view parameter) {
    std::size_t pos = 0;
    while (pos < header.size()) {
        const auto semi = header.find(';', pos);
        if (semi == std::string_view::npos)
            return std::nullopt;
        std::size_t start = semi + 1;
        while (start < header.size() && (header[start] == ' ' || header[start] == '\t'))
            ++start;
        if (header.substr(start, parameter.size()) == parameter && start + parameter.size() < header.size() &&
            header[start + parameter.size()] == '=') {
            const std::size_t valueStart = start + parameter.size() + 1;
            if (valueStart < header.size() && header[valueStart] == '"') {
                std::size_t q = valueStart + 1;
                while (true) {
                    q = header.find('"', q);
                    if (q == std::string_view::npos)
                        return std::string(header.substr(valueStart + 1));
                    const std::string_view rest = trim(header.substr(q + 1));
                    if (rest.empty() || rest.front() == ';')
                        return std::string(header.substr(valueStart + 1, q - valueStart - 1));
                    ++q;
                }
            }
            const auto end = header.find(';', valueStart);
            return std::string(
                trim(header.substr(valueStart, end == std::string_view::npos ? end : end - valueStart)));
        }
        pos = start;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> multipartBoundary(std::string_view contentType) {
    const std::string lower = toLower(std::string(contentType));
    const auto at = lower.find("boundary=");
    if (at == std::string::npos)
        return std::nullopt;
    std::string_view value = contentType.substr(at + 9);
    const auto semi = value.find(';');
    value = trim(value.substr(0, semi));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    if (value.empty())
        return std::nullopt;
    return std::string(value);
}

std::vector<MultipartPart> parseMultipart(const std::string& body, const std::string& boundary) {
    const std::string delimiter = "--" + boundary;
    std::size_t pos;
    if (body.compare(0, delimiter.size(), delimiter) == 0) {
        pos = 0;
    } else {
        pos = body.find("\r\n" + delimiter);
        if (pos == std::string::npos)
            throw badMultipart("no boundary line");
        pos += 2;
    }

    std::vector<MultipartPart> parts;
    while (true) {
        pos += delimiter.size();
        if (body.compare(pos, 2, "--") == 0)
            return parts;
        while (pos < body.size() && (body[pos] == ' ' || body[pos] == '\t'))
            ++pos;
        if (body.compare(pos, 2, "\r\n") != 0)
            throw badMultipart("boundary line not followed by CR LF");
        pos += 2;

        std::size_t contentStart;
        std::string_view headerBlock;
        if (body.compare(pos, 2, "\r\n") == 0) {
            contentStart = pos + 2;
        } else {
            const auto headerEnd = body.find("\r\n\r\n", pos);
            if (headerEnd == std::string::npos)
                throw badMultipart("part headers not terminated");
            headerBlock = std::string_view(body).substr(pos, headerEnd - pos);
            contentStart = headerEnd + 4;
        }
        const auto next = body.find("\r\n" + delimiter, contentStart);
        if (next == std::string::npos)
            throw badMultipart("missing closing boundary");

        MultipartPart part;
        bool named = false;
        while (!headerBlock.empty()) {
            const auto eol = headerBlock.find("\r\n");
            const std::string_view line = headerBlock.substr(0, eol);
            headerBlock = eol == std::string_view::npos ? std::string_view() : headerBlock.substr(eol + 2);
            const auto colon = line.find(':');
            if (colon == std::string_view::npos)
                throw badMultipart("part header without a colon");
            const std::string headerName = toLower(std::string(trim(line.substr(0, colon))));
            const std::string_view value = trim(line.substr(colon + 1));
            if (headerName == "content-disposition") {
                if (!startsWithNoCase(value, "form-data"))
                    throw badMultipart("part disposition is not form-data");
                if (auto name = dispositionParameter(value, "name")) {
                    part.name = *name;
                    named = true;
                }
                part.fileName = dispositionParameter(value, "filename");
            } else if (headerName == "content-type") {
                part.contentType = std::string(value);
            }
        }
        if (!named)
            throw badMultipart("part without a form-data name");
        part.content = body.substr(contentStart, next - contentStart);
        parts.push_back(std::move(part));
        pos = next + 2;
    }
}

} // namespace standin
