#include "DevService.h"

#include "Base64Url.h"
#include "DestinationCatalog.h"
#include "DevCertificates.h"
#include "PasskeyVerifier.h"
#include "SessionRegistry.h"
#include "ShareStore.h"
#include "UploadStorage.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

#include <arpa/inet.h>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <httplib.h>
#include <mutex>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using Clock = DevServiceOptions::Clock;

// A JSON body of the native-share endpoint holds at most 20,971,520 base64 characters of
// images plus the message; anything far beyond that is refused unread.
constexpr qint64 maximumShareBody = 24 * 1024 * 1024;
constexpr qint64 maximumSmallBody = 1024 * 1024;
constexpr qint64 maximumUploadSize = qint64(4) * 1024 * 1024 * 1024;
constexpr int cookieMaxAge = 30 * 24 * 3600;

const QStringList proxyReasons{u"custom-domain"_s, u"direct-network-error"_s,
                               u"direct-http-error"_s};

// Body bytes of the request being served on this thread, for its log line.
thread_local qint64 t_bodyBytes = 0;

QString header(const httplib::Request &request, const char *name)
{
    return QString::fromStdString(request.get_header_value(name));
}

// The value of one cookie from the request's Cookie headers.
QByteArray cookie(const httplib::Request &request, QLatin1StringView name)
{
    const auto count = request.get_header_value_count("Cookie");
    for (size_t i = 0; i < count; ++i) {
        const auto line = QByteArray::fromStdString(request.get_header_value("Cookie", i));
        for (const auto &pair : line.split(';')) {
            const auto equals = pair.indexOf('=');
            if (equals > 0 && pair.left(equals).trimmed() == QByteArrayView(name))
                return pair.mid(equals + 1).trimmed();
        }
    }
    return {};
}

QString setCookie(QLatin1StringView name, const QByteArray &value, int maxAge)
{
    return u"%1=%2; Path=/; Max-Age=%3; Secure; HttpOnly; SameSite=Lax"_s.arg(name)
        .arg(QString::fromLatin1(value))
        .arg(maxAge);
}

void reply(httplib::Response &response, int status, const QJsonObject &body)
{
    response.status = status;
    response.set_content(QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(),
                         "application/json");
}

void fail(httplib::Response &response, int status, const QString &message, const QString &code = {})
{
    QJsonObject body{{u"message"_s, message}};
    if (!code.isEmpty())
        body.insert(u"code"_s, code);
    reply(response, status, body);
}

void envelopeError(httplib::Response &response, const QString &message, const QString &reason = {})
{
    QJsonObject error{{u"message"_s, message}};
    if (!reason.isEmpty())
        error.insert(u"reason"_s, reason);
    reply(response, 200, {{u"ok"_s, false}, {u"error"_s, error}});
}

std::optional<QJsonObject> parseObject(const QByteArray &data)
{
    QJsonParseError error{};
    const auto document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

// A JSON number that is a whole number from 0 to 2^53.
std::optional<qint64> wholeNumber(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || number < 0 || number > 9007199254740992.0 ||
        std::floor(number) != number)
        return std::nullopt;
    return qint64(number);
}

bool isShareID(const QString &text)
{
    static const QRegularExpression pattern(
        u"^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"_s);
    return pattern.match(text).hasMatch();
}

// The body of one request. It is always read to its end, also when the answer is an error,
// so the client sees that answer instead of a connection cut in the middle of its upload.
// True for a valid upload URL; otherwise answers why it is not.
bool answerUrlCheck(httplib::Response &response, UploadStorage::UrlCheck check)
{
    switch (check) {
    case UploadStorage::UrlCheck::Valid:
        return true;
    case UploadStorage::UrlCheck::BadSignature:
        fail(response, 403, u"This upload URL is not signed by the service."_s);
        break;
    case UploadStorage::UrlCheck::Expired:
        fail(response, 403, u"This upload URL has expired."_s);
        break;
    case UploadStorage::UrlCheck::Unknown:
        fail(response, 404, u"This upload is no longer open."_s);
        break;
    }
    return false;
}

class RequestBody
{
public:
    explicit RequestBody(const httplib::ContentReader &reader)
        : m_reader(reader)
    {}
    ~RequestBody()
    {
        if (!m_consumed)
            read(nullptr);
    }
    RequestBody(const RequestBody &) = delete;
    RequestBody &operator=(const RequestBody &) = delete;

    // False when the connection failed before the body ended.
    bool read(const std::function<void(const char *, size_t)> &sink)
    {
        m_consumed = true;
        return m_reader([&sink](const char *data, size_t length) {
            t_bodyBytes += qint64(length);
            if (sink)
                sink(data, length);
            return true;
        });
    }

    // The whole body when it has at most limit bytes. A longer one is answered with 413 and
    // tooLargeMessage; a connection that failed first is not answered.
    std::optional<QByteArray> readAll(qint64 limit, httplib::Response &response,
                                      const QString &tooLargeMessage)
    {
        QByteArray data;
        bool tooLarge = false;
        const bool ok = read([&](const char *bytes, size_t length) {
            if (tooLarge || data.size() + qint64(length) > limit) {
                tooLarge = true;
                data.clear();
                return;
            }
            data.append(bytes, qsizetype(length));
        });
        if (tooLarge)
            fail(response, 413, tooLargeMessage);
        if (!ok || tooLarge)
            return std::nullopt;
        return data;
    }

private:
    const httplib::ContentReader &m_reader;
    bool m_consumed = false;
};

} // namespace

