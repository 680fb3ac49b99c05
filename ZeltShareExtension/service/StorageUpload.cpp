#include "StorageUpload.h"

#include "HttpTransfer.h"
#include "ServiceError.h"

#include <QCoroFuture>
#include <QElapsedTimer>
#include <QFile>
#include <QFuture>
#include <QNetworkProxyFactory>
#include <QPromise>
#include <QSslSocket>
#include <QTimer>

#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

// One TLS record: pieces of this size stay below the allocator's mmap threshold, so the
// buffers are reused instead of mapped and faulted in afresh.
constexpr qint64 pieceSize = 16 * 1024;
// Written to the connection but not yet on the network, plain and encrypted together.
constexpr qint64 aheadLimit = 64 * 1024;
// An answer's status line and headers; more without their end is not HTTP.
constexpr qsizetype maximumHeadSize = 64 * 1024;
constexpr auto progressInterval = std::chrono::milliseconds(50);

QNetworkReply::NetworkError networkError(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::RemoteHostClosedError:
        return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::HostNotFoundError:
        return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::SocketTimeoutError:
        return QNetworkReply::TimeoutError;
    case QAbstractSocket::SslHandshakeFailedError:
        return QNetworkReply::SslHandshakeFailedError;
    case QAbstractSocket::ProxyConnectionRefusedError:
        return QNetworkReply::ProxyConnectionRefusedError;
    case QAbstractSocket::ProxyConnectionClosedError:
        return QNetworkReply::ProxyConnectionClosedError;
    case QAbstractSocket::ProxyNotFoundError:
        return QNetworkReply::ProxyNotFoundError;
    case QAbstractSocket::ProxyAuthenticationRequiredError:
        return QNetworkReply::ProxyAuthenticationRequiredError;
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return QNetworkReply::ProxyTimeoutError;
    default:
        return QNetworkReply::UnknownNetworkError;
    }
}

// The proxy the system gives for the URL; only those that can carry a connection count.
QNetworkProxy proxyFor(const QUrl &url)
{
    for (const auto &proxy : QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(url))) {
        if (proxy.capabilities() & QNetworkProxy::TunnelingCapability ||
            proxy.type() == QNetworkProxy::NoProxy)
            return proxy;
    }
    return QNetworkProxy::NoProxy;
}

// The status of a complete answer head ("HTTP/1.1 204 No Content\r\n..."), or nothing when it
// is not HTTP.
std::optional<int> statusOf(const QByteArray &head)
{
    const auto lineEnd = head.indexOf("\r\n");
    const auto parts = head.left(lineEnd).split(' ');
    if (parts.size() < 2 || !parts[0].startsWith("HTTP/1.") || parts[1].size() != 3)
        return std::nullopt;
    bool ok = false;
    const int status = parts[1].toInt(&ok);
    if (!ok || status < 100)
        return std::nullopt;
    return status;
}

// One upload: the file, the connection and the time-out, with the outcome once it has ended.
class Exchange
{
public:
    explicit Exchange(StorageUpload::Request request)
        : m_request(std::move(request))
        , m_file(m_request.filePath)
    {
        m_piece.resize(pieceSize);
        m_idle.setSingleShot(true);
        m_idle.setInterval(m_request.idleTimeout);
        m_promise.start();
    }

    Exchange(const Exchange &) = delete;
    Exchange &operator=(const Exchange &) = delete;

    ~Exchange()
    {
        m_socket.disconnect();
        m_socket.abort();
    }

    QFuture<void> future() { return m_promise.future(); }
    const std::optional<TransportError> &error() const { return m_error; }
    int status() const { return m_status; }

