#include "JSONValue.h"

#include "JsonDecoding.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cmath>

JSONValue JSONValue::string(QString value) {
    JSONValue v;
    v.m_kind = Kind::String;
    v.m_string = std::move(value);
    return v;
}

JSONValue JSONValue::number(double value) {
    JSONValue v;
    v.m_kind = Kind::Number;
    v.m_number = value;
    return v;
}

JSONValue JSONValue::boolean(bool value) {
    JSONValue v;
    v.m_kind = Kind::Bool;
    v.m_bool = value;
    return v;
}

JSONValue JSONValue::object(Object value) {
    JSONValue v;
    v.m_kind = Kind::Object;
    v.m_object = std::move(value);
    return v;
}

JSONValue JSONValue::array(Array value) {
    JSONValue v;
    v.m_kind = Kind::Array;
    v.m_array = std::move(value);
    return v;
}

QJsonValue JSONValue::toJson() const {
    switch (m_kind) {
    case Kind::String:
        return m_string;
    case Kind::Number:
        return JsonEncode::finiteNumber(m_number);
    case Kind::Bool:
        return m_bool;
    case Kind::Object: {
        QJsonObject object;
        for (const auto& [key, value] : m_object) {
            object.insert(key, value.toJson());
        }
        return object;
    }
    case Kind::Array: {
        QJsonArray array;
        for (const auto& value : m_array) {
            array.append(value.toJson());
        }
        return array;
    }
    case Kind::Null:
        break;
    }
    return QJsonValue(QJsonValue::Null);
}

JSONValue JSONValue::fromJson(const QJsonValue& json, const QString& path) {
    switch (json.type()) {
    case QJsonValue::Null:
        return null();
    case QJsonValue::Bool:
        return boolean(json.toBool());
    case QJsonValue::Double:
        return number(json.toDouble());
    case QJsonValue::String:
        return string(json.toString());
    case QJsonValue::Object: {
        Object object;
        const QJsonObject source = json.toObject();
        for (auto it = source.begin(); it != source.end(); ++it) {
            object.emplace(it.key(), fromJson(it.value(), JsonDecode::childPath(path, it.key())));
        }
        return JSONValue::object(std::move(object));
    }
    case QJsonValue::Array: {
        Array array;
        const QJsonArray source = json.toArray();
        array.reserve(source.size());
        for (qsizetype i = 0; i < source.size(); ++i) {
            array.push_back(fromJson(source.at(i), JsonDecode::indexPath(path, i)));
        }
        return JSONValue::array(std::move(array));
    }
    case QJsonValue::Undefined:
        break;
    }
    throw DecodingError(DecodingError::Kind::DataCorrupted, path, QStringLiteral("Unsupported JSON value"));
}
