#include "StandinRewrite.h"

namespace standin {

QString tidyText(const QString& text) {
    QString out = text.trimmed();
    if (out.isEmpty()) {
        return out;
    }
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out[i].isLetter()) {
            out[i] = out[i].toUpper();
            break;
        }
    }
    const QChar last = out.back();
    if (last != QLatin1Char('.') && last != QLatin1Char('!') && last != QLatin1Char('?')) {
        out += QLatin1Char('.');
    }
    return out;
}

QString aiRewrite(const QString& instruction, const std::optional<QString>& selection) {
    const QString spoken = instruction.toLower();
    const bool hasSelection = selection && !selection->isEmpty();
    const QString target = hasSelection ? *selection : instruction.trimmed();
    if (spoken.contains(QLatin1String("upper case")) || spoken.contains(QLatin1String("uppercase"))) {
        return target.toUpper();
    }
    if (spoken.contains(QLatin1String("lower case")) || spoken.contains(QLatin1String("lowercase"))) {
        return target.toLower();
    }
    return hasSelection ? *selection : tidyText(instruction);
}

QString refineText(const QString& transcript, const std::optional<QString>& mode,
                   const std::optional<QString>& selection) {
    if (mode == QLatin1String("email")) {
        return tidyText(transcript);
    }
    if (mode == QLatin1String("generic")) {
        return aiRewrite(transcript, selection);
    }
    return transcript;
}

} // namespace standin
