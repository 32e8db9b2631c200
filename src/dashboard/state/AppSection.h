#pragma once

#include <QList>
#include <QString>

#include <optional>

// The seven sections of the dashboard, in sidebar order.
enum class AppSection { Home, Dictionary, Snippets, Notes, Guide, Tutorials, Settings };

namespace AppSections {

const QList<AppSection>& all();
QString toRaw(AppSection section);
// Exact, case-sensitive match of a raw value ("home", "settings", ...); any other text gives nothing.
std::optional<AppSection> fromRaw(const QString& raw);
QString title(AppSection section);
// The symbol name drawn in the section's row.
QString symbol(AppSection section);

} // namespace AppSections
