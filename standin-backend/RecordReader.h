#pragma once

#include "HttpMessage.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace standin {

inline HttpError badRequest(const std::string& message) {
    return HttpError{400, message};
}

// Reads one JSON object member by member: unknown keys are ignored, a missing or null required member
// and a value of the wrong kind fail with a message naming the member's path.
class RecordReader {
public:
    RecordReader(QJsonObject object, std::string path)
        : m_object(std::move(object)), m_path(std::move(path)) {}

    static RecordReader fromBody(const std::string& body) {
        QJsonParseError error{};
        const QJsonDocument doc =
            QJsonDocument::fromJson(QByteArray(body.data(), static_cast<qsizetype>(body.size())), &error);
        if (error.error != QJsonParseError::NoError)
            throw badRequest("malformed JSON: " + error.errorString().toStdString() + " at offset " +
                             std::to_string(error.offset));
        if (!doc.isObject())
            throw badRequest("request body must be a JSON object");
        return RecordReader(doc.object(), std::string());
    }

    std::string pathOf(const std::string& key) const { return m_path.empty() ? key : m_path + "." + key; }

    std::optional<QString> optionalString(const char* key) const {
        const QJsonValue v = value(key, false);
        if (v.isUndefined())
            return std::nullopt;
        if (!v.isString())
            throw wrongKind(key, "a string");
        return v.toString();
    }

    QString requiredString(const char* key) const {
        const QJsonValue v = value(key, true);
        if (!v.isString())
            throw wrongKind(key, "a string");
        return v.toString();
    }

    bool requiredBool(const char* key) const {
        const QJsonValue v = value(key, true);
        if (!v.isBool())
            throw wrongKind(key, "a boolean");
        return v.toBool();
    }

    std::optional<bool> optionalBool(const char* key) const {
        const QJsonValue v = value(key, false);
        if (v.isUndefined())
            return std::nullopt;
        if (!v.isBool())
            throw wrongKind(key, "a boolean");
        return v.toBool();
    }

    std::optional<QJsonObject> optionalObject(const char* key) const {
        const QJsonValue v = value(key, false);
        if (v.isUndefined())
            return std::nullopt;
        if (!v.isObject())
            throw wrongKind(key, "an object");
        return v.toObject();
    }

    QJsonObject requiredObject(const char* key) const {
        const QJsonValue v = value(key, true);
        if (!v.isObject())
            throw wrongKind(key, "an object");
        return v.toObject();
    }

    std::optional<QJsonArray> optionalArray(const char* key) const {
        const QJsonValue v = value(key, false);
        if (v.isUndefined())
            return std::nullopt;
        if (!v.isArray())
            throw wrongKind(key, "an array");
        return v.toArray();
    }

    std::optional<RecordReader> optionalRecord(const char* key) const {
        if (auto o = optionalObject(key))
            return RecordReader(*o, pathOf(key));
        return std::nullopt;
    }

    RecordReader requiredRecord(const char* key) const {
        return RecordReader(requiredObject(key), pathOf(key));
    }

    // The elements of an array of records, each one checked to be an object.
    std::vector<RecordReader> records(const char* key, const QJsonArray& array) const {
        std::vector<RecordReader> out;
        for (qsizetype i = 0; i < array.size(); ++i) {
            const std::string elementPath = pathOf(key) + "[" + std::to_string(i) + "]";
            if (!array.at(i).isObject())
                throw badRequest("member \"" + elementPath + "\" must be an object");
            out.emplace_back(array.at(i).toObject(), elementPath);
        }
        return out;
    }

private:
    // Undefined when an optional member is missing or null.
    QJsonValue value(const char* key, bool required) const {
        const QJsonValue v = m_object.value(QLatin1String(key));
        if (v.isUndefined()) {
            if (required)
                throw badRequest("missing member \"" + pathOf(key) + "\"");
            return v;
        }
        if (v.isNull()) {
            if (required)
                throw badRequest("member \"" + pathOf(key) + "\" must not be null");
            return QJsonValue(QJsonValue::Undefined);
        }
        return v;
    }

    HttpError wrongKind(const char* key, const char* kind) const {
        return badRequest("member \"" + pathOf(key) + "\" must be " + kind);
    }

    QJsonObject m_object;
    std::string m_path;
};

} // namespace standin
