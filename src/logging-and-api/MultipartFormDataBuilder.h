#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// Builds a multipart/form-data body (text fields, then one file part) and its Content-Type value.
class MultipartFormDataBuilder {
public:
    MultipartFormDataBuilder() = delete;

    struct BuiltRequest {
        QByteArray body;
        QString contentType;
    };

    // A fresh boundary "Boundary-<upper-case UUID>" is drawn on every call.
    static BuiltRequest makeRequestBody(const QMap<QString, QString>& fields, const QString& fileFieldName,
                                        const QString& fileName, const QString& mimeType,
                                        const QByteArray& fileData);

    // The same with a given boundary; for tests that compare bytes.
    static BuiltRequest makeRequestBody(const QString& boundary, const QMap<QString, QString>& fields,
                                        const QString& fileFieldName, const QString& fileName,
                                        const QString& mimeType, const QByteArray& fileData);
};
