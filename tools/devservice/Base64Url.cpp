#include "Base64Url.h"

QString Base64Url::encode(const QByteArray &bytes)
{
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

std::optional<QByteArray> Base64Url::decode(const QString &text)
{
    QByteArray standard = text.toUtf8();
    standard.replace('-', '+').replace('_', '/');
    if (standard.size() % 4 == 1)
        return std::nullopt;
    while (standard.size() % 4 != 0)
        standard.append('=');
    auto result = QByteArray::fromBase64Encoding(
        standard, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (result.decodingStatus != QByteArray::Base64DecodingStatus::Ok)
        return std::nullopt;
    return result.decoded;
}
