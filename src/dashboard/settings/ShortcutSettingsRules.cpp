#include "ShortcutSettingsRules.h"

#include <algorithm>
#include <cmath>

namespace ShortcutSettingsRules {

namespace {

using DashboardHotkeyCaptureIntents::modeName;

constexpr double presetDelays[] = {0.005, 0.01, 0.02, 0.03, 0.05};

// A stored delay counts as a preset when it differs from one by no more than rounding noise.
constexpr double presetTolerance = 1e-9;

// The delay as seconds with three decimals, or as many more (up to six) as it takes to say it exactly,
// so a custom delay never reads like the preset next to it.
QString delayText(double delay) {
    for (int decimals = 3; decimals < 6; ++decimals) {
        const QString text = QString::number(delay, 'f', decimals);
        if (std::abs(text.toDouble() - delay) <= presetTolerance)
            return text;
    }
    return QString::number(delay, 'f', 6);
}

} // namespace

QString shortcutSubtitle(const HotkeyDefinition& hotkey, bool enabled) {
    return enabled ? hotkey.displayString() : QStringLiteral("Disabled");
}

QString enableButtonLabel(bool enabled) {
    return enabled ? QStringLiteral("Disable") : QStringLiteral("Enable");
}

QString captureSentence(DashboardHotkeyCaptureIntent intent) {
    return QStringLiteral("Press the new shortcut for %1.").arg(modeName(intent));
}

QString switchedSentence(DashboardHotkeyCaptureIntent intent, bool enabled) {
    return QStringLiteral("%1 shortcut %2.")
        .arg(modeName(intent), enabled ? QStringLiteral("enabled") : QStringLiteral("disabled"));
}

const QList<Option>& middleMouseOptions() {
    static const QList<Option> options{
        {QStringLiteral("Disabled"), QStringLiteral("off")},
        {QStringLiteral("Dictation"), QStringLiteral("dictation")},
        {QStringLiteral("Typing Mode"), QStringLiteral("vdi")},
        {QStringLiteral("AI Mode"), QStringLiteral("ai_refinement")},
    };
    return options;
}

const QList<Option>& typingDelayPresets() {
    static const QList<Option> presets = [] {
        QList<Option> result;
        for (const double delay : presetDelays) {
            const QString tag = QString::asprintf("%.3f", delay);
            result.append({tag + QLatin1Char('s'), tag});
        }
        return result;
    }();
    return presets;
}

QString typingDelayPresetLabel(double delay) {
    double best = presetDelays[0];
    for (const double preset : presetDelays) {
        // Strictly closer only: a tie keeps the smaller preset, and NaN never compares closer.
        if (std::abs(preset - delay) < std::abs(best - delay))
            best = preset;
    }
    return QString::asprintf("%.3f", best);
}

double typingDelayForTag(const QString& tag) {
    bool ok = false;
    const double delay = tag.toDouble(&ok);
    return ok ? delay : 0.01;
}

TypingDelayMenu typingDelayMenu(double delay) {
    TypingDelayMenu menu;
    menu.options = typingDelayPresets();
    for (qsizetype i = 0; i < menu.options.size(); ++i) {
        if (std::abs(presetDelays[i] - delay) <= presetTolerance) {
            menu.selected = int(i);
            return menu;
        }
    }
    const QString label = std::isfinite(delay) ? QStringLiteral("Custom (%1s)").arg(delayText(delay))
                                               : QStringLiteral("Custom");
    menu.options.append({label, QString()});
    menu.selected = int(menu.options.size() - 1);
    return menu;
}

int silenceSliderPosition(int threshold) {
    return std::clamp(threshold, silenceSliderMinimum, silenceSliderMaximum);
}

int silenceThresholdForPosition(int position) {
    const double steps = std::round(double(position - silenceSliderMinimum) / silenceSliderStep);
    return silenceSliderPosition(silenceSliderMinimum + int(steps) * silenceSliderStep);
}

QString silenceThresholdLabel(int threshold) {
    return QString::asprintf("%lld", static_cast<long long>(threshold));
}

} // namespace ShortcutSettingsRules
