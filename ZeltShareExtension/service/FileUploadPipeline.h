#pragma once

#include "SharedFile.h"

#include <QByteArray>
#include <QCoroTask>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <optional>

class SessionHolder;

// How a file reaches the service: prepare an upload, then send the bytes straight to the
// upload URL, or through the service's upload proxy when the origin is a custom domain or the
// direct transfer fails.
class FileUploadPipeline
{
public:
    struct PreparedUpload
    {
        QString uploadID;
        QUrl uploadURL;
    };

    enum class UploadReason { CustomDomain, DirectNetworkError, DirectHttpError };
    // "custom-domain", "direct-network-error", "direct-http-error"
    static QByteArray reasonText(UploadReason reason);

    // POST api/tovi/native-share with a JSON body; the successful answer's body, unparsed.
    static QCoro::Task<QByteArray> postNativeShare(QPointer<SessionHolder> holder, QByteArray body);

    // {"action":"prepare-upload","file":{…},"threadID":…}; no threadID for Tovi.
    static QByteArray prepareUploadBody(const SharedFile &file,
                                        const std::optional<QString> &threadID);
    static QCoro::Task<PreparedUpload>
    prepareUpload(QPointer<SessionHolder> holder, SharedFile file, std::optional<QString> threadID);

    // Streams the file to uploadURL, or through the proxy. onProgress receives each transfer's
    // running byte count, starting again from zero for the proxy after a failed direct try.
    static QCoro::Task<> uploadFile(QPointer<SessionHolder> holder, SharedFile file, QUrl uploadURL,
                                    std::function<void(qint64)> onProgress);

    // True when the origin is one of the adopted custom domains, which upload only by proxy.
    static bool usesProxyOnly(const QUrl &baseOrigin);
};
