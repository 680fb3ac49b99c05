#pragma once

#include "ToviAvatar.h"
#include "service/HttpTransfer.h"

#include <QCoroTask>
#include <QImage>
#include <QLatin1StringView>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

// The avatar Tovi shows and its decoded face image: the built-in classic face until the service
// names another, the last accepted avatar across launches (when its image is still cached), and
// downloads of new images into the cache. Main thread only.
class ToviAvatarStore : public QObject
{
    Q_OBJECT
    // The avatar shown; starts as the remembered or the classic one.
    Q_PROPERTY(ToviAvatar avatar READ avatar NOTIFY avatarChanged)
    // The face image for the avatar; null when there is none (no classic image, nothing loaded).
    Q_PROPERTY(QImage image READ image NOTIFY imageChanged)

public:
    // The key under which the process-wide store remembers its avatar in the standard defaults.
    static constexpr QLatin1StringView sharedDefaultsKey{"zelt.toviAvatar"};
    // Avatar images are small; anything past this is not one.
    static constexpr qint64 maximumImageSize = 16 * 1024 * 1024;
    // A download fails when no byte moves for this long.
    static constexpr std::chrono::milliseconds downloadInactivityTimeout = std::chrono::seconds(60);

    // Starts with the avatar remembered under defaultsKey when its image is available locally,
    // else with the classic avatar. Writes nothing.
    explicit ToviAvatarStore(QString defaultsKey, QObject *parent = nullptr);
    // Aborts the downloads still running; their results are dropped.
    ~ToviAvatarStore() override;

    // The store of the process, created on first use with sharedDefaultsKey.
    static ToviAvatarStore &shared();

    const ToviAvatar &avatar() const { return m_avatar; }
    const QImage &image() const { return m_image; }
    const QString &defaultsKey() const { return m_defaultsKey; }
    // The id of the avatar whose image is downloading and will be applied; empty when none.
    const QString &loadingID() const { return m_loadingID; }
    // Downloads still in flight, including superseded ones whose result will be dropped.
    int runningDownloads() const { return m_runningDownloads; }

    // Offers an avatar the service sent. It is ignored unless its id is a valid cache name and
    // its image is on baseOrigin's scheme, host and port. Otherwise it is shown at once when its
    // image is the classic one or is cached, else once its image has downloaded. The download
    // trusts what tls trusts: the configuration of the service calls.
    void update(const ToviAvatar &avatar, const QUrl &baseOrigin,
                const QSslConfiguration &tls = QSslConfiguration::defaultConfiguration());

    // The built-in classic face, decoded on first use; null when the resource is unreadable.
    static const QImage &classicImage();
    // Where the image of this avatar version is cached: <caches>/<extension>/ToviAvatars/
    // <cache name>.png. None when the avatar has no valid cache name or there is no caches
    // directory.
    static std::optional<QString> cacheFilePath(const ToviAvatar &avatar);

Q_SIGNALS:
    void avatarChanged();
    void imageChanged();

private:
    void restore();
    void apply(ToviAvatar avatar, QImage image);
    void load(const ToviAvatar &avatar, const QSslConfiguration &tls);
    QCoro::Task<> download(ToviAvatar avatar, QSslConfiguration tls);
    void finishDownload(const ToviAvatar &avatar, const HttpResponse &response,
                        const std::optional<QString> &failure);

    QString m_defaultsKey;
    ToviAvatar m_avatar;
    QImage m_image;
    QString m_loadingID;
    int m_runningDownloads = 0;
    // Fired when the store goes away, so no download outlives it.
    RequestAbort m_downloadsAbort;
};

// An item's hold on the store it draws from: while it holds a store, every change of the store's
// avatar or image calls changed(). The store may go first; the hold then gives nothing.
class ToviAvatarStoreHold
{
public:
    // Holds store (or none) instead of the one held before; false when it is the one held.
    bool hold(ToviAvatarStore *store, const QObject *context, const std::function<void()> &changed);
    ToviAvatarStore *store() const { return m_store; }

private:
    QPointer<ToviAvatarStore> m_store;
    QMetaObject::Connection m_avatarConnection;
    QMetaObject::Connection m_imageConnection;
};
