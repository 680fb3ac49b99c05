#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QSslConfiguration>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>

// The PUT of one file straight to the storage URL the service chose for it. The file is read
// in pieces of one TLS record and written to a connection of its own on this thread, never
// more than a few pieces ahead of the network: the upload runs at the connection's speed, with
// little memory, and without handing each piece between threads. Only the answer's status is
// read. No redirect is followed, no cookie sent, no credentials given to a proxy; the system
// proxy is used as for every other call.
class StorageUpload
{
public:
    struct Request
    {
        // http or https
        QUrl url;
        QString filePath;
        QByteArray contentType;
        QSslConfiguration tls;
        // The upload ends as timed out after this long without any transfer; there is no
        // limit on the whole upload.
        std::chrono::milliseconds idleTimeout{std::chrono::seconds(120)};
        // The body bytes sent so far: now and then while sending, and the whole size once
        // the answer has come after the whole body.
        std::function<void(qint64)> onProgress;
    };

    // The answer's status code. Throws TransportError when no HTTP answer came: the file could
    // not be read, the connection or TLS failed, the answer was not HTTP, or the time-out passed.
    static QCoro::Task<int> run(Request request);
};
