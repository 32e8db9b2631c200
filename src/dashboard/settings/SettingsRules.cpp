#include "SettingsRules.h"

namespace SettingsRules {

std::optional<QString> helpAfterEnter(const std::optional<QString>&, const QString& rowID) {
    return rowID;
}

std::optional<QString> helpAfterLeave(const std::optional<QString>& open, const QString& rowID) {
    if (open == rowID)
        return std::nullopt;
    return open;
}

bool bubbleVisible(const std::optional<QString>& open, const QString& rowID, bool hasHelpText) {
    return hasHelpText && open == rowID;
}

RowArrangement rowArrangement(int width, int horizontalNeed, RowArrangement current, int slack) {
    if (width < horizontalNeed)
        return RowArrangement::Stacked;
    if (current == RowArrangement::Stacked && width < horizontalNeed + slack)
        return RowArrangement::Stacked;
    return RowArrangement::Horizontal;
}

QList<Option> microphoneOptions(const QList<AudioInputDevice>& devices) {
    QList<Option> options{{systemDefaultLabel, QString()}};
    for (const AudioInputDevice& device : devices)
        options.append({device.name, device.id});
    return options;
}

QString microphoneValue(const std::optional<QString>& selectedUID) {
    return selectedUID.value_or(QString());
}

std::optional<QString> pickedDeviceUID(const QString& value) {
    if (value.isEmpty())
        return std::nullopt;
    return value;
}

const QList<Option>& workDomainOptions() {
    static const QList<Option> options{
        {QStringLiteral("General / Other"), QStringLiteral("general")},
        {QStringLiteral("Accounting & Tax"), QStringLiteral("accounting")},
        {QStringLiteral("Architecture & Construction"), QStringLiteral("architecture")},
        {QStringLiteral("Computer Engineering"), QStringLiteral("computer_engineering")},
        {QStringLiteral("Consulting & Strategy"), QStringLiteral("consulting")},
        {QStringLiteral("Customer Support & Success"), QStringLiteral("customer_support")},
        {QStringLiteral("Data Science & Analytics"), QStringLiteral("data_science")},
        {QStringLiteral("Education & Training"), QStringLiteral("education")},
        {QStringLiteral("Engineering (General)"), QStringLiteral("engineering")},
        {QStringLiteral("Finance & Trading"), QStringLiteral("finance")},
        {QStringLiteral("Human Resources (HR)"), QStringLiteral("hr")},
        {QStringLiteral("IT & Tech Support"), QStringLiteral("it")},
        {QStringLiteral("Insurance & Claims"), QStringLiteral("insurance")},
        {QStringLiteral("Journalism & Media"), QStringLiteral("journalism")},
        {QStringLiteral("Legal & Compliance"), QStringLiteral("legal")},
        {QStringLiteral("Marketing & Communications"), QStringLiteral("marketing")},
        {QStringLiteral("Medical & Clinical"), QStringLiteral("medical")},
        {QStringLiteral("Operations & Supply Chain"), QStringLiteral("operations")},
        {QStringLiteral("Product Management"), QStringLiteral("product_management")},
        {QStringLiteral("Project Management"), QStringLiteral("project_management")},
        {QStringLiteral("Psychology & Counseling"), QStringLiteral("psychology")},
        {QStringLiteral("Real Estate"), QStringLiteral("real_estate")},
        {QStringLiteral("Academic & Scientific Research"), QStringLiteral("research")},
        {QStringLiteral("Sales & Business Development"), QStringLiteral("sales")},
        {QStringLiteral("Software Engineering"), QStringLiteral("software_engineering")},
        {QStringLiteral("Custom"), customDomainID},
    };
    return options;
}

bool customDomainFieldVisible(const QString& workDomainSelection) {
    return workDomainSelection == customDomainID;
}

const QList<Option>& languageSegments() {
    static const QList<Option> segments{
        {QStringLiteral("Auto Detect"), QStringLiteral("auto_detect")},
        {QStringLiteral("English Only"), QStringLiteral("english_only")},
    };
    return segments;
}

qsizetype indexOfValue(const QList<Option>& options, const QString& value) {
    for (qsizetype i = 0; i < options.size(); ++i) {
        if (options.at(i).value == value)
            return i;
    }
    return -1;
}

const QList<ModelTier>& modelTiers() {
    static const QList<ModelTier> tiers{
        {QStringLiteral("Tidewell Blend"),
         QStringLiteral(
             "Balanced accuracy and latency for daily dictation. Best for medical. Recommended for "
             "most workflows."),
         QStringLiteral("tidewell")},
        {QStringLiteral("Zephyrix Dash"),
         QStringLiteral(
             "Blazing-fast turnaround for live conversations, captions, and rapid team stand-ups."),
         QStringLiteral("zephyrix")},
        {QStringLiteral("Keystoner Deck"),
         QStringLiteral("Our most capable transcription engine, built for complex briefs and demanding "
                        "terminology."),
         QStringLiteral("keystoner")},
    };
    return tiers;
}

QString customPromptSummary(const QString& customPrompt) {
    const QString trimmed = customPrompt.trimmed();
    return trimmed.isEmpty() ? customPromptFallback : trimmed;
}

QString promptToSave(const QString& draft) {
    return draft.trimmed();
}

const QList<Option>& verbatimStyles() {
    static const QList<Option> styles{
        {QStringLiteral("Off"), QStringLiteral("off")},
        {QStringLiteral("Assisted"), QStringLiteral("assisted")},
        {QStringLiteral("Strict"), QStringLiteral("strict")},
    };
    return styles;
}

QString verbatimSubtitle(const QString& style) {
    if (style == QLatin1String("assisted"))
        return QStringLiteral("Assisted: stays literal while the model auto-formats punctuation.");
    if (style == QLatin1String("strict"))
        return QStringLiteral("Strict: speak punctuation commands for full manual control.");
    return QStringLiteral("Off: standard smart formatting applied after transcription.");
}

QString appVersionDisplay(const std::optional<QString>& shortVersion, const std::optional<QString>& build) {
    const auto part = [](const std::optional<QString>& value) {
        return value && !value->isEmpty() ? *value : QStringLiteral("Unknown");
    };
    return QStringLiteral("Version %1 (%2)").arg(part(shortVersion), part(build));
}

} // namespace SettingsRules
