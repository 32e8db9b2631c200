#include "HotkeyDefinition.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QStringList>

#include <cmath>
#include <limits>

namespace {

constexpr std::uint32_t maxKeyCode = 0xFFFF;

// Reads a JSON number that holds an unsigned 32-bit integer exactly.
std::optional<std::uint32_t> unsigned32(const QJsonValue& value) {
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double number = value.toDouble();
    if (!std::isfinite(number) || number < 0 || number > double(std::numeric_limits<std::uint32_t>::max()) ||
        std::floor(number) != number) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(number);
}

// Absent or null reads as false; any other kind than a Boolean fails the decoding.
std::optional<bool> optionalFlag(const QJsonObject& object, const QString& key) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull()) {
        return false;
    }
    if (!value.isBool()) {
        return std::nullopt;
    }
    return value.toBool();
}

bool modifierOnlyCaptureFlags(std::uint64_t flags) {
    return flags != 0 && flags != ModifierFlag::Shift;
}

} // namespace

QString HotkeyDefinition::displayString() const {
    return displayString(keyCode, carbonModifiers, includesFunctionKey, isModifierOnly);
}

QString HotkeyDefinition::displayString(std::uint32_t keyCode, std::uint32_t carbonModifiers,
                                        bool includesFunctionKey, bool isModifierOnly) {
    // The keys as this desktop names them: Command is Super, Option is Alt, Control is (left) Ctrl, and
    // Right Ctrl plays the Fn role. The order stays the stored form's: Command, Shift, Option, Control, Fn.
    QStringList words;
    if (carbonModifiers & CarbonModifier::Command) {
        words << QStringLiteral("Super");
    }
    if (carbonModifiers & CarbonModifier::Shift) {
        words << QStringLiteral("Shift");
    }
    if (carbonModifiers & CarbonModifier::Option) {
        words << QStringLiteral("Alt");
    }
    if (carbonModifiers & CarbonModifier::Control) {
        words << QStringLiteral("Ctrl");
    }
    const bool isFunctionKey = keyCode == functionKeyCode;
    if (includesFunctionKey || isFunctionKey) {
        words << supportedKeyNames().value(functionKeyCode);
    }
    if (!isModifierOnly && !isFunctionKey) {
        // A code beyond the 16-bit range is not a key of any table: it is shown by its number.
        const auto& names = supportedKeyNames();
        const auto it =
            keyCode <= maxKeyCode ? names.constFind(static_cast<std::uint16_t>(keyCode)) : names.constEnd();
        words << (it != names.constEnd() ? *it : QStringLiteral("Key %1").arg(keyCode));
    }
    return words.join(QStringLiteral(" + "));
}

std::uint32_t HotkeyDefinition::carbonModifiersFrom(std::uint64_t modifierFlags) {
    std::uint32_t result = 0;
    if (modifierFlags & ModifierFlag::Command) {
        result |= CarbonModifier::Command;
    }
    if (modifierFlags & ModifierFlag::Shift) {
        result |= CarbonModifier::Shift;
    }
    if (modifierFlags & ModifierFlag::Option) {
        result |= CarbonModifier::Option;
    }
    if (modifierFlags & ModifierFlag::Control) {
        result |= CarbonModifier::Control;
    }
    return result;
}

std::optional<HotkeyDefinition> HotkeyDefinition::captured(std::uint32_t id, const HotkeyKeyEvent& event) {
    const std::uint64_t flags = event.modifierFlags & ModifierFlag::ShortcutMask;
    const bool hasFn = (flags & ModifierFlag::Function) != 0;

    if ((event.kind == HotkeyKeyEvent::Kind::FlagsChanged || event.keyCode == functionKeyCode) &&
        modifierOnlyCaptureFlags(flags)) {
        return HotkeyDefinition{id, 0, carbonModifiersFrom(flags), hasFn, true};
    }

    const bool fnInvolved = hasFn || event.keyCode == functionKeyCode;
    if (!supportedKeyNames().contains(event.keyCode) || flags == ModifierFlag::Shift) {
        return std::nullopt;
    }
    if (flags == 0 && !standaloneSafeKeyNames().contains(event.keyCode)) {
        return std::nullopt;
    }
    if (fnInvolved && (event.keyCode == 0 || event.keyCode == functionKeyCode)) {
        return HotkeyDefinition{id, 0, carbonModifiersFrom(flags), true, true};
    }
    return HotkeyDefinition{id, event.keyCode, carbonModifiersFrom(flags), fnInvolved, false};
}

std::span<const ShortcutKey> HotkeyDefinition::shortcutKeys() {
    return ShortcutKeys::all();
}

const QMap<std::uint16_t, QString>& HotkeyDefinition::supportedKeyNames() {
    return ShortcutKeys::names();
}

const QMap<std::uint16_t, QString>& HotkeyDefinition::standaloneSafeKeyNames() {
    return ShortcutKeys::standaloneSafeNames();
}

QJsonObject HotkeyDefinition::toJson() const {
    return QJsonObject{
        {QStringLiteral("id"), qint64(id)},
        {QStringLiteral("keyCode"), qint64(keyCode)},
        {QStringLiteral("carbonModifiers"), qint64(carbonModifiers)},
        {QStringLiteral("includesFunctionKey"), includesFunctionKey},
        {QStringLiteral("isModifierOnly"), isModifierOnly},
    };
}

QByteArray HotkeyDefinition::toJsonText() const {
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

std::optional<HotkeyDefinition> HotkeyDefinition::fromJson(const QJsonValue& json) {
    if (!json.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = json.toObject();
    const auto id = unsigned32(object.value(QStringLiteral("id")));
    const auto keyCode = unsigned32(object.value(QStringLiteral("keyCode")));
    const auto modifiers = unsigned32(object.value(QStringLiteral("carbonModifiers")));
    const auto includesFn = optionalFlag(object, QStringLiteral("includesFunctionKey"));
    const auto modifierOnly = optionalFlag(object, QStringLiteral("isModifierOnly"));
    if (!id || !keyCode || !modifiers || !includesFn || !modifierOnly || *keyCode > maxKeyCode) {
        return std::nullopt;
    }
    return HotkeyDefinition{*id, *keyCode, *modifiers, *includesFn, *modifierOnly};
}

std::optional<HotkeyDefinition> HotkeyDefinition::fromJsonText(const QByteArray& text) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    return fromJson(document.object());
}
