#include "ShareSubmission.h"

#include "FileUploadPipeline.h"
#include "ServiceError.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>
#include <QtConcurrent>

using namespace Qt::StringLiterals;

namespace {

// A JSON string literal, quotes included.
QByteArray jsonString(const QString &text)
{
    const auto array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

// The inline body or the text of the error that stopped it; the worker throws nothing.
struct InlineBody
{
    QByteArray body;
    QString error;
};

InlineBody buildInlineBody(const QString &message, const QList<SharedFile> &files,
                           const std::optional<QString> &threadID, const QString &shareID)
{
    // Assembled by hand: the base64 texts are the bulk of the body and are copied only once.
    qint64 capacity = 256 + message.size() * 6;
    for (const auto &file : files)
        capacity += ShareSubmission::base64Length(file.sizeBytes) + 256;
    QByteArray body;
    body.reserve(capacity);
    body += "{\"message\":" + jsonString(message);
    if (!files.isEmpty()) {
        body += ",\"images\":[";
        for (qsizetype i = 0; i < files.size(); ++i) {
            const auto &file = files[i];
            QFile source(file.fileURL.isLocalFile() ? file.fileURL.toLocalFile() : QString());
            if (!source.open(QIODevice::ReadOnly))
                return {{},
                        QCoreApplication::translate("ShareSubmission",
                                                    "The file “%1” could not be read: %2")
                            .arg(file.filename, source.errorString())};
            const QByteArray bytes = source.readAll();
            if (source.error() != QFileDevice::NoError)
                return {{},
                        QCoreApplication::translate("ShareSubmission",
                                                    "The file “%1” could not be read: %2")
                            .arg(file.filename, source.errorString())};
            if (i > 0)
                body += ',';
            body += "{\"data\":\"";
            body += bytes.toBase64();
            body += "\",\"filename\":" + jsonString(file.filename) +
                    ",\"mediaType\":" + jsonString(file.mediaType) + '}';
        }
        body += ']';
    }
    if (threadID)
        body += ",\"threadID\":" + jsonString(*threadID);
    body += ",\"shareID\":" + jsonString(shareID) + '}';
    return {body, {}};
}

} // namespace

QString ShareSubmission::newShareID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
}

QByteArray ShareSubmission::inlineShareBody(const QString &message, const QList<SharedFile> &files,
                                            const std::optional<QString> &threadID,
                                            const QString &shareID)
{
    auto result = buildInlineBody(message, files, threadID, shareID);
    if (!result.error.isNull())
        throw ShareError(result.error);
    return std::move(result.body);
}

QCoro::Task<QByteArray> ShareSubmission::makeInlineShareBody(QString message,
                                                             QList<SharedFile> files,
                                                             std::optional<QString> threadID,
                                                             QString shareID)
{
    // A named future: temporaries inside a co_await expression are not safe with GCC 12.
    auto building = QtConcurrent::run(buildInlineBody, message, files, threadID, shareID);
    auto result = co_await building;
    if (!result.error.isNull())
        throw ShareError(result.error);
    co_return std::move(result.body);
}

QByteArray ShareSubmission::makeFilesShareBody(const QString &message,
                                               const QList<FilesShareRequest::File> &files,
                                               const std::optional<QString> &threadID,
                                               const QString &shareID)
{
    QJsonArray entries;
    for (const auto &file : files) {
        QJsonObject entry{{"uploadID"_L1, file.uploadID},
                          {"filename"_L1, file.filename},
                          {"mediaType"_L1, file.mediaType},
                          {"sizeBytes"_L1, file.sizeBytes}};
        if (file.video) {
            QJsonObject video{{"width"_L1, file.video->width}, {"height"_L1, file.video->height}};
            if (file.video->duration)
                video.insert("duration"_L1, *file.video->duration);
            entry.insert("video"_L1, video);
        }
        entries.append(entry);
    }
    QJsonObject body{{"message"_L1, message}, {"files"_L1, entries}, {"shareID"_L1, shareID}};
    if (threadID)
        body.insert("threadID"_L1, *threadID);
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

QCoro::Task<> ShareSubmission::submitShare(QPointer<SessionHolder> holder, QByteArray body)
{
    const auto answer = co_await FileUploadPipeline::postNativeShare(holder, std::move(body));
    const auto ok = QJsonDocument::fromJson(answer).object().value("ok"_L1);
    if (!ok.isBool() || !ok.toBool())
        throw ShareError(ServiceText::invalidResponse());
}
