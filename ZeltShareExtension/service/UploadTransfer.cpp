#include "UploadTransfer.h"

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

struct AnswerHead
{
    // None when the answer was not HTTP.
    std::optional<int> status;
    QList<QNetworkReply::RawHeaderPair> fields;
};

// A complete answer head ("HTTP/1.1 204 No Content\r\nName: value\r\n..."), without its
// blank line; nothing when it is not HTTP.
std::optional<AnswerHead> parseHead(const QByteArray &head)
{
    const auto lines = head.split('\n');
    const auto statusParts = lines.first().trimmed().split(' ');
    if (statusParts.size() < 2 || !statusParts[0].startsWith("HTTP/1.") ||
        statusParts[1].size() != 3)
        return std::nullopt;
    AnswerHead answer;
    bool ok = false;
    const int status = statusParts[1].toInt(&ok);
    if (!ok || status < 100)
        return std::nullopt;
    answer.status = status;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const auto colon = lines[i].indexOf(':');
        if (colon <= 0)
            return std::nullopt;
        answer.fields.append({lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }
    return answer;
}

// One upload: the file, the connection and the time-out, with the outcome once it has ended.
class Exchange
{
public:
    Exchange(QNetworkRequest request, const QString &filePath,
             std::function<void(qint64)> onProgress)
        : m_request(std::move(request))
        , m_onProgress(std::move(onProgress))
        , m_file(filePath)
    {
        m_piece.resize(pieceSize);
        m_idle.setSingleShot(true);
        m_idle.setInterval(m_request.transferTimeout());
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
    const AnswerHead &answer() const { return m_answer; }

    void start()
    {
        if (!m_file.open(QIODevice::ReadOnly)) {
            fail(QNetworkReply::UnknownContentError, m_file.errorString());
            return;
        }
        m_size = m_file.size();
        const auto url = m_request.url();
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
        restartIdle();
        if (encrypted) {
            m_socket.setSslConfiguration(m_request.sslConfiguration());
            m_socket.connectToHostEncrypted(url.host(), quint16(url.port(443)));
        } else {
            m_socket.connectToHost(url.host(), quint16(url.port(80)));
        }
    }

private:
    void sendHead()
    {
        const auto url = m_request.url();
        QByteArray target =
            url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
        if (!target.startsWith('/'))
            target.prepend('/');
        QByteArray head =
            "PUT " + target + " HTTP/1.1\r\nHost: " +
            url.adjusted(QUrl::RemoveUserInfo).authority(QUrl::FullyEncoded).toUtf8() + "\r\n";
        for (const auto &name : m_request.rawHeaderList())
            head += name + ": " + m_request.rawHeader(name) + "\r\n";
        head += "Content-Length: " + QByteArray::number(m_size) + "\r\nConnection: close\r\n\r\n";
        m_socket.write(head);
        m_sending = true;
        advance();
    }

    // Some of what was written went out: tops the connection up from the file.
    void advance()
    {
        if (!m_sending || m_ended)
            return;
        restartIdle();
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
        if (!m_onProgress || sent == m_reported)
            return;
        const bool due = !m_sinceProgress.isValid() ||
                         m_sinceProgress.elapsed() >= progressInterval.count() || sent == m_size;
        if (!due)
            return;
        m_sinceProgress.start();
        m_reported = sent;
        m_onProgress(sent);
    }

    // A time-out of 0 is none.
    void restartIdle()
    {
        if (m_idle.interval() > 0)
            m_idle.start();
    }

    void readAnswer()
    {
        restartIdle();
        m_head += m_socket.readAll();
        while (!m_ended) {
            const auto end = m_head.indexOf("\r\n\r\n");
            if (end < 0) {
                if (m_head.size() > maximumHeadSize ||
                    (m_head.size() >= 5 && !m_head.startsWith("HTTP/")))
                    notHttp();
                return;
            }
            auto answer = parseHead(m_head.left(end));
            if (!answer) {
                notHttp();
                return;
            }
            // An interim answer (100 Continue) comes before the real one.
            m_head.remove(0, end + 4);
            if (*answer->status >= 200) {
                succeed(std::move(*answer));
                return;
            }
        }
    }

    void succeed(AnswerHead answer)
    {
        m_answer = std::move(answer);
        if (m_sent == m_size)
            reportProgress(m_size);
        end();
    }

    // Whatever answered does not speak HTTP: an answer without a status.
    void notHttp()
    {
        if (m_ended)
            return;
        m_answer = {};
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

    QNetworkRequest m_request;
    std::function<void(qint64)> m_onProgress;
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
    AnswerHead m_answer;
    std::optional<TransportError> m_error;
};

} // namespace

QCoro::Task<HttpResponse> UploadTransfer::run(QNetworkRequest request, QString filePath,
                                              std::function<void(qint64)> onProgress)
{
    // Resumed from the future's watcher, never inside the connection's own signals, so the
    // exchange may go as soon as the coroutine has its outcome.
    const QUrl url = request.url();
    const auto exchange =
        std::make_unique<Exchange>(std::move(request), filePath, std::move(onProgress));
    exchange->start();
    const auto ended = exchange->future();
    co_await ended;
    if (exchange->error())
        throw *exchange->error();
    HttpResponse response;
    response.statusCode = exchange->answer().status;
    response.url = url;
    response.headerFields = exchange->answer().fields;
    co_return response;
}
