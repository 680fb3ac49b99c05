#include "ToviAvatarStore.h"

#include "Logging.h"
#include "service/AppIdentifiers.h"
#include "service/ServiceError.h"
#include "service/ServiceOrigin.h"
#include "service/UserDefaults.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonDocument>
#include <QNetworkRequest>
#include <QPointer>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>

using namespace Qt::StringLiterals;

namespace {

// The first frame, as stored: the face geometry is given in the image's own pixels, so no
// orientation tag is applied.
QImage decodeImage(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    return reader.read();
}

// A cache file is read through the same ceiling as a download, so a file that grew out of
// bounds is treated as unreadable rather than loaded whole.
QImage readImageFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.read(ToviAvatarStore::maximumImageSize + 1);
    if (bytes.size() > ToviAvatarStore::maximumImageSize)
        return {};
    return decodeImage(bytes);
}

// Best effort: an image that cannot be cached is downloaded again at the next launch.
void writeCacheFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return;
    }
    file.commit();
}

} // namespace

ToviAvatarStore::ToviAvatarStore(QString defaultsKey, QObject *parent)
    : QObject(parent)
    , m_defaultsKey(std::move(defaultsKey))
    , m_avatar(ToviAvatar::classic())
    , m_image(classicImage())
{
    restore();
}

ToviAvatarStore::~ToviAvatarStore()
{
    m_loadingID.clear();
    m_downloadsAbort.abort();
}

ToviAvatarStore &ToviAvatarStore::shared()
{
    // Kept for the life of the process and never destroyed, like the state it stands for.
    static ToviAvatarStore *const store = new ToviAvatarStore(QString(sharedDefaultsKey));
    return *store;
}

const QImage &ToviAvatarStore::classicImage()
{
    static const QImage image = readImageFile(u":/avatar/ToviClassic.png"_s);
    return image;
}

std::optional<QString> ToviAvatarStore::cacheFilePath(const ToviAvatar &avatar)
{
    const auto name = avatar.cacheName();
    if (!name)
        return std::nullopt;
    const QString caches = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (caches.isEmpty())
        return std::nullopt;
    return caches + u'/' + AppIdentifiers::extensionIdentifier + u"/ToviAvatars/"_s + *name +
           u".png"_s;
}

// The stored avatar was checked when it was applied; only its image decides whether it is
// shown again.
void ToviAvatarStore::restore()
{
    const QVariant stored = UserDefaults::standard()->value(m_defaultsKey);
    if (!stored.isValid())
        return;
    QJsonParseError error;
    const auto document = QJsonDocument::fromJson(stored.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return;
    const auto avatar = ToviAvatar::fromJson(document.object());
    if (!avatar)
        return;

    if (avatar->id == ToviAvatar::classic().id && !classicImage().isNull()) {
        m_avatar = *avatar;
        m_image = classicImage();
        return;
    }
    const auto path = cacheFilePath(*avatar);
    if (!path)
        return;
    QImage image = readImageFile(*path);
    if (image.isNull())
        return;
    m_avatar = *avatar;
    m_image = std::move(image);
}

void ToviAvatarStore::update(const ToviAvatar &avatar, const QUrl &baseOrigin,
                             const QSslConfiguration &tls)
{
    Q_ASSERT(thread() == QThread::currentThread());

    if (!ToviAvatar::isValidCacheName(avatar.id) ||
        !ServiceOrigin::isSameOrigin(avatar.imageURL, baseOrigin)) {
        qCInfo(lcToviAvatar, "Ignored a Tovi avatar with an unexpected ID or image URL");
        return;
    }
    if (avatar == m_avatar && !m_image.isNull())
        return;
    if (avatar.id == ToviAvatar::classic().id && !classicImage().isNull()) {
        apply(avatar, classicImage());
        return;
    }
    if (const auto path = cacheFilePath(avatar)) {
        QImage cached = readImageFile(*path);
        if (!cached.isNull()) {
            apply(avatar, std::move(cached));
            return;
        }
    }
    load(avatar, tls);
}

void ToviAvatarStore::apply(ToviAvatar avatar, QImage image)
{
    m_loadingID.clear();
    const bool newAvatar = avatar != m_avatar;
    const bool newImage = image != m_image;
    // Both are in place before either signal goes out, so an observer never sees the new
    // avatar with the old image.
    m_avatar = std::move(avatar);
    m_image = std::move(image);
    UserDefaults::standard()->setValue(
        m_defaultsKey, QJsonDocument(m_avatar.toJson()).toJson(QJsonDocument::Compact));
    if (newAvatar)
        Q_EMIT avatarChanged();
    if (newImage)
        Q_EMIT imageChanged();
}

void ToviAvatarStore::load(const ToviAvatar &avatar, const QSslConfiguration &tls)
{
    if (m_loadingID == avatar.id)
        return;
    m_loadingID = avatar.id;
    // Runs on by itself; the coroutine frame goes when the download ends.
    static_cast<void>(download(avatar, tls));
}

QCoro::Task<> ToviAvatarStore::download(ToviAvatar avatar, QSslConfiguration tls)
{
    const QPointer<ToviAvatarStore> self(this);
    ++m_runningDownloads;

    // A plain fetch: no session cookie, no headers of our own.
    HttpTransfer::Request request;
    request.request = QNetworkRequest(avatar.imageURL);
    request.request.setSslConfiguration(tls);
    request.request.setTransferTimeout(int(downloadInactivityTimeout.count()));
    request.maximumBodySize = maximumImageSize;
    request.followRedirects = true;
    request.abort = &m_downloadsAbort;

    HttpResponse response;
    std::optional<QString> failure;
    try {
        response = co_await HttpTransfer::run(std::move(request));
        if (response.bodyTooLarge)
            failure = ServiceText::invalidResponse();
    } catch (...) {
        failure = userFacingMessage(std::current_exception());
    }

    if (!self)
        co_return;
    --m_runningDownloads;
    if (m_downloadsAbort.isAborted())
        co_return;
    finishDownload(avatar, response, failure);
}

void ToviAvatarStore::finishDownload(const ToviAvatar &avatar, const HttpResponse &response,
                                     const std::optional<QString> &failure)
{
    if (failure) {
        if (m_loadingID == avatar.id)
            m_loadingID.clear();
        qCInfo(lcToviAvatar, "Could not load the Tovi image: %s", qUtf8Printable(*failure));
        return;
    }
    // Another avatar was applied or started meanwhile: this result is stale.
    if (m_loadingID != avatar.id)
        return;

    QImage image;
    if (response.statusCode == 200)
        image = decodeImage(response.body);
    if (image.isNull()) {
        m_loadingID.clear();
        return;
    }
    if (const auto path = cacheFilePath(avatar))
        writeCacheFile(*path, response.body);
    apply(avatar, std::move(image));
}

bool ToviAvatarStoreHold::hold(ToviAvatarStore *store, const QObject *context,
                               const std::function<void()> &changed)
{
    if (m_store == store)
        return false;
    QObject::disconnect(m_avatarConnection);
    QObject::disconnect(m_imageConnection);
    m_store = store;
    if (store) {
        m_avatarConnection =
            QObject::connect(store, &ToviAvatarStore::avatarChanged, context, changed);
        m_imageConnection =
            QObject::connect(store, &ToviAvatarStore::imageChanged, context, changed);
    }
    return true;
}
