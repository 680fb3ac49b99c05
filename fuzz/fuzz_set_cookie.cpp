// A response's Set-Cookie fields turned into a rotated session.
//
// Input: the session JSON on the first line (a built-in session when it does not decode), the
// response URL on the second, then one header field per line as "Name: value".

#include "FuzzSupport.h"
#include "service/NativeSharedSession.h"

#include <QList>

using namespace Qt::StringLiterals;

namespace {

NativeSharedSession builtInSession()
{
    NativeSharedSession session;
    session.baseOrigin = u"https://zelt.app"_s;
    session.cookieName = u"zelt_session"_s;
    session.cookieValue = u"v1"_s;
    session.additionalCookies = QList<NativeSharedSessionCookie>{{u"csrf"_s, u"c1"_s}};
    session.userID = u"user"_s;
    return session;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> lines = Fuzz::bytes(data, size).split('\n');
    const auto decoded = NativeSharedSession::fromJson(lines.value(0));
    const NativeSharedSession session = decoded.value_or(builtInSession());
    const QUrl url(QString::fromUtf8(lines.value(1)));
    QList<QNetworkReply::RawHeaderPair> fields;
    for (qsizetype i = 2; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        const auto colon = line.indexOf(':');
        if (colon < 0)
            fields.append({line, QByteArray()});
        else
            fields.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    const QDateTime now(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC);

    const auto next = session.rotated(url, fields, now);
    if (!next)
        return 0;
    Fuzz::check(!(*next == session), "a rotation changes the session");
    Fuzz::check(next->baseOrigin == session.baseOrigin && next->cookieName == session.cookieName &&
                    next->storeID == session.storeID && next->userID == session.userID,
                "a rotation keeps the origin, the cookie name and the identities");
    const auto superseded = next->supersededCookieValues.value_or(QStringList{});
    Fuzz::check(superseded.size() <= NativeSharedSession::maximumSupersededCookieValues,
                "at most the maximum of superseded values is kept");
    if (next->cookieValue != session.cookieValue)
        Fuzz::check(!superseded.isEmpty() && superseded.last() == session.cookieValue,
                    "a replaced main value is the last superseded one");
    Fuzz::check(next->additionalCookies.value_or(QList<NativeSharedSessionCookie>{}).size() ==
                    session.additionalCookies.value_or(QList<NativeSharedSessionCookie>{}).size(),
                "a rotation neither adds nor drops additional cookies");
    // The rotated record is written to the keychain and read by the next request.
    const auto written = NativeSharedSession::fromJson(next->toJson());
    Fuzz::check(written && *written == *next, "a rotated session decodes as itself");
    // The same response again changes nothing more.
    Fuzz::check(!next->rotated(url, fields, now), "a rotation is applied once");
    return 0;
}
