#include "JsonDecoding.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QVariant>

#include <cmath>

namespace {
QString kindName(DecodingError::Kind kind) {
    switch (kind) {
    case DecodingError::Kind::KeyNotFound:
        return QStringLiteral("keyNotFound");
    case DecodingError::Kind::ValueNotFound:
        return QStringLiteral("valueNotFound");
    case DecodingError::Kind::TypeMismatch:
        return QStringLiteral("typeMismatch");
    case DecodingError::Kind::DataCorrupted:
        break;
    }
    return QStringLiteral("dataCorrupted");
}

QString describe(DecodingError::Kind kind, const QString& path, const QString& detail) {
    return kindName(kind) + QStringLiteral(" at ") + (path.isEmpty() ? QStringLiteral("<root>") : path) +
           QStringLiteral(": ") + detail;
}
} // namespace

DecodingError::DecodingError(Kind kind, QString path, QString detail)
    : std::runtime_error(describe(kind, path, detail).toStdString()), m_kind(kind), m_path(std::move(path)),
      m_detail(std::move(detail)) {}

QString DecodingError::description() const {
    return describe(m_kind, m_path, m_detail);
}

QJsonValue JsonEncode::finiteNumber(double value) {
    if (!std::isfinite(value)) {
        throw JsonEncodingError(QStringLiteral("Unable to encode %1 directly in JSON.").arg(value));
    }
    return value;
}

QJsonValue JsonEncode::encode(const JSONValue::Object& value) {
    return JSONValue::object(value).toJson();
}

QByteArray JsonEncode::compactText(const QJsonValue& value) {
    if (value.isObject()) {
        return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    }
    if (value.isArray()) {
        return QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
    }
    // A bare scalar: wrap it in an array and strip the brackets.
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

QString JsonDecode::childPath(const QString& path, const QString& key) {
    return path.isEmpty() ? key : path + QLatin1Char('.') + key;
}

QString JsonDecode::indexPath(const QString& path, qsizetype index) {
    return path + QStringLiteral("[%1]").arg(index);
}

namespace {
[[noreturn]] void mismatch(const QString& path, const char* expected, const QJsonValue& found) {
    static const char* names[] = {"null", "a boolean", "a number", "a string", "an array", "an object"};
    const int type = found.type();
    const char* foundName = type >= 0 && type < 6 ? names[type] : "nothing";
    throw DecodingError(
        DecodingError::Kind::TypeMismatch, path,
        QStringLiteral("Expected %1 but found %2").arg(QLatin1String(expected), QLatin1String(foundName)));
}
} // namespace

QString JsonDecode::decode(const QJsonValue& value, const QString& path, Tag<QString>) {
    if (!value.isString()) {
        mismatch(path, "a string", value);
    }
    return value.toString();
}

qint64 JsonDecode::decode(const QJsonValue& value, const QString& path, Tag<qint64>) {
    if (!value.isDouble()) {
        mismatch(path, "an integer", value);
    }
    // A whole number that fits 64 bits is held as an integer by the parser; anything else (a fraction,
    // a value out of range) is held as a double and refused.
    const QVariant variant = value.toVariant();
    if (variant.typeId() != QMetaType::LongLong) {
        throw DecodingError(DecodingError::Kind::DataCorrupted, path,
                            QStringLiteral("Parsed JSON number <%1> does not fit in Int64.")
                                .arg(value.toDouble(), 0, 'g', 17));
    }
    return variant.toLongLong();
}

double JsonDecode::decode(const QJsonValue& value, const QString& path, Tag<double>) {
    if (!value.isDouble()) {
        mismatch(path, "a number", value);
    }
    return value.toDouble();
}

bool JsonDecode::decode(const QJsonValue& value, const QString& path, Tag<bool>) {
    if (!value.isBool()) {
        mismatch(path, "a boolean", value);
    }
    return value.toBool();
}

JSONValue::Object JsonDecode::decode(const QJsonValue& value, const QString& path, Tag<JSONValue::Object>) {
    if (!value.isObject()) {
        mismatch(path, "an object", value);
    }
    return JSONValue::fromJson(value, path).objectValue();
}

QJsonValue JsonDecode::parse(const QByteArray& text) {
    QJsonParseError error{};
    // QJsonDocument only takes an object or an array at the top; a bare scalar is read inside an array.
    const QByteArray trimmed = text.trimmed();
    const bool bare = !trimmed.startsWith('{') && !trimmed.startsWith('[');
    const QJsonDocument document = QJsonDocument::fromJson(bare ? "[" + text + "]" : text, &error);
    if (error.error != QJsonParseError::NoError || document.isNull()) {
        throw DecodingError(
            DecodingError::Kind::DataCorrupted, QString(),
            QStringLiteral("The given data was not valid JSON (%1).").arg(error.errorString()));
    }
    if (bare) {
        const QJsonArray array = document.array();
        if (array.size() != 1) {
            throw DecodingError(DecodingError::Kind::DataCorrupted, QString(),
                                QStringLiteral("The given data was not valid JSON."));
        }
        return array.first();
    }
    return document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
}

JsonReader::JsonReader(const QJsonValue& value, QString path) : m_path(std::move(path)) {
    if (!value.isObject()) {
        mismatch(m_path, "an object", value);
    }
    m_object = value.toObject();
}
