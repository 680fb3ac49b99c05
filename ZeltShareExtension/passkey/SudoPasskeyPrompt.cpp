#include "SudoPasskeyPrompt.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

QCoro::Task<SudoPasskey::Completion> SudoPasskeyPrompt::authenticate(SudoPasskey::Options options)
{
    auto parameters = SudoPasskey::assertionParameters(options);
    const auto credential = co_await requestAssertion(std::move(parameters));
    co_return SudoPasskey::completion(credential, options.passkeyAttemptID);
}

QByteArray SudoPasskeyPrompt::clientDataJSON(const QByteArray &challenge, const QString &rpID)
{
    // Written by hand to keep the members in the order browsers use.
    const auto origin =
        QJsonDocument(QJsonArray{u"https://"_s + rpID}).toJson(QJsonDocument::Compact);
    return "{\"type\":\"webauthn.get\",\"challenge\":\"" +
           SudoPasskey::base64URLEncode(challenge).toLatin1() +
           "\",\"origin\":" + origin.mid(1, origin.size() - 2) + ",\"crossOrigin\":false}";
}
