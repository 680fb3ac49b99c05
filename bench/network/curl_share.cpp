// The peer of a headless share in the network benchmark: the requests `zelt-share --headless
// --to tovi FILE…` makes of the development service (the destinations, then for each file the
// prepare step and the PUT to its upload URL, then the submission), made with libcurl on one
// easy handle, so over one connection that stays open. Each file body is streamed from disk.
// Exits 0 when the service accepted the share.
//
// Usage: zelt-curl-share ORIGIN CA.pem COOKIE FILE…   (COOKIE: name=value)

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <cstdio>
#include <curl/curl.h>
#include <string>

using namespace Qt::StringLiterals;

namespace {

size_t collect(char *data, size_t size, size_t count, void *target)
{
    static_cast<QByteArray *>(target)->append(data, qsizetype(size * count));
    return size * count;
}

size_t readFile(char *buffer, size_t size, size_t count, void *file)
{
    const auto got = static_cast<QFile *>(file)->read(buffer, qint64(size * count));
    return got < 0 ? CURL_READFUNC_ABORT : size_t(got);
}

class Client
{
public:
    Client(const char *origin, const char *authority, const char *cookie)
        : m_curl(curl_easy_init())
        , m_origin(origin)
    {
        curl_easy_setopt(m_curl, CURLOPT_CAINFO, authority);
        curl_easy_setopt(m_curl, CURLOPT_COOKIE, cookie);
        curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, collect);
        curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, &m_body);
        curl_easy_setopt(m_curl, CURLOPT_TCP_NODELAY, 1L);
    }
    ~Client() { curl_easy_cleanup(m_curl); }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    bool get(const std::string &path) { return run(m_origin + path, "GET", {}, nullptr); }
    bool postJson(const std::string &path, const QJsonObject &body)
    {
        return run(m_origin + path, "POST", QJsonDocument(body).toJson(QJsonDocument::Compact),
                   nullptr);
    }
    bool put(const std::string &url, QFile &file, const QByteArray &mediaType)
    {
        m_mediaType = mediaType;
        return run(url, "PUT", {}, &file);
    }
    QJsonObject json() const { return QJsonDocument::fromJson(m_body).object(); }

private:
    bool run(const std::string &url, const char *method, const QByteArray &json, QFile *file)
    {
        m_body.clear();
        curl_slist *headers = nullptr;
        curl_easy_setopt(m_curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(m_curl, CURLOPT_UPLOAD, 0L);
        curl_easy_setopt(m_curl, CURLOPT_POST, 0L);
        curl_easy_setopt(m_curl, CURLOPT_HTTPGET, 1L);
        if (file) {
            curl_easy_setopt(m_curl, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(m_curl, CURLOPT_READFUNCTION, readFile);
            curl_easy_setopt(m_curl, CURLOPT_READDATA, file);
            curl_easy_setopt(m_curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(file->size()));
            headers = curl_slist_append(headers, ("Content-Type: " + m_mediaType).constData());
            // As the share sheet does: the body follows the head at once.
            headers = curl_slist_append(headers, "Expect:");
        } else if (!json.isNull()) {
            curl_easy_setopt(m_curl, CURLOPT_POSTFIELDSIZE, long(json.size()));
            curl_easy_setopt(m_curl, CURLOPT_COPYPOSTFIELDS, json.constData());
            headers = curl_slist_append(headers, "Content-Type: application/json");
            headers = curl_slist_append(headers, "Accept: application/json");
        } else {
            headers = curl_slist_append(headers, "Accept: application/json");
        }
        (void)method;
        curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, headers);
        const CURLcode result = curl_easy_perform(m_curl);
        curl_slist_free_all(headers);
        long status = 0;
        curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &status);
        if (result != CURLE_OK || status < 200 || status > 299) {
            std::fprintf(stderr, "zelt-curl-share: %s %s: %s, status %ld: %s\n", method,
                         url.c_str(), curl_easy_strerror(result), status, m_body.constData());
            return false;
        }
        return true;
    }

    CURL *m_curl;
    std::string m_origin;
    QByteArray m_body;
    QByteArray m_mediaType;
};

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s ORIGIN CA.pem COOKIE FILE...\n", argv[0]);
        return 2;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int status = 1;
    {
        Client client(argv[1], argv[2], argv[3]);
        QJsonArray files;
        bool ok = client.get("/api/tovi/native-share/destinations");
        for (int i = 4; ok && i < argc; ++i) {
            QFile file(QFile::decodeName(argv[i]));
            if (!file.open(QIODevice::ReadOnly)) {
                ok = false;
                break;
            }
            const QJsonObject described{{"filename"_L1, QFileInfo(file).fileName()},
                                        {"mediaType"_L1, u"application/octet-stream"_s},
                                        {"sizeBytes"_L1, file.size()}};
            ok = client.postJson("/api/tovi/native-share",
                                 {{"action"_L1, u"prepare-upload"_s}, {"file"_L1, described}});
            if (!ok)
                break;
            const auto prepared = client.json();
            ok = client.put(prepared.value("uploadURL"_L1).toString().toStdString(), file,
                            "application/octet-stream");
            auto entry = described;
            entry.insert("uploadID"_L1, prepared.value("uploadID"_L1));
            files.append(entry);
        }
        ok = ok &&
             client.postJson("/api/tovi/native-share",
                             {{"message"_L1, QString()},
                              {"files"_L1, files},
                              {"shareID"_L1, QUuid::createUuid().toString(QUuid::WithoutBraces)}});
        ok = ok && client.json().value("ok"_L1).toBool();
        status = ok ? 0 : 1;
    }
    curl_global_cleanup();
    return status;
}