struct DevService::Private
{
    explicit Private(DevServiceOptions serviceOptions);
    ~Private();

    Clock::time_point now() const { return options.clock ? options.clock() : Clock::now(); }
    void log(const QString &line);
    void routes();

    // https://<host>:<port> for the host the client used, when it is one of the service's.
    QString hostName(const httplib::Request &request) const;
    // The port in the service's origins: the public one when a relay stands in front.
    int clientPort() const { return options.publicPort ? options.publicPort : port; }
    QString requestOrigin(const httplib::Request &request) const;
    bool isOwnOrigin(const QString &origin) const;
    // The session of the request, or an answer (401, or 403 for a foreign Origin) in response.
    std::optional<SessionRegistry::Authentication> authenticate(const httplib::Request &request,
                                                                httplib::Response &response);
    // The destination of a share body: {"tovi":{}} or {"thread":{"_0":…}}; none after an
    // answer in response.
    std::optional<QJsonObject> destination(const QJsonObject &body, httplib::Response &response);

    void destinations(const httplib::Request &request, httplib::Response &response);
    void nativeShare(const httplib::Request &request, httplib::Response &response,
                     const httplib::ContentReader &reader);
    void prepareUpload(const httplib::Request &request, httplib::Response &response,
                       const SessionRegistry::Authentication &auth, const QJsonObject &body);
    std::optional<ShareStore::Share> beginShare(httplib::Response &response,
                                                const SessionRegistry::Authentication &auth,
                                                const QJsonObject &body, const QString &form);
    ShareStore::Result storeShare(httplib::Response &response, const ShareStore::Share &share);
    void submitInline(httplib::Response &response, const SessionRegistry::Authentication &auth,
                      const QJsonObject &body);
    void submitUploaded(httplib::Response &response, const SessionRegistry::Authentication &auth,
                        const QJsonObject &body);
    void storagePut(const httplib::Request &request, httplib::Response &response,
                    const httplib::ContentReader &reader);
    void uploadProxy(const httplib::Request &request, httplib::Response &response,
                     const httplib::ContentReader &reader);
    void receiveUpload(httplib::Response &response, RequestBody &body, const QString &uploadID,
                       const QString &via, const QString &reason, std::optional<int> status);
    void internalApp(const httplib::Request &request, httplib::Response &response,
                     const httplib::ContentReader &reader);
    void beginSudo(httplib::Response &response, const SessionRegistry::Authentication &auth);
    void completeSudo(httplib::Response &response, const SessionRegistry::Authentication &auth,
                      const QJsonObject &params);
    void signIn(const httplib::Request &request, httplib::Response &response,
                const httplib::ContentReader &reader);
    void signOut(const httplib::Request &request, httplib::Response &response,
                 const httplib::ContentReader &reader);
    void registerPasskey(const httplib::Request &request, httplib::Response &response,
                         const httplib::ContentReader &reader);
    void avatarImage(const httplib::Request &request, httplib::Response &response);

    int directoryLock = -1;
    DevServiceOptions options;
    DevCertificates certificates;
    SessionRegistry sessions;
    UploadStorage uploads;
    ShareStore shares;
    DestinationCatalog catalog;
    std::unique_ptr<httplib::SSLServer> server;
    int port = -1;
    // A bound socket that never listens: connecting to its port is refused at once.
    int deadSocket = -1;
    int deadPort = -1;
    std::thread serverThread;
    std::mutex logMutex;
};

namespace {

SessionRegistry::Settings registrySettings(const DevServiceOptions &options)
{
    SessionRegistry::Settings settings;
    settings.stateFile = QDir(options.dataDirectory).filePath(u"state.json"_s);
    settings.rotateEvery = options.rotateEvery;
    settings.rotationGrace = options.rotationGrace;
    settings.sudoDuration = options.sudoDuration;
    settings.passkeyAttemptLifetime = options.passkeyAttemptLifetime;
    return settings;
}

QString ensureDirectory(const QString &directory)
{
    if (directory.isEmpty() || !QDir().mkpath(directory))
        throw std::runtime_error(
            QStringLiteral("cannot use the data directory \"%1\"").arg(directory).toStdString());
    return QDir(directory).absolutePath();
}

// One service per data directory: a second one would clear the uploads of the first.
int lockDirectory(const QString &directory)
{
    const auto path = QFile::encodeName(QDir(directory).filePath(u"service.lock"_s));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error(
            QStringLiteral("another development service uses %1").arg(directory).toStdString());
    }
    return fd;
}

DevServiceOptions withDirectory(DevServiceOptions options, int *lock)
{
    options.dataDirectory = ensureDirectory(options.dataDirectory);
    *lock = lockDirectory(options.dataDirectory);
    return options;
}

} // namespace