    void start()
    {
        if (!m_file.open(QIODevice::ReadOnly)) {
            fail(QNetworkReply::UnknownContentError, m_file.errorString());
            return;
        }
        m_size = m_file.size();
        const auto &url = m_request.url;
        const bool encrypted = url.scheme() == u"https"_s;
        if (!encrypted && url.scheme() != u"http"_s) {
            fail(QNetworkReply::ProtocolUnknownError,
                 u"Protocol \"%1\" is unknown"_s.arg(url.scheme()));
            return;
        }

        QObject::connect(&m_idle, &QTimer::timeout, &m_socket,
                         [this] { fail(QNetworkReply::TimeoutError, ServiceText::timedOut()); });
        QObject::connect(&m_socket, &QAbstractSocket::errorOccurred, &m_socket,
                         [this](QAbstractSocket::SocketError error) {
                             fail(networkError(error), m_socket.errorString());
                         });
        if (encrypted)
            QObject::connect(&m_socket, &QSslSocket::encrypted, &m_socket, [this] { sendHead(); });
        else
            QObject::connect(&m_socket, &QSslSocket::connected, &m_socket, [this] { sendHead(); });
        QObject::connect(&m_socket, &QSslSocket::bytesWritten, &m_socket, [this] { advance(); });
        QObject::connect(&m_socket, &QSslSocket::encryptedBytesWritten, &m_socket,
                         [this] { advance(); });
        QObject::connect(&m_socket, &QSslSocket::readyRead, &m_socket, [this] { readAnswer(); });

        m_socket.setProxy(proxyFor(url));
        m_idle.start();
        if (encrypted) {
            m_socket.setSslConfiguration(m_request.tls);
            m_socket.connectToHostEncrypted(url.host(), quint16(url.port(443)));
        } else {
            m_socket.connectToHost(url.host(), quint16(url.port(80)));
        }
    }

private:
    void sendHead()
    {
        const auto &url = m_request.url;
        QByteArray target =
            url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
        if (!target.startsWith('/'))
            target.prepend('/');
        QByteArray head =
            "PUT " + target + " HTTP/1.1\r\nHost: " +
            url.adjusted(QUrl::RemoveUserInfo).authority(QUrl::FullyEncoded).toUtf8() +
            "\r\nContent-Type: " + m_request.contentType +
            "\r\nContent-Length: " + QByteArray::number(m_size) +
            "\r\nUser-Agent: " + HttpTransfer::userAgent() + "\r\nConnection: close\r\n\r\n";
        m_socket.write(head);
        m_sending = true;
        advance();
    }

    // Some of what was written went out: tops the connection up from the file.
    void advance()
    {
        if (!m_sending || m_ended)
            return;
        m_idle.start();
        while (m_sent < m_size &&
               m_socket.bytesToWrite() + m_socket.encryptedBytesToWrite() < aheadLimit) {
            const qint64 read = m_file.read(m_piece.data(), qMin(pieceSize, m_size - m_sent));
            if (read <= 0) {
                fail(QNetworkReply::UnknownContentError,
                     read < 0 ? m_file.errorString() : u"The file ended before its size"_s);
                return;
            }
            m_socket.write(m_piece.constData(), read);
            m_sent += read;
        }
        reportProgress(qMax<qint64>(0, m_sent - m_socket.bytesToWrite()));
    }

    // The first count and the whole body at once, those between at most every interval.
    void reportProgress(qint64 sent)
    {
        if (!m_request.onProgress || sent == m_reported)
            return;
        const bool due = !m_sinceProgress.isValid() ||
                         m_sinceProgress.elapsed() >= progressInterval.count() || sent == m_size;
        if (!due)
            return;
        m_sinceProgress.start();
        m_reported = sent;
        m_request.onProgress(sent);
    }

    void readAnswer()
    {
        m_idle.start();
        m_head += m_socket.readAll();
        while (!m_ended) {
            const auto end = m_head.indexOf("\r\n\r\n");
            if (end < 0) {
                if (m_head.size() > maximumHeadSize ||
                    (m_head.size() >= 5 && !m_head.startsWith("HTTP/")))
                    fail(QNetworkReply::ProtocolFailure, u"The answer is not HTTP"_s);
                return;
            }
            const auto status = statusOf(m_head.left(end));
            if (!status) {
                fail(QNetworkReply::ProtocolFailure, u"The answer is not HTTP"_s);
                return;
            }
            // An interim answer (100 Continue) comes before the real one.
            m_head.remove(0, end + 4);
            if (*status >= 200) {
                succeed(*status);
                return;
            }
        }
    }

    void succeed(int status)
    {
        m_status = status;
        if (m_sent == m_size)
            reportProgress(m_size);
        end();
    }

    void fail(QNetworkReply::NetworkError code, const QString &description)
    {
        if (m_ended)
            return;
        m_error.emplace(code, description);
        end();
    }

    void end()
    {
        m_ended = true;
        m_idle.stop();
        m_socket.disconnect();
        m_socket.abort();
        m_file.close();
        m_promise.finish();
    }

    StorageUpload::Request m_request;
    QFile m_file;
    QSslSocket m_socket;
    QTimer m_idle;
    QPromise<void> m_promise;
    QByteArray m_piece;
    QByteArray m_head;
    QElapsedTimer m_sinceProgress;
    qint64 m_size = 0;
    qint64 m_sent = 0;
    qint64 m_reported = -1;
    bool m_sending = false;
    bool m_ended = false;
    int m_status = 0;
    std::optional<TransportError> m_error;
};

} // namespace

QCoro::Task<int> StorageUpload::run(Request request)
{
    // Resumed from the future's watcher, never inside the connection's own signals, so the
    // exchange may go as soon as the coroutine has its outcome.
    const auto exchange = std::make_unique<Exchange>(std::move(request));
    exchange->start();
    const auto ended = exchange->future();
    co_await ended;
    if (exchange->error())
        throw *exchange->error();
    co_return exchange->status();
}
