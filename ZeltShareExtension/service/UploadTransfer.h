#pragma once

#include "HttpTransfer.h"

#include <QCoroTask>
#include <QNetworkRequest>
#include <QString>

#include <functional>

// The PUT of one file, to a storage URL or to the service's upload proxy. The file is read in
// pieces of one TLS record and written to a connection of its own on this thread, never more
// than a few pieces ahead of the network: the upload runs at the connection's speed, with
// little memory, and without handing each piece between threads. It is sent once; a broken
// connection is not silently tried again.
//
// The request gives the URL (http or https), the headers, the TLS configuration and the
// inactivity time-out (its transfer time-out; there is no limit on the whole upload). No
// redirect is followed, no cookie taken from or stored in a jar, no credentials given to a
// proxy; the system proxy is used as for every other call. Only the answer's status line and
// headers are read: the response has no body.
class UploadTransfer
{
public:
    // onProgress gets the body bytes sent so far: now and then while sending, and the whole
    // size once the answer has come after the whole body.
    // The response has no status when the answer was not HTTP. Throws TransportError when no
    // answer came: the file could not be read, the connection or TLS failed, or the time-out
    // passed.
    static QCoro::Task<HttpResponse> run(QNetworkRequest request, QString filePath,
                                         std::function<void(qint64)> onProgress);
};
