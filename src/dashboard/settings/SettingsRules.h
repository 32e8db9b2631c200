#pragma once

#include "AudioInputDevice.h"

#include <QList>
#include <QString>

#include <optional>

// The rules of the settings page that need no widget: the help-bubble hover, the row arrangement, and the
// options, selections and texts of the input, language and model groups.
namespace SettingsRules {

// One option of a picker: what it shows and the value it stands for.
struct Option {
    QString label;
    QString value;

    friend bool operator==(const Option&, const Option&) = default;
};

// The open help bubble after the pointer entered the info icon of `rowID`: that row's.
std::optional<QString> helpAfterEnter(const std::optional<QString>& open, const QString& rowID);
// The open help bubble after the pointer left the info icon of `rowID`: closed only when it is still that
// row's, so a leave that arrives after the next row's enter leaves the next row's bubble open.
std::optional<QString> helpAfterLeave(const std::optional<QString>& open, const QString& rowID);
// A row shows its bubble only while it is the open one and the row has help text.
bool bubbleVisible(const std::optional<QString>& open, const QString& rowID, bool hasHelpText);

enum class RowArrangement { Horizontal, Stacked };
// The row's arrangement at `width`, given the width the horizontal arrangement needs. A stacked row turns
// horizontal only once `width` exceeds the need by `slack`, so a width near the need does not flip it back
// and forth.
RowArrangement rowArrangement(int width, int horizontalNeed, RowArrangement current, int slack = 16);

// The microphone options: "System Default" (value "") first, then the devices in the store's order.
QList<Option> microphoneOptions(const QList<AudioInputDevice>& devices);
// The option value the picker shows for the stored device id: "" for none.
QString microphoneValue(const std::optional<QString>& selectedUID);
// The device id a picked value stands for: none for "".
std::optional<QString> pickedDeviceUID(const QString& value);

// The 26 work domains in display order; the last is "custom".
const QList<Option>& workDomainOptions();
// The custom domain field shows only while the domain is "custom".
bool customDomainFieldVisible(const QString& workDomainSelection);
// The two language segments.
const QList<Option>& languageSegments();

// The index of the option whose value equals `value` exactly, -1 when none does (the picker then shows
// no selection and the stored value stays as it is).
qsizetype indexOfValue(const QList<Option>& options, const QString& value);

// One transcription tier card.
struct ModelTier {
    QString title;
    QString description;
    QString value;
};
// The three tiers in display order.
const QList<ModelTier>& modelTiers();

// The subtitle of the custom prompt row: the stored prompt trimmed, or the fallback sentence when that is
// empty.
QString customPromptSummary(const QString& customPrompt);
// The prompt that "Save" stores for a draft: trimmed at both ends.
QString promptToSave(const QString& draft);

// The three verbatim styles, as segment label and stored value.
const QList<Option>& verbatimStyles();
// The "Verbatim Mode" row's subtitle for a stored style: the Off sentence for "off" and anything unknown.
QString verbatimSubtitle(const QString& style);

// "Version S (B)", with "Unknown" for a part that is missing or empty.
QString appVersionDisplay(const std::optional<QString>& shortVersion, const std::optional<QString>& build);

inline const QString systemDefaultLabel = QStringLiteral("System Default");
inline const QString customDomainID = QStringLiteral("custom");
inline const QString customPromptFallback =
    QStringLiteral("Best results: use Keystoner Deck or AI Mode. Tidewell Blend and Zephyrix Dash may ignore "
                   "custom prompts.");

} // namespace SettingsRules
