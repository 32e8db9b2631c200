#include "RouteTable.h"

namespace standin {

void RouteTable::add(const std::string& method, const std::string& path, RouteHandler handler) {
    if (path.size() >= 2 && path.compare(path.size() - 2, 2, "/*") == 0)
        m_prefixes[path.substr(0, path.size() - 1)][method] = std::move(handler);
    else
        m_exact[path][method] = std::move(handler);
}

const std::map<std::string, RouteHandler>* RouteTable::methodsFor(const std::string& path) const {
    if (const auto it = m_exact.find(path); it != m_exact.end())
        return &it->second;
    const std::map<std::string, RouteHandler>* best = nullptr;
    std::size_t bestLength = 0;
    for (const auto& [prefix, methods] : m_prefixes) {
        if (path.compare(0, prefix.size(), prefix) == 0 && prefix.size() >= bestLength) {
            best = &methods;
            bestLength = prefix.size();
        }
    }
    return best;
}

RouteTable::Match RouteTable::find(const std::string& method, const std::string& path) const {
    Match match;
    const auto* methods = methodsFor(path);
    if (!methods)
        return match;
    match.pathKnown = true;
    for (const auto& [name, handler] : *methods) {
        if (!match.allow.empty())
            match.allow += ", ";
        match.allow += name;
        if (name == method || (name == "GET" && method == "HEAD"))
            match.handler = &handler;
    }
    return match;
}

} // namespace standin
