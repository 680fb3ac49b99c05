#include "ServiceFixture.h"
#include "TaskResult.h"
#include "service/ServiceError.h"
#include "service/ShareSubmission.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

QCoro::Task<bool> submitted(QCoro::Task<> submit)
{
    co_await std::move(submit);
    co_return true;
}

SharedFile imageFile(const ServiceFixture &fixture, const QString &name, const QByteArray &bytes)
{
    SharedFile file;
    file.id = QUuid::createUuid();
    file.filename = name;
    file.fileURL = fixture.writeFile(name, bytes);
    file.mediaType = u"image/jpeg"_s;
    file.sizeBytes = bytes.size();
    file.isPreparedImage = true;
    return file;
}

QJsonObject object(const QByteArray &json)
{
    QJsonParseError error{};
    const auto document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        qWarning("not JSON: %s", qPrintable(error.errorString()));
    return document.object();
}

} // namespace

class TestShareSubmission : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void inlineBodyWithoutFiles()
    {
        const auto body = object(
            ShareSubmission::inlineShareBody(u"Look \"here\"\n"_s, {}, std::nullopt, u"s-1"_s));
        QCOMPARE(body,
                 (QJsonObject{{"message"_L1, u"Look \"here\"\n"_s}, {"shareID"_L1, u"s-1"_s}}));
    }

    void inlineBodyWithImages()
    {
        ServiceFixture fixture;
        const QByteArray first("\xff\xd8\xff\xe0 first", 10);
        const QByteArray second("\xff\xd8 second\x01", 10);
        const QList<SharedFile> files{imageFile(fixture, u"b.jpg"_s, first),
                                      imageFile(fixture, u"a \"q\".jpg"_s, second)};
        const auto body = object(QCoro::waitFor(
            ShareSubmission::makeInlineShareBody(QString(), files, u"t1"_s, u"s-2"_s)));

        QCOMPARE(body.keys(),
                 (QStringList{u"images"_s, u"message"_s, u"shareID"_s, u"threadID"_s}));
        QCOMPARE(body.value("message"_L1).toString(), QString());
        QCOMPARE(body.value("threadID"_L1).toString(), u"t1"_s);
        const auto images = body.value("images"_L1).toArray();
        QCOMPARE(images.size(), 2);
        QCOMPARE(images[0].toObject(),
                 (QJsonObject{{"data"_L1, QString::fromLatin1(first.toBase64())},
                              {"filename"_L1, u"b.jpg"_s},
                              {"mediaType"_L1, u"image/jpeg"_s}}));
        QCOMPARE(images[1].toObject().value("filename"_L1).toString(), u"a \"q\".jpg"_s);
        QCOMPARE(
            QByteArray::fromBase64(images[1].toObject().value("data"_L1).toString().toLatin1()),
            second);
    }

    void inlineBodyWithAnUnreadableFile()
    {
        ServiceFixture fixture;
        auto file = imageFile(fixture, u"gone.jpg"_s, "x");
        QFile::remove(file.fileURL.toLocalFile());
        const auto result = TaskResult<QByteArray>::wait(
            ShareSubmission::makeInlineShareBody(u"m"_s, {file}, std::nullopt, u"s"_s));
        QVERIFY(!result.value);
        QVERIFY(userFacingMessage(result.error).contains(u"gone.jpg"_s));
    }

    // The largest inline body is built on a worker thread: the event loop keeps turning.
    void inlineBodyAtTheLimitKeepsTheEventLoopRunning()
    {
        ServiceFixture fixture;
        // Two images whose base64 texts add up to exactly the limit.
        const qint64 perFile = ShareSubmission::maximumInlineBase64Characters / 2 / 4 * 3;
        QList<SharedFile> files;
        qint64 total = 0;
        for (int i = 0; i < 2; ++i) {
            files.append(
                imageFile(fixture, u"big%1.jpg"_s.arg(i), QByteArray(perFile, char('a' + i))));
            total += ShareSubmission::base64Length(perFile);
        }
        QCOMPARE(total, ShareSubmission::maximumInlineBase64Characters);

        int ticks = 0;
        QTimer ticker;
        ticker.setInterval(1);
        connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
        ticker.start();
        const auto result = TaskResult<QByteArray>::wait(
            ShareSubmission::makeInlineShareBody(u"m"_s, files, std::nullopt, u"s"_s));
        QVERIFY(result.value);
        QVERIFY(result.value->size() > total);
        QVERIFY2(ticks > 0, "the event loop stalled while the body was built");
    }

    void filesBody()
    {
        FilesShareRequest::File document{u"u1"_s, u"notes.pdf"_s, u"application/pdf"_s, 1200, {}};
        FilesShareRequest::File movie{u"u2"_s, u"clip.mov"_s, u"video/quicktime"_s, 5000,
                                      FilesShareRequest::Video{1920, 1080, std::nullopt}};
        FilesShareRequest::File timed = movie;
        timed.video->duration = 12.5;
        const auto body = object(ShareSubmission::makeFilesShareBody(
            u"see"_s, {document, movie, timed}, std::nullopt, u"s-3"_s));

        QCOMPARE(body.keys(), (QStringList{u"files"_s, u"message"_s, u"shareID"_s}));
        const auto files = body.value("files"_L1).toArray();
        QCOMPARE(files[0].toObject(), (QJsonObject{{"uploadID"_L1, u"u1"_s},
                                                   {"filename"_L1, u"notes.pdf"_s},
                                                   {"mediaType"_L1, u"application/pdf"_s},
                                                   {"sizeBytes"_L1, 1200}}));
        QCOMPARE(files[1].toObject().value("video"_L1).toObject(),
                 (QJsonObject{{"width"_L1, 1920}, {"height"_L1, 1080}}));
        QCOMPARE(files[2].toObject().value("video"_L1).toObject().value("duration"_L1).toDouble(),
                 12.5);
    }

    void shareIDs()
    {
        static const QRegularExpression canonical(
            u"^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$"_s);
        const auto a = ShareSubmission::newShareID();
        const auto b = ShareSubmission::newShareID();
        QVERIFY2(canonical.match(a).hasMatch(), qPrintable(a));
        QVERIFY(a != b);
    }

    void answers_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("failure"); // null: delivered

        const QString invalid = u"Zelt did not return a valid response."_s;
        QTest::newRow("ok") << 200 << R"({"ok":true})"_ba << QString();
        QTest::newRow("ok with more keys") << 200 << R"({"ok":true,"shareID":"s"})"_ba << QString();
        QTest::newRow("ok false") << 200 << R"({"ok":false})"_ba << invalid;
        QTest::newRow("no ok") << 200 << "{}"_ba << invalid;
        QTest::newRow("ok as text") << 200 << R"({"ok":"true"})"_ba << invalid;
        QTest::newRow("empty body") << 200 << QByteArray() << invalid;
        QTest::newRow("sudo") << 403 << R"({"message":"T","code":"SUDO_AUTH_REQUIRED"})"_ba
                              << u"Authenticate with your passkey to send this."_s;
    }

    void answers()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, answer);
        QFETCH(QString, failure);
        ServiceFixture fixture;
        fixture.server().enqueue(ScriptedResponse::json(status, answer));
        const QByteArray body = R"({"message":"m","shareID":"s"})";
        const auto result =
            TaskResult<bool>::wait(submitted(ShareSubmission::submitShare(fixture.holder(), body)));
        QCOMPARE(result.value.has_value(), failure.isNull());
        if (!failure.isNull())
            QCOMPARE(userFacingMessage(result.error), failure);
        const auto &request = fixture.server().requests().first();
        QCOMPARE(request.method, "POST"_ba);
        QCOMPARE(request.target, "/api/tovi/native-share"_ba);
        QCOMPARE(request.body, body);
    }
};

QTEST_GUILESS_MAIN(TestShareSubmission)
#include "tst_sharesubmission.moc"
