#include "MultipartFormDataBuilder.h"

#include "TextUtilities.h"

#include <QList>
#include <QPair>

#include <utility>

namespace {

constexpr QByteArrayView kDashes("--");
constexpr QByteArrayView kLineEnd("\r\n");
constexpr QByteArrayView kDispositionStart("Content-Disposition: form-data; name=\"");
constexpr QByteArrayView kFieldHeaderEnd("\"\r\n\r\n");
constexpr QByteArrayView kFileNameStart("\"; filename=\"");
constexpr QByteArrayView kQuoteLineEnd("\"\r\n");
constexpr QByteArrayView kContentTypeStart("Content-Type: ");
constexpr QByteArrayView kHeaderEnd("\r\n\r\n");

} // namespace

MultipartFormDataBuilder::BuiltRequest
MultipartFormDataBuilder::makeRequestBody(const QMap<QString, QString>& fields, const QString& fileFieldName,
                                          const QString& fileName, const QString& mimeType,
                                          const QByteArray& fileData) {
    return makeRequestBody(QStringLiteral("Boundary-") + Text::newUuidText(), fields, fileFieldName, fileName,
                           mimeType, fileData);
}

MultipartFormDataBuilder::BuiltRequest
MultipartFormDataBuilder::makeRequestBody(const QString& boundary, const QMap<QString, QString>& fields,
                                          const QString& fileFieldName, const QString& fileName,
                                          const QString& mimeType, const QByteArray& fileData) {
    const QByteArray boundaryBytes = boundary.toUtf8();
    const QByteArray fileFieldBytes = fileFieldName.toUtf8();
    const QByteArray fileNameBytes = fileName.toUtf8();
    const QByteArray mimeTypeBytes = mimeType.toUtf8();

    // "--" B CRLF, the part's headers, its content, CRLF.
    const qsizetype delimiterSize = kDashes.size() + boundaryBytes.size() + kLineEnd.size();

    QList<QPair<QByteArray, QByteArray>> encodedFields;
    encodedFields.reserve(fields.size());
    qsizetype total = 0;
    for (auto it = fields.cbegin(); it != fields.cend(); ++it) {
        encodedFields.append({it.key().toUtf8(), it.value().toUtf8()});
        const auto& [name, value] = encodedFields.constLast();
        total += delimiterSize + kDispositionStart.size() + name.size() + kFieldHeaderEnd.size() +
                 value.size() + kLineEnd.size();
    }
    total += delimiterSize + kDispositionStart.size() + fileFieldBytes.size() + kFileNameStart.size() +
             fileNameBytes.size() + kQuoteLineEnd.size() + kContentTypeStart.size() + mimeTypeBytes.size() +
             kHeaderEnd.size() + fileData.size() + kLineEnd.size();
    total += kDashes.size() + boundaryBytes.size() + kDashes.size() + kLineEnd.size();

    QByteArray body;
    body.reserve(total);
    auto appendDelimiter = [&] { body.append(kDashes).append(boundaryBytes).append(kLineEnd); };

    for (const auto& [name, value] : std::as_const(encodedFields)) {
        appendDelimiter();
        body.append(kDispositionStart).append(name).append(kFieldHeaderEnd);
        body.append(value).append(kLineEnd);
    }

    appendDelimiter();
    body.append(kDispositionStart).append(fileFieldBytes).append(kFileNameStart).append(fileNameBytes);
    body.append(kQuoteLineEnd);
    body.append(kContentTypeStart).append(mimeTypeBytes).append(kHeaderEnd);
    body.append(fileData).append(kLineEnd);

    body.append(kDashes).append(boundaryBytes).append(kDashes).append(kLineEnd);
    Q_ASSERT(body.size() == total);

    return {std::move(body), QStringLiteral("multipart/form-data; boundary=") + boundary};
}
