#pragma once

#include "JSONValue.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <concepts>
#include <optional>
#include <stdexcept>

// Why a JSON record could not be read. `path` names the keys and array positions that led to the
// failure ("session.total_minutes", "tutorials[0].url"); empty for the top level.
class DecodingError : public std::runtime_error {
public:
    enum class Kind { KeyNotFound, ValueNotFound, TypeMismatch, DataCorrupted };

    DecodingError(Kind kind, QString path, QString detail);

    Kind kind() const { return m_kind; }
    const QString& path() const { return m_path; }
    const QString& detail() const { return m_detail; }
    // One line naming the kind, the path and the detail.
    QString description() const;

private:
    Kind m_kind;
    QString m_path;
    QString m_detail;
};

// A value that JSON cannot spell (a number that is not finite).
class JsonEncodingError : public std::runtime_error {
public:
    explicit JsonEncodingError(const QString& detail) : std::runtime_error(detail.toStdString()) {}
};

class JsonWriter;
class JsonReader;

// A record lists its members once, in order, in `template <class IO> void serialize(IO& io)` with
// `io.required("key", member)` and `io.optional("key", optionalMember)`; the same list writes and reads it.
template <class T>
concept JsonRecord = requires(T record, JsonWriter& writer, JsonReader& reader) {
    record.serialize(writer);
    record.serialize(reader);
};

namespace JsonEncode {
QJsonValue finiteNumber(double value);

inline QJsonValue encode(const QString& value) {
    return value;
}
inline QJsonValue encode(qint64 value) {
    return value;
}
inline QJsonValue encode(double value) {
    return finiteNumber(value);
}
inline QJsonValue encode(bool value) {
    return value;
}
QJsonValue encode(const JSONValue::Object& value);
template <JsonRecord T> QJsonValue encode(const T& record);
template <class T> QJsonValue encode(const QList<T>& values) {
    QJsonArray array;
    for (const T& value : values) {
        array.append(encode(value));
    }
    return array;
}

// Compact JSON text of a record or an array of records.
QByteArray compactText(const QJsonValue& value);
} // namespace JsonEncode

class JsonWriter {
public:
    template <class T> void required(const char* key, const T& value) {
        m_object.insert(QLatin1String(key), JsonEncode::encode(value));
    }
    template <class T> void optional(const char* key, const std::optional<T>& value) {
        if (value) {
            m_object.insert(QLatin1String(key), JsonEncode::encode(*value));
        }
    }
    QJsonObject take() { return std::move(m_object); }

private:
    QJsonObject m_object;
};

namespace JsonDecode {
QString childPath(const QString& path, const QString& key);
QString indexPath(const QString& path, qsizetype index);

template <class T> struct Tag {};
QString decode(const QJsonValue& value, const QString& path, Tag<QString>);
qint64 decode(const QJsonValue& value, const QString& path, Tag<qint64>);
double decode(const QJsonValue& value, const QString& path, Tag<double>);
bool decode(const QJsonValue& value, const QString& path, Tag<bool>);
JSONValue::Object decode(const QJsonValue& value, const QString& path, Tag<JSONValue::Object>);
template <JsonRecord T> T decode(const QJsonValue& value, const QString& path, Tag<T>);
// Reads a JSON array at `path` element by element with `decodeElement(element, elementPath)`.
template <class T, class Decode>
QList<T> decodeArray(const QJsonValue& value, const QString& path, Decode decodeElement) {
    if (!value.isArray()) {
        throw DecodingError(DecodingError::Kind::TypeMismatch, path, QStringLiteral("Expected an array"));
    }
    const QJsonArray array = value.toArray();
    QList<T> result;
    result.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        result.append(decodeElement(array.at(i), indexPath(path, i)));
    }
    return result;
}
template <class T> QList<T> decode(const QJsonValue& value, const QString& path, Tag<QList<T>>) {
    return decodeArray<T>(value, path, [](const QJsonValue& element, const QString& at) {
        return decode(element, at, Tag<T>{});
    });
}

// Parses body bytes as one JSON value; text that is not JSON throws DecodingError (data corrupted).
QJsonValue parse(const QByteArray& text);
} // namespace JsonDecode

class JsonReader {
public:
    // Throws a type mismatch unless `value` is an object.
    JsonReader(const QJsonValue& value, QString path);

    template <class T> void required(const char* key, T& member) {
        const QString name = QLatin1String(key);
        const QString path = JsonDecode::childPath(m_path, name);
        const auto it = m_object.constFind(name);
        if (it == m_object.constEnd()) {
            throw DecodingError(DecodingError::Kind::KeyNotFound, path,
                                QStringLiteral("No value for the key"));
        }
        if (it->isNull()) {
            throw DecodingError(DecodingError::Kind::ValueNotFound, path,
                                QStringLiteral("Expected a value but found null"));
        }
        member = JsonDecode::decode(*it, path, JsonDecode::Tag<T>{});
    }
    template <class T> void optional(const char* key, std::optional<T>& member) {
        const QString name = QLatin1String(key);
        const auto it = m_object.constFind(name);
        if (it == m_object.constEnd() || it->isNull()) {
            member.reset();
            return;
        }
        member = JsonDecode::decode(*it, JsonDecode::childPath(m_path, name), JsonDecode::Tag<T>{});
    }

private:
    QJsonObject m_object;
    QString m_path;
};

template <JsonRecord T> QJsonValue JsonEncode::encode(const T& record) {
    JsonWriter writer;
    const_cast<T&>(record).serialize(writer); // the writer only reads the members
    return writer.take();
}

template <JsonRecord T> T JsonDecode::decode(const QJsonValue& value, const QString& path, Tag<T>) {
    JsonReader reader(value, path);
    T record{};
    record.serialize(reader);
    return record;
}

// Whole-record helpers.
template <JsonRecord T> QJsonObject toJsonObject(const T& record) {
    return JsonEncode::encode(record).toObject();
}
template <JsonRecord T> QByteArray toJsonText(const T& record) {
    return JsonEncode::compactText(JsonEncode::encode(record));
}
template <class T> QByteArray toJsonText(const QList<T>& records) {
    return JsonEncode::compactText(JsonEncode::encode(records));
}
template <class T> T fromJsonValue(const QJsonValue& value) {
    return JsonDecode::decode(value, QString(), JsonDecode::Tag<T>{});
}
template <class T> T fromJsonText(const QByteArray& text) {
    return fromJsonValue<T>(JsonDecode::parse(text));
}
