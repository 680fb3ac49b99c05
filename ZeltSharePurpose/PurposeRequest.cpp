#include "PurposeRequest.h"

#include "PurposeError.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborStreamReader>
#include <QCborValue>
#include <QCoreApplication>

using namespace Qt::StringLiterals;

namespace {

struct Text
{
    Q_DECLARE_TR_FUNCTIONS(PurposeHelper)
};

PurposeError unreadable()
{
    return PurposeError(Text::tr("The Share menu sent a request that Zelt cannot read."));
}

} // namespace

PurposeRequest PurposeRequest::fromCbor(const QString &pluginType, const QByteArray &cbor)
{
    PurposeRequest request;
    if (pluginType == "Export"_L1)
        request.type = Type::Export;
    else if (pluginType == "ShareUrl"_L1)
        request.type = Type::ShareUrl;
    else
        throw PurposeError(Text::tr("Zelt cannot take this kind of share: %1").arg(pluginType));

    // One map and nothing after it.
    QCborStreamReader reader(cbor);
    const QCborValue value = QCborValue::fromCbor(reader);
    if (reader.lastError() != QCborError::NoError || reader.currentOffset() != cbor.size() ||
        !value.isMap())
        throw unreadable();
    const QCborMap map = value.toMap();

    const QCborValue urls = map.value("urls"_L1);
    if (!urls.isArray())
        throw unreadable();
    for (const auto &url : urls.toArray()) {
        if (!url.isString())
            throw unreadable();
        request.urls.append(url.toString());
    }
    if (request.type == Type::ShareUrl) {
        const QCborValue title = map.value("title"_L1);
        if (title.isString())
            request.title = title.toString();
        else if (!title.isUndefined() && !title.isNull())
            throw unreadable();
    }
    return request;
}
