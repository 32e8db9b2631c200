#include "AppSection.h"

#include <array>

namespace {
struct SectionInfo {
    AppSection section;
    const char* raw;
    const char* title;
    const char* symbol;
};

constexpr std::array<SectionInfo, 7> kSections{{
    {AppSection::Home, "home", "Home", "house"},
    {AppSection::Dictionary, "dictionary", "Dictionary", "character.book.closed"},
    {AppSection::Snippets, "snippets", "Snippets", "scissors"},
    {AppSection::Notes, "notes", "Notes", "square.and.pencil"},
    {AppSection::Guide, "guide", "Guide", "book"},
    {AppSection::Tutorials, "tutorials", "Tutorials", "play.rectangle"},
    {AppSection::Settings, "settings", "Settings", "slider.horizontal.3"},
}};

const SectionInfo& info(AppSection section) {
    return kSections[static_cast<std::size_t>(section)];
}
} // namespace

namespace AppSections {

const QList<AppSection>& all() {
    static const QList<AppSection> sections = [] {
        QList<AppSection> list;
        for (const SectionInfo& entry : kSections) {
            list << entry.section;
        }
        return list;
    }();
    return sections;
}

QString toRaw(AppSection section) {
    return QString::fromLatin1(info(section).raw);
}

std::optional<AppSection> fromRaw(const QString& raw) {
    for (const SectionInfo& entry : kSections) {
        if (raw == QLatin1String(entry.raw)) {
            return entry.section;
        }
    }
    return std::nullopt;
}

QString title(AppSection section) {
    return QString::fromLatin1(info(section).title);
}
QString symbol(AppSection section) {
    return QString::fromLatin1(info(section).symbol);
}

} // namespace AppSections
