#pragma once

#include <QJsonValue>
#include <QString>

#include <map>
#include <vector>

// One free-form JSON value: string, number (always a double), bool, object, array or null.
// Objects are unordered maps with unique keys; arrays keep their order. Values are copied whole.
class JSONValue {
public:
    enum class Kind { String, Number, Bool, Object, Array, Null };
    using Object = std::map<QString, JSONValue>;
    using Array = std::vector<JSONValue>;

    JSONValue() = default; // null
    static JSONValue string(QString value);
    static JSONValue number(double value);
    static JSONValue boolean(bool value);
    static JSONValue object(Object value);
    static JSONValue array(Array value);
    static JSONValue null() { return {}; }

    Kind kind() const { return m_kind; }
    bool isNull() const { return m_kind == Kind::Null; }
    // Payload accessors; each is meaningful only for its own kind (others give an empty value).
    const QString& stringValue() const { return m_string; }
    double numberValue() const { return m_number; }
    bool boolValue() const { return m_bool; }
    const Object& objectValue() const { return m_object; }
    const Array& arrayValue() const { return m_array; }

    // Throws JsonEncodingError when a number anywhere inside is not finite.
    QJsonValue toJson() const;
    // Tries null, bool, number, string, object, array in that order; anything else throws
    // DecodingError (data corrupted, "Unsupported JSON value") at `path`.
    static JSONValue fromJson(const QJsonValue& json, const QString& path = {});

private:
    Kind m_kind = Kind::Null;
    QString m_string;
    double m_number = 0;
    bool m_bool = false;
    Object m_object;
    Array m_array;
};
