#pragma once

#include <QString>

#include <optional>

// The stand-in's predictable stand-ins for the backend's language work, so that tests can tell what comes
// back: e-mail formatting tidies the text, and AI Mode applies a case instruction to the selection or
// otherwise hands the selection back.
namespace standin {

// Trimmed, the first letter upper case, ending in a full stop unless it ends in . ! or ?; empty stays empty.
QString tidyText(const QString& text);

// The spoken instruction applied to the selection (the instruction itself when nothing is selected):
// "upper case" or "lower case" in the instruction changes the letter case; any other instruction returns
// the selection unchanged, or the instruction tidied when there is no selection.
QString aiRewrite(const QString& instruction, const std::optional<QString>& selection);

// The refined text of the combined endpoint for a refinement mode ("email", "generic", or another).
QString refineText(const QString& transcript, const std::optional<QString>& mode,
                   const std::optional<QString>& selection);

} // namespace standin