DevService::Private::Private(DevServiceOptions serviceOptions)
    : options(withDirectory(std::move(serviceOptions), &directoryLock))
    , certificates(DevCertificates::ensure(options.dataDirectory))
    , sessions(registrySettings(options))
    , uploads(QDir(options.dataDirectory).filePath(u"uploads"_s), options.uploadUrlLifetime)
    , shares(QDir(options.dataDirectory).filePath(u"shares"_s))
    , catalog(QDateTime::fromMSecsSinceEpoch(
          std::chrono::duration_cast<std::chrono::milliseconds>(now().time_since_epoch()).count(),
          Qt::UTC))
{
    const auto certificate = DevCertificates::serverFile(options.dataDirectory).toStdString();
    const auto key = DevCertificates::serverKeyFile(options.dataDirectory).toStdString();
    server = std::make_unique<httplib::SSLServer>(certificate.c_str(), key.c_str());
    if (!server->is_valid())
        throw std::runtime_error("the TLS server could not load its certificate");
    // An upload may pause for as long as the client's own inactivity limit.
    server->set_read_timeout(120);
    server->set_write_timeout(120);
    server->set_keep_alive_max_count(100);
    // stop() waits for idle kept-alive connections to time out; clients open a connection per
    // call anyway, so a short wait costs them nothing.
    server->set_keep_alive_timeout(1);
    // Headers and body leave in separate writes; without this each answer waits for an ACK.
    server->set_tcp_nodelay(true);
    // The library's default adds SO_REUSEPORT, which lets a second service share the port
    // with the first instead of reporting it taken.
    server->set_socket_options([](socket_t socket) {
        const int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    routes();
}

DevService::Private::~Private()
{
    if (deadSocket >= 0)
        ::close(deadSocket);
    if (directoryLock >= 0)
        ::close(directoryLock);
}

void DevService::Private::log(const QString &line)
{
    if (options.log) {
        options.log(line);
        return;
    }
    std::lock_guard lock(logMutex);
    const auto stamp = QDateTime::currentDateTime().toString(u"HH:mm:ss.zzz"_s);
    std::fprintf(stderr, "%s %s\n", qUtf8Printable(stamp), qUtf8Printable(line));
    std::fflush(stderr);
}

QString DevService::Private::hostName(const httplib::Request &request) const
{
    const auto host = header(request, "Host").toLower();
    if (host == u"127.0.0.1:%1"_s.arg(clientPort()))
        return u"127.0.0.1"_s;
    return u"localhost"_s;
}

QString DevService::Private::requestOrigin(const httplib::Request &request) const
{
    return u"https://%1:%2"_s.arg(hostName(request)).arg(clientPort());
}

bool DevService::Private::isOwnOrigin(const QString &origin) const
{
    const auto lowered = origin.toLower();
    return lowered == u"https://localhost:%1"_s.arg(clientPort()) ||
           lowered == u"https://127.0.0.1:%1"_s.arg(clientPort());
}

std::optional<SessionRegistry::Authentication>
DevService::Private::authenticate(const httplib::Request &request, httplib::Response &response)
{
    auto auth = sessions.authenticate(cookie(request, sessionCookieName), now());
    if (auth.status == SessionRegistry::Authentication::Status::Refused) {
        fail(response, 401, u"Sign in to Zelt again."_s, u"UNAUTHENTICATED"_s);
        return std::nullopt;
    }
    if (auth.setCookieValue)
        response.set_header(
            "Set-Cookie",
            setCookie(sessionCookieName, *auth.setCookieValue, cookieMaxAge).toStdString());
    // A request that a page of another site made with the user's cookie.
    const auto origin = header(request, "Origin");
    if (!origin.isEmpty() && !isOwnOrigin(origin)) {
        fail(response, 403, u"This request came from another site."_s);
        return std::nullopt;
    }
    return auth;
}

std::optional<QJsonObject> DevService::Private::destination(const QJsonObject &body,
                                                            httplib::Response &response)
{
    const auto threadID = body.value(u"threadID"_s);
    if (threadID.isUndefined() || threadID.isNull())
        return QJsonObject{{u"tovi"_s, QJsonObject{}}};
    if (!threadID.isString()) {
        fail(response, 400, u"The destination is not a thread ID."_s);
        return std::nullopt;
    }
    const auto thread = catalog.thread(threadID.toString());
    if (!thread) {
        fail(response, 404, u"This thread is no longer available."_s);
        return std::nullopt;
    }
    return QJsonObject{
        {u"thread"_s, QJsonObject{{u"_0"_s, DestinationCatalog::threadJson(*thread)}}}};
}

void DevService::Private::routes()
{
    server->set_pre_routing_handler([this](const httplib::Request &request,
                                           httplib::Response &response) {
        t_bodyBytes = 0;
        if (options.latency.count() > 0)
            std::this_thread::sleep_for(options.latency);
        // A body whose end cannot be known would be read until the connection times out.
        if ((request.method == "POST" || request.method == "PUT") &&
            !request.has_header("Content-Length") &&
            request.get_header_value("Transfer-Encoding").find("chunked") == std::string::npos) {
            fail(response, 411, u"The request needs a Content-Length."_s);
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server->set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request &, httplib::Response &response) {
            if (!response.body.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            fail(response, response.status,
                 response.status == 404 ? u"Not found."_s : u"The request was not understood."_s);
            return httplib::Server::HandlerResponse::Handled;
        }));
    server->set_exception_handler([this](const httplib::Request &request,
                                         httplib::Response &response, std::exception_ptr error) {
        QString what = u"unknown error"_s;
        try {
            std::rethrow_exception(error);
        } catch (const std::exception &e) {
            what = QString::fromLocal8Bit(e.what());
        } catch (...) {
        }
        log(u"%1 %2 failed: %3"_s.arg(QString::fromStdString(request.method),
                                      QString::fromStdString(request.path), what));
        fail(response, 500, u"The development service failed."_s);
    });
    // Path only: the query of an upload URL holds its signature, and a search its text.
    server->set_logger([this](const httplib::Request &request, const httplib::Response &response) {
        const auto in = std::max<qint64>(t_bodyBytes, qint64(request.body.size()));
        log(u"%1 %2 %3 in=%4 out=%5"_s
                .arg(QString::fromStdString(request.method), QString::fromStdString(request.path))
                .arg(response.status)
                .arg(in)
                .arg(response.body.size()));
    });

    server->Get("/api/tovi/native-share/destinations",
                [this](const httplib::Request &request, httplib::Response &response) {
                    destinations(request, response);
                });
    server->Post(
        "/api/tovi/native-share",
        [this](const httplib::Request &request, httplib::Response &response,
               const httplib::ContentReader &reader) { nativeShare(request, response, reader); });
    server->Put(
        "/api/attachments/upload-proxy",
        [this](const httplib::Request &request, httplib::Response &response,
               const httplib::ContentReader &reader) { uploadProxy(request, response, reader); });
    server->Put(
        R"(/storage/(upl-[0-9a-f-]{36}))",
        [this](const httplib::Request &request, httplib::Response &response,
               const httplib::ContentReader &reader) { storagePut(request, response, reader); });
    server->Post(
        "/api/internal/app",
        [this](const httplib::Request &request, httplib::Response &response,
               const httplib::ContentReader &reader) { internalApp(request, response, reader); });
    server->Post(
        "/api/dev/sign-in",
        [this](const httplib::Request &request, httplib::Response &response,
               const httplib::ContentReader &reader) { signIn(request, response, reader); });
    server->Post(
        "/api/dev/sign-out",
        [this](const httplib::Request &request, httplib::Response &response,
               const httplib::ContentReader &reader) { signOut(request, response, reader); });
    server->Post("/api/dev/passkeys",
                 [this](const httplib::Request &request, httplib::Response &response,
                        const httplib::ContentReader &reader) {
                     registerPasskey(request, response, reader);
                 });
    server->Get(R"(/tovi/avatars/([a-z0-9-]+)/image)",
                [this](const httplib::Request &request, httplib::Response &response) {
                    avatarImage(request, response);
                });
}

void DevService::Private::destinations(const httplib::Request &request, httplib::Response &response)
{
    const auto auth = authenticate(request, response);
    if (!auth)
        return;
    std::optional<QString> query;
    if (request.has_param("q"))
        query = QString::fromStdString(request.get_param_value("q"));
    QJsonArray threads;
    for (const auto &thread : catalog.threads(query))
        threads.append(DestinationCatalog::threadJson(thread));
    const bool passkeyRequired =
        options.requirePasskey && !sessions.isSudoActive(auth->sessionID, now());
    reply(response, 200,
          {{u"toviAvailable"_s, true},
           {u"passkeyRequired"_s, passkeyRequired},
           {u"threads"_s, threads},
           {u"toviAvatar"_s, catalog.avatarJson(requestOrigin(request))}});
}

void DevService::Private::nativeShare(const httplib::Request &request, httplib::Response &response,
                                      const httplib::ContentReader &reader)
{
    RequestBody body(reader);
    const auto auth = authenticate(request, response);
    if (!auth)
        return;
    const auto data =
        body.readAll(maximumShareBody, response, u"This share is too large to send."_s);
    if (!data)
        return;
    const auto object = parseObject(*data);
    if (!object) {
        fail(response, 400, u"The share could not be read."_s);
        return;
    }
    if (options.requirePasskey && !sessions.isSudoActive(auth->sessionID, now())) {
        fail(response, 403, u"Confirm it is you with your passkey to send this."_s,
             u"SUDO_AUTH_REQUIRED"_s);
        return;
    }
    if (object->contains(u"action"_s)) {
        if (object->value(u"action"_s).toString() != u"prepare-upload"_s) {
            fail(response, 400, u"Unknown action."_s);
            return;
        }
        prepareUpload(request, response, *auth, *object);
    } else if (object->contains(u"files"_s)) {
        submitUploaded(response, *auth, *object);
    } else {
        submitInline(response, *auth, *object);
    }
}

void DevService::Private::prepareUpload(const httplib::Request &request,
                                        httplib::Response &response,
                                        const SessionRegistry::Authentication &auth,
                                        const QJsonObject &body)
{
    const auto file = body.value(u"file"_s).toObject();
    const auto filename = file.value(u"filename"_s);
    const auto mediaType = file.value(u"mediaType"_s);
    const auto sizeBytes = wholeNumber(file.value(u"sizeBytes"_s));
    if (!filename.isString() || filename.toString().isEmpty() || !mediaType.isString() ||
        mediaType.toString().isEmpty() || !sizeBytes) {
        fail(response, 400, u"The file to upload is not described."_s);
        return;
    }
    if (*sizeBytes > maximumUploadSize) {
        fail(response, 413, u"This file is too large to share."_s);
        return;
    }
    if (!destination(body, response))
        return;
    const auto upload =
        uploads.prepare(auth.userID, filename.toString(), mediaType.toString(), *sizeBytes, now());
    const QString base = options.directUpload == DevServiceOptions::DirectUpload::FailNetwork
                             ? u"https://%1:%2"_s.arg(hostName(request)).arg(deadPort)
                             : requestOrigin(request);
    reply(response, 200,
          {{u"uploadID"_s, upload.uploadID},
           {u"uploadURL"_s, base + uploads.signedPathAndQuery(upload)}});
}

void DevService::Private::submitInline(httplib::Response &response,
                                       const SessionRegistry::Authentication &auth,
                                       const QJsonObject &body)
{
    const auto message = body.value(u"message"_s);
    const auto shareID = body.value(u"shareID"_s).toString();
    if (!message.isString() || !isShareID(shareID)) {
        fail(response, 400, u"The share has no message or no valid share ID."_s);
        return;
    }
    auto share = beginShare(response, auth, body, u"inline"_s);
    if (!share)
        return;
    const auto images = body.value(u"images"_s);
    if (!images.isUndefined() && !images.isNull()) {
        if (!images.isArray()) {
            fail(response, 400, u"The images of the share could not be read."_s);
            return;
        }
        for (const auto &entry : images.toArray()) {
            const auto image = entry.toObject();
            const auto data = image.value(u"data"_s);
            const auto filename = image.value(u"filename"_s);
            const auto mediaType = image.value(u"mediaType"_s);
            auto decoded = QByteArray::fromBase64Encoding(
                data.toString().toLatin1(),
                QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
            if (!data.isString() || !filename.isString() || !mediaType.isString() ||
                decoded.decodingStatus != QByteArray::Base64DecodingStatus::Ok) {
                fail(response, 400, u"The images of the share could not be read."_s);
                return;
            }
            ShareStore::File file;
            file.filename = filename.toString();
            file.mediaType = mediaType.toString();
            file.data = std::move(decoded.decoded);
            file.sizeBytes = file.data.size();
            share->files.append(file);
        }
    }
    storeShare(response, *share);
}

void DevService::Private::submitUploaded(httplib::Response &response,
                                         const SessionRegistry::Authentication &auth,
                                         const QJsonObject &body)
{
    const auto message = body.value(u"message"_s);
    const auto shareID = body.value(u"shareID"_s).toString();
    const auto files = body.value(u"files"_s);
    if (!message.isString() || !isShareID(shareID) || !files.isArray()) {
        fail(response, 400, u"The share has no message, files or valid share ID."_s);
        return;
    }
    auto share = beginShare(response, auth, body, u"uploaded"_s);
    if (!share)
        return;

    QList<std::pair<QString, qint64>> wanted;
    QList<QJsonObject> entries;
    for (const auto &entry : files.toArray()) {
        const auto file = entry.toObject();
        const auto sizeBytes = wholeNumber(file.value(u"sizeBytes"_s));
        const auto video = file.value(u"video"_s);
        const bool videoValid =
            video.isUndefined() || video.isNull() ||
            (video.isObject() && wholeNumber(video[u"width"_s]) &&
             wholeNumber(video[u"height"_s]) &&
             (video[u"duration"_s].isUndefined() || video[u"duration"_s].isNull() ||
              video[u"duration"_s].isDouble()));
        if (!file.value(u"uploadID"_s).isString() || !file.value(u"filename"_s).isString() ||
            !file.value(u"mediaType"_s).isString() || !sizeBytes || !videoValid) {
            fail(response, 400, u"A file of the share is not described."_s);
            return;
        }
        wanted.append({file.value(u"uploadID"_s).toString(), *sizeBytes});
        entries.append(file);
    }
    QString error;
    const auto claimed = uploads.claim(wanted, auth.userID, &error);
    if (!claimed) {
        fail(response, 400, error);
        return;
    }

    QStringList uploadIDs;
    for (qsizetype i = 0; i < claimed->size(); ++i) {
        const auto &upload = claimed->at(i);
        const auto &entry = entries.at(i);
        ShareStore::File file;
        file.filename = entry.value(u"filename"_s).toString();
        file.mediaType = entry.value(u"mediaType"_s).toString();
        file.sizeBytes = upload.sizeBytes;
        file.sourcePath = uploads.filePath(upload.uploadID);
        QJsonObject how{{u"uploadID"_s, upload.uploadID}, {u"via"_s, upload.via}};
        if (!upload.proxyReason.isEmpty())
            how.insert(u"reason"_s, upload.proxyReason);
        if (upload.directStatus)
            how.insert(u"directStatus"_s, *upload.directStatus);
        file.details.insert(u"upload"_s, how);
        file.details.insert(u"sha256"_s, QString::fromLatin1(upload.sha256.toHex()));
        if (entry.value(u"video"_s).isObject())
            file.details.insert(u"video"_s, entry.value(u"video"_s));
        share->files.append(file);
        uploadIDs.append(upload.uploadID);
    }
    if (storeShare(response, *share) == ShareStore::Result::Stored)
        uploads.forget(uploadIDs);
    else
        uploads.release(uploadIDs);
}

std::optional<ShareStore::Share>
DevService::Private::beginShare(httplib::Response &response,
                                const SessionRegistry::Authentication &auth,
                                const QJsonObject &body, const QString &form)
{
    const auto target = destination(body, response);
    if (!target)
        return std::nullopt;
    const auto shareID = body.value(u"shareID"_s).toString();
    if (const auto found = shares.existing(shareID, auth.userID)) {
        if (*found == ShareStore::Result::Replayed)
            reply(response, 200, {{u"ok"_s, true}});
        else
            fail(response, 409, u"This share ID belongs to another share."_s);
        return std::nullopt;
    }
    ShareStore::Share share;
    share.shareID = shareID;
    share.userID = auth.userID;
    share.message = body.value(u"message"_s).toString();
    share.destination = *target;
    share.form = form;
    share.receivedAt = QDateTime::currentDateTimeUtc();
    return share;
}

ShareStore::Result DevService::Private::storeShare(httplib::Response &response,
                                                   const ShareStore::Share &share)
{
    QString error;
    const auto result = shares.store(share, &error);
    switch (result) {
    case ShareStore::Result::Stored:
    case ShareStore::Result::Replayed:
        reply(response, 200, {{u"ok"_s, true}});
        break;
    case ShareStore::Result::Conflict:
        fail(response, 409, u"This share ID belongs to another share."_s);
        break;
    case ShareStore::Result::Failed:
        fail(response, 500, error);
        break;
    }
    return result;
}

void DevService::Private::receiveUpload(httplib::Response &response, RequestBody &body,
                                        const QString &uploadID, const QString &via,
                                        const QString &reason, std::optional<int> status)
{
    auto receiver = uploads.receive(uploadID);
    const bool whole =
        body.read([&receiver](const char *data, size_t length) { receiver->write(data, length); });
    const auto completion = uploads.complete(*receiver, via, reason, status);
    if (!whole)
        return;
    switch (completion) {
    case UploadStorage::Completion::Stored:
        reply(response, 200, {{u"ok"_s, true}});
        return;
    case UploadStorage::Completion::SizeMismatch:
        fail(response, 400,
             u"The upload has %1 bytes, not the %2 it was prepared for."_s
                 .arg(receiver->bytesReceived())
                 .arg(receiver->bytesExpected()));
        return;
    case UploadStorage::Completion::Unknown:
        fail(response, 404, u"This upload is no longer open."_s);
        return;
    case UploadStorage::Completion::WriteFailed:
        break;
    }
    fail(response, 500, u"The upload could not be stored."_s);
}

void DevService::Private::storagePut(const httplib::Request &request, httplib::Response &response,
                                     const httplib::ContentReader &reader)
{
    RequestBody body(reader);
    if (options.directUpload == DevServiceOptions::DirectUpload::Fail403) {
        fail(response, 403, u"Direct uploads are refused (--direct-upload fail-403)."_s);
        return;
    }
    const auto uploadID = QString::fromStdString(request.matches[1].str());
    const auto check =
        uploads.check(uploadID, QString::fromStdString(request.get_param_value("expires")),
                      QString::fromStdString(request.get_param_value("signature")), now());
    if (!answerUrlCheck(response, check))
        return;
    receiveUpload(response, body, uploadID, u"direct"_s, {}, std::nullopt);
}

void DevService::Private::uploadProxy(const httplib::Request &request, httplib::Response &response,
                                      const httplib::ContentReader &reader)
{
    RequestBody body(reader);
    const auto auth = authenticate(request, response);
    if (!auth)
        return;

    static const QRegularExpression storagePath(u"^/storage/(upl-[0-9a-f-]{36})$"_s);
    const QUrl url(header(request, "x-zelt-upload-url"), QUrl::StrictMode);
    const auto path = storagePath.match(url.path());
    const QUrlQuery query(url);
    if (!url.isValid() || url.scheme() != u"https"_s ||
        (url.host() != u"localhost"_s && url.host() != u"127.0.0.1"_s) || !path.hasMatch() ||
        !query.hasQueryItem(u"expires"_s) || !query.hasQueryItem(u"signature"_s)) {
        fail(response, 400, u"x-zelt-upload-url is not an upload URL of this service."_s);
        return;
    }
    const auto reason = header(request, "x-zelt-upload-reason");
    if (!proxyReasons.contains(reason)) {
        fail(response, 400, u"x-zelt-upload-reason is missing or unknown."_s);
        return;
    }
    std::optional<int> directStatus;
    const bool hasStatus = request.has_header("x-zelt-direct-upload-status");
    if (reason == u"direct-http-error"_s) {
        static const QRegularExpression threeDigits(u"^[1-5][0-9][0-9]$"_s);
        const auto text = header(request, "x-zelt-direct-upload-status");
        if (!threeDigits.match(text).hasMatch()) {
            fail(response, 400,
                 u"x-zelt-direct-upload-status must be the status of the direct "
                 u"upload."_s);
            return;
        }
        directStatus = text.toInt();
    } else if (hasStatus) {
        fail(response, 400, u"x-zelt-direct-upload-status belongs only to direct-http-error."_s);
        return;
    }

    const auto uploadID = path.captured(1);
    UploadStorage::Upload upload;
    const auto check =
        uploads.check(uploadID, query.queryItemValue(u"expires"_s),
                      query.queryItemValue(u"signature"_s, QUrl::FullyDecoded), now(), &upload);
    if (!answerUrlCheck(response, check))
        return;
    if (upload.userID != auth->userID) {
        fail(response, 403, u"This upload belongs to another account."_s);
        return;
    }
    receiveUpload(response, body, uploadID, u"proxy"_s, reason, directStatus);
}

void DevService::Private::internalApp(const httplib::Request &request, httplib::Response &response,
                                      const httplib::ContentReader &reader)
{
    RequestBody body(reader);
    const auto auth = authenticate(request, response);
    if (!auth)
        return;
    const auto data = body.readAll(maximumSmallBody, response, u"The call is too large."_s);
    if (!data)
        return;
    const auto envelope = parseObject(*data);
    const auto params = envelope ? envelope->value(u"params"_s) : QJsonValue();
    if (!envelope || !envelope->value(u"method"_s).isString() ||
        !(params.isObject() || params.isUndefined())) {
        fail(response, 400, u"The call is not a method with parameters."_s);
        return;
    }
    const auto method = envelope->value(u"method"_s).toString();
    if (method == u"beginSudoPasskeyAuthentication"_s)
        beginSudo(response, *auth);
    else if (method == u"completeSudoPasskeyAuthentication"_s)
        completeSudo(response, *auth, params.toObject());
    else
        envelopeError(response, u"Unknown method %1."_s.arg(method));
}

void DevService::Private::beginSudo(httplib::Response &response,
                                    const SessionRegistry::Authentication &auth)
{
    const auto user = sessions.user(auth.userID);
    if (!user || user->credentials.isEmpty()) {
        envelopeError(response, u"No passkey is registered for this account."_s);
        return;
    }
    const auto attempt = sessions.beginPasskeyAttempt(auth.sessionID, now());
    QJsonArray allowed;
    for (const auto &credential : user->credentials)
        allowed.append(Base64Url::encode(credential.id));
    reply(response, 200,
          {{u"ok"_s, true},
           {u"result"_s, QJsonObject{{u"passkeyAttemptID"_s, attempt.attemptID},
                                     {u"challenge"_s, Base64Url::encode(attempt.challenge)},
                                     {u"rpID"_s, QString(relyingPartyId)},
                                     {u"allowCredentialIDs"_s, allowed},
                                     {u"userVerification"_s, options.userVerification}}}});
}

void DevService::Private::completeSudo(httplib::Response &response,
                                       const SessionRegistry::Authentication &auth,
                                       const QJsonObject &params)
{
    const auto attemptID = params.value(u"passkeyAttemptID"_s).toString();
    const auto attempt = sessions.takePasskeyAttempt(auth.sessionID, attemptID, now());
    if (!attempt) {
        envelopeError(response, u"This passkey request has expired. Try again."_s, u"attempt"_s);
        return;
    }
    const auto user = sessions.user(auth.userID);
    PasskeyVerifier::Expectation expectation;
    expectation.challenge = attempt->challenge;
    expectation.rpId = relyingPartyId;
    // The page origin a browser reports, and the relying party's own origin.
    expectation.origins = {u"https://localhost"_s, u"https://localhost:%1"_s.arg(clientPort())};
    expectation.userHandle = user ? user->userHandle : QByteArray();
    expectation.userVerificationRequired = options.userVerification == u"required"_s;
    const auto result =
        PasskeyVerifier::verify(params.value(u"response"_s).toObject(), expectation,
                                user ? user->credentials : QList<PasskeyCredential>());
    if (result.failure != PasskeyVerifier::Failure::None) {
        const auto reason = PasskeyVerifier::reason(result.failure);
        log(u"passkey assertion refused: %1"_s.arg(reason));
        envelopeError(response, u"The passkey could not be verified."_s, reason);
        return;
    }
    sessions.updateSignCount(auth.userID, result.credential.id, result.credential.signCount);
    sessions.openSudo(auth.sessionID, now());
    reply(response, 200,
          {{u"ok"_s, true}, {u"result"_s, QJsonObject{{u"isSudoSessionActive"_s, true}}}});
}

void DevService::Private::signIn(const httplib::Request &request, httplib::Response &response,
                                 const httplib::ContentReader &reader)
{
    RequestBody body(reader);
    const auto data = body.readAll(maximumSmallBody, response, u"The sign-in is too large."_s);
    if (!data)
        return;
    const auto origin = header(request, "Origin");
    if (!origin.isEmpty() && !isOwnOrigin(origin)) {
        fail(response, 403, u"This request came from another site."_s);
        return;
    }
    QString name = u"dev"_s;
    if (!data->trimmed().isEmpty()) {
        static const QRegularExpression userName(u"^[a-z0-9][a-z0-9-]{0,31}$"_s);
        const auto object = parseObject(*data);
        const auto user = object ? object->value(u"user"_s) : QJsonValue();
        if (!object || !(user.isUndefined() || user.isString()) ||
            (user.isString() && !userName.match(user.toString()).hasMatch())) {
            fail(response, 400,
                 u"The user name is 1 to 32 lower-case letters, digits and hyphens."_s);
            return;
        }
        if (user.isString())
            name = user.toString();
    }
    const auto session = sessions.signIn(name, now());
    QByteArray device(16, Qt::Uninitialized);
    for (auto &byte : device)
        byte = char(QRandomGenerator::system()->bounded(256));
    response.set_header(
        "Set-Cookie",
        setCookie(sessionCookieName, session.cookieValue, cookieMaxAge).toStdString());
    response.set_header("Set-Cookie", setCookie(deviceCookieName,
                                                Base64Url::encode(device).toLatin1(), cookieMaxAge)
                                          .toStdString());
    reply(response, 200,
          {{u"ok"_s, true},
           {u"cookieName"_s, QString(sessionCookieName)},
           {u"userID"_s, session.user.userID},
           {u"userHandle"_s, Base64Url::encode(session.user.userHandle)},
           {u"rpID"_s, QString(relyingPartyId)}});
}

void DevService::Private::signOut(const httplib::Request &request, httplib::Response &response,
                                  const httplib::ContentReader &reader)
{
    RequestBody body(reader);
    const auto auth = authenticate(request, response);
    if (!auth)
        return;
    sessions.signOut(auth->sessionID);
    response.headers.erase("Set-Cookie");
    response.set_header("Set-Cookie", setCookie(sessionCookieName, {}, 0).toStdString());
    reply(response, 200, {{u"ok"_s, true}});
}

void DevService::Private::registerPasskey(const httplib::Request &request,
                                          httplib::Response &response,
                                          const httplib::ContentReader &reader)
{
    RequestBody body(reader);
    const auto auth = authenticate(request, response);
    if (!auth)
        return;
    const auto data = body.readAll(maximumSmallBody, response, u"The passkey is too large."_s);
    if (!data)
        return;
    const auto object = parseObject(*data).value_or(QJsonObject());
    const auto credentialID = Base64Url::decode(object.value(u"credentialID"_s).toString());
    const auto publicKey = Base64Url::decode(object.value(u"publicKey"_s).toString());
    const auto algorithm = object.value(u"algorithm"_s);
    if (!credentialID || credentialID->size() < 16 || credentialID->size() > 1023 || !publicKey ||
        !PasskeyVerifier::isP256PublicKey(*publicKey) ||
        !(algorithm.isUndefined() || algorithm.toInt(0) == -7)) {
        fail(response, 400,
             u"A passkey is an ES256 credential: credentialID and a P-256 publicKey (DER "
             u"SubjectPublicKeyInfo), both base64url."_s);
        return;
    }
    if (!sessions.registerCredential(auth->userID, {*credentialID, *publicKey, 0})) {
        fail(response, 409, u"This credential belongs to another account."_s);
        return;
    }
    reply(response, 200, {{u"ok"_s, true}});
}

void DevService::Private::avatarImage(const httplib::Request &request, httplib::Response &response)
{
    if (QString::fromStdString(request.matches[1].str()) != DestinationCatalog::avatarID() ||
        QString::fromStdString(request.get_param_value("v")) !=
            DestinationCatalog::avatarVersion()) {
        fail(response, 404, u"No such avatar image."_s);
        return;
    }
    const auto &image = catalog.avatarImage();
    response.set_header("Cache-Control", "public, max-age=31536000, immutable");
    response.set_content(image.constData(), size_t(image.size()), "image/png");
}

DevService::DevService(DevServiceOptions options)
    : d(std::make_unique<Private>(std::move(options)))
{}

DevService::~DevService()
{
    stop();
}

void DevService::bind()
{
    if (d->port > 0)
        return;
    if (d->options.port == 0) {
        d->port = d->server->bind_to_any_port("127.0.0.1");
    } else if (d->server->bind_to_port("127.0.0.1", d->options.port)) {
        d->port = d->options.port;
    }
    if (d->port <= 0)
        throw std::runtime_error(
            QStringLiteral("cannot listen on 127.0.0.1:%1 (is another service using it?)")
                .arg(d->options.port)
                .toStdString());

    d->deadSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (d->deadSocket < 0 ||
        ::bind(d->deadSocket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::getsockname(d->deadSocket, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("cannot reserve a port for --direct-upload fail-network");
    d->deadPort = ntohs(address.sin_port);
}

quint16 DevService::port() const
{
    return quint16(d->port);
}

QString DevService::origin() const
{
    return u"https://localhost:%1"_s.arg(d->clientPort());
}

QString DevService::certificateAuthorityFile() const
{
    return DevCertificates::authorityFile(d->options.dataDirectory);
}

QString DevService::sharesDirectory() const
{
    return QDir(d->options.dataDirectory).filePath(u"shares"_s);
}

void DevService::run()
{
    bind();
    d->server->listen_after_bind();
}

void DevService::start()
{
    bind();
    d->serverThread = std::thread([this] { d->server->listen_after_bind(); });
    // stop() only ends a server that is running, so it has to be before start() returns.
    while (!d->server->is_running())
        std::this_thread::yield();
}

void DevService::stop()
{
    d->server->stop();
    if (d->serverThread.joinable())
        d->serverThread.join();
}
