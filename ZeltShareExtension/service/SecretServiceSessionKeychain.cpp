#include "SecretServiceSessionKeychain.h"

#include "AppIdentifiers.h"
#include "FileLock.h"
#include "Logging.h"
#include "NativeSharedSession.h"

#include <QStandardPaths>

#include <libsecret/secret.h>

using namespace Qt::StringLiterals;

namespace {

const SecretSchema *sessionSchema()
{
    static const SecretSchema schema = {
        "app.zelt.NativeSharedSession",
        SECRET_SCHEMA_NONE,
        {
            {"accessGroup", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"generic", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    };
    return &schema;
}

constexpr const char *contentType = "text/plain";
constexpr const char *itemLabel = "Zelt share session";

struct GErrorHolder
{
    GError *error = nullptr;
    ~GErrorHolder()
    {
        if (error)
            g_error_free(error);
    }
    QString message() const
    {
        return error ? QString::fromUtf8(error->message) : QStringLiteral("unknown error");
    }
};

struct HashTable
{
    GHashTable *table;
    ~HashTable() { g_hash_table_unref(table); }
};

struct ItemList
{
    GList *items = nullptr;
    ~ItemList() { g_list_free_full(items, g_object_unref); }
};

struct Value
{
    SecretValue *value;
    ~Value()
    {
        if (value)
            secret_value_unref(value);
    }
};

HashTable attributes(const QString &accessGroup, const std::optional<QByteArray> &fingerprint)
{
    const QByteArray group = accessGroup.toUtf8();
    const QByteArray account = QByteArray(AppIdentifiers::keychainAccount.data());
    const QByteArray service = QByteArray(AppIdentifiers::keychainService.data());
    GHashTable *table =
        secret_attributes_build(sessionSchema(), "accessGroup", group.constData(), "account",
                                account.constData(), "service", service.constData(), nullptr);
    if (fingerprint)
        g_hash_table_insert(table, g_strdup("generic"), g_strdup(fingerprint->toHex().constData()));
    return {table};
}

// The items of the access group, whatever fingerprint they carry.
ItemList findItems(const QString &accessGroup, bool withSecrets = false)
{
    const auto query = attributes(accessGroup, std::nullopt);
    GErrorHolder error;
    ItemList list;
    int flags = SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK;
    if (withSecrets)
        flags |= SECRET_SEARCH_LOAD_SECRETS;
    list.items =
        secret_service_search_sync(nullptr, sessionSchema(), query.table,
                                   static_cast<SecretSearchFlags>(flags), nullptr, &error.error);
    if (error.error)
        throw KeychainError(KeychainError::Status::Failed, error.message());
    return list;
}

QByteArray fingerprintOf(SecretItem *item)
{
    const HashTable itemAttributes{secret_item_get_attributes(item)};
    const auto *generic =
        static_cast<const char *>(g_hash_table_lookup(itemAttributes.table, "generic"));
    return generic ? QByteArray::fromHex(generic) : QByteArray();
}

// The fingerprint of the session an item holds, for a compare-and-replace or -delete: that of
// its secret, which is what every reader gets. A rewrite sets the secret first and the
// attribute second, so a writer killed in between leaves the new session under the old
// attribute; compared by its attribute, such an item would refuse every later rotation and
// take one of the session before. An item whose secret is no session has only its attribute.
// Needs the item's secret loaded.
QByteArray heldFingerprint(SecretItem *item)
{
    const Value value{secret_item_get_secret(item)};
    if (value.value) {
        gsize length = 0;
        const gchar *bytes = secret_value_get(value.value, &length);
        if (const auto session =
                NativeSharedSession::fromJson(QByteArray(bytes, qsizetype(length))))
            return session->fingerprint();
    }
    return fingerprintOf(item);
}

// Rewrites an existing item in place: the data first, then the fingerprint, so that a reader
// in between already sees the new session.
void overwrite(SecretItem *item, const QString &accessGroup, const QByteArray &fingerprint,
               const QByteArray &data)
{
    const Value value{secret_value_new(data.constData(), data.size(), contentType)};
    GErrorHolder error;
    if (!secret_item_set_secret_sync(item, value.value, nullptr, &error.error))
        throw KeychainError(KeychainError::Status::Failed, error.message());
    const auto newAttributes = attributes(accessGroup, fingerprint);
    if (!secret_item_set_attributes_sync(item, sessionSchema(), newAttributes.table, nullptr,
                                         &error.error))
        throw KeychainError(KeychainError::Status::Failed, error.message());
}

// After a lookup that gave no secret: whether that is because the keyring stays locked (its
// unlock prompt could not appear, or was dismissed) rather than because there is no item. A
// locked default collection counts too, since a keyring may hide what a locked collection
// holds.
bool isLocked(const QString &accessGroup)
{
    const auto query = attributes(accessGroup, std::nullopt);
    GErrorHolder error;
    // Without SECRET_SEARCH_UNLOCK: the lookup has asked for the unlock already.
    ItemList found;
    found.items = secret_service_search_sync(nullptr, sessionSchema(), query.table,
                                             SECRET_SEARCH_ALL, nullptr, &error.error);
    if (error.error)
        return true;
    for (GList *entry = found.items; entry; entry = entry->next) {
        if (secret_item_get_locked(static_cast<SecretItem *>(entry->data)))
            return true;
    }
    if (found.items)
        return false;
    SecretCollection *collection = secret_collection_for_alias_sync(
        nullptr, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error.error);
    if (error.error)
        return true;
    const bool locked = collection && secret_collection_get_locked(collection);
    if (collection)
        g_object_unref(collection);
    return locked;
}

} // namespace

SecretServiceSessionKeychain::SecretServiceSessionKeychain(const QString &accessGroup)
    : m_accessGroup(accessGroup)
{}

QString SecretServiceSessionKeychain::lockFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + u'/' +
           AppIdentifiers::keychainService + u".lock"_s;
}

SessionKeychain::Contents SecretServiceSessionKeychain::contents()
{
    const auto query = attributes(m_accessGroup, std::nullopt);
    GErrorHolder error;
    const Value value{
        secret_password_lookupv_binary_sync(sessionSchema(), query.table, nullptr, &error.error)};
    if (error.error) {
        qCWarning(lcShareExtension, "keyring lookup failed: %s", qUtf8Printable(error.message()));
        return {Contents::State::Unavailable, {}};
    }
    if (!value.value)
        return {isLocked(m_accessGroup) ? Contents::State::Unavailable : Contents::State::NoItem,
                {}};
    gsize length = 0;
    const gchar *bytes = secret_value_get(value.value, &length);
    return {Contents::State::Item, QByteArray(bytes, qsizetype(length))};
}

void SecretServiceSessionKeychain::store(const QByteArray &fingerprint, const QByteArray &data)
{
    const FileLock lock(lockFilePath());
    const auto existing = findItems(m_accessGroup);
    if (existing.items) {
        auto *first = static_cast<SecretItem *>(existing.items->data);
        overwrite(first, m_accessGroup, fingerprint, data);
        for (GList *rest = existing.items->next; rest; rest = rest->next)
            secret_item_delete_sync(static_cast<SecretItem *>(rest->data), nullptr, nullptr);
        return;
    }
    const auto newAttributes = attributes(m_accessGroup, fingerprint);
    const Value value{secret_value_new(data.constData(), data.size(), contentType)};
    GErrorHolder error;
    if (!secret_password_storev_binary_sync(sessionSchema(), newAttributes.table,
                                            SECRET_COLLECTION_DEFAULT, itemLabel, value.value,
                                            nullptr, &error.error))
        throw KeychainError(KeychainError::Status::Failed, error.message());
}

void SecretServiceSessionKeychain::replace(const QByteArray &expectedFingerprint,
                                           const QByteArray &fingerprint, const QByteArray &data)
{
    const FileLock lock(lockFilePath());
    const auto existing = findItems(m_accessGroup, true);
    if (!existing.items)
        throw KeychainError(KeychainError::Status::NotFound, QStringLiteral("no session item"));
    auto *item = static_cast<SecretItem *>(existing.items->data);
    if (heldFingerprint(item) != expectedFingerprint)
        throw KeychainError(KeychainError::Status::NotFound,
                            QStringLiteral("the session item was replaced meanwhile"));
    overwrite(item, m_accessGroup, fingerprint, data);
}

void SecretServiceSessionKeychain::remove(const std::optional<QByteArray> &expectedFingerprint)
{
    try {
        const FileLock lock(lockFilePath());
        const auto existing = findItems(m_accessGroup, expectedFingerprint.has_value());
        for (GList *entry = existing.items; entry; entry = entry->next) {
            auto *item = static_cast<SecretItem *>(entry->data);
            if (!expectedFingerprint || heldFingerprint(item) == *expectedFingerprint)
                secret_item_delete_sync(item, nullptr, nullptr);
        }
    } catch (const KeychainError &error) {
        qCWarning(lcShareExtension, "keyring delete failed: %s", error.what());
    }
}
