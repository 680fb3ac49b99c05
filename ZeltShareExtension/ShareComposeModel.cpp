#include "ShareComposeModel.h"

#include "Logging.h"
#include "ShareSheetText.h"
#include "VideoMetadata.h"
#include "avatar/ToviAvatarStore.h"
#include "host/ExtensionContext.h"
#include "service/FileUploadPipeline.h"
#include "service/ServiceError.h"
#include "service/UserDefaults.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// Assigns and reports whether the value changed.
template <typename T>
bool assign(T &member, const T &value)
{
    if (member == value)
        return false;
    member = value;
    return true;
}

} // namespace

ShareComposeModel::ShareComposeModel(std::shared_ptr<ServiceEnvironment> environment,
                                     ItemLoader itemLoader, QObject *parent)
    : SessionHolder(environment, std::nullopt, parent)
    , m_itemLoader(std::move(itemLoader))
    , m_destination(loadLastDestination().value_or(ShareDestination::tovi()))
{
    // Signed out either way, but a keyring that could not be read is named in the error line.
    const auto loaded = environment->sessionStore().loadSessionWithState(environment->baseOrigin());
    setSharedSession(loaded.session);
    m_keyringUnavailable = loaded.keyringUnavailable;
    if (m_keyringUnavailable)
        m_errorMessage = ServiceText::keyringUnavailable();
    connect(this, &SessionHolder::sharedSessionChanged, this, &ShareComposeModel::updateCanSend);
    // Only the last query typed within the debounce interval reaches the service.
    m_searchDebounce.setSingleShot(true);
    m_searchDebounce.setTimerType(Qt::PreciseTimer);
    m_searchDebounce.setInterval(searchDebounce);
    connect(&m_searchDebounce, &QTimer::timeout, this, &ShareComposeModel::startSearch);
    updateCanSend();
    // Started once the creator has connected to the model, as two independent tasks.
    QTimer::singleShot(0, this, [this] {
        loadItems();
        loadDestinations();
    });
}

ShareComposeModel::~ShareComposeModel() = default;

// ---- published state -------------------------------------------------------------------

void ShareComposeModel::setMessage(const QString &message)
{
    if (assign(m_message, message)) {
        Q_EMIT messageChanged();
        updateCanSend();
    }
}

void ShareComposeModel::setErrorMessage(const std::optional<QString> &message)
{
    if (assign(m_errorMessage, message))
        Q_EMIT errorMessageChanged();
}

QImage ShareComposeModel::singleImagePreview() const
{
    if (m_files.size() != 1 || !m_files.first().isPreparedImage)
        return {};
    return m_previews.value(m_files.first().id);
}

QVariant ShareComposeModel::uploadProgressValue() const
{
    return m_uploadProgress ? QVariant(*m_uploadProgress) : QVariant();
}

void ShareComposeModel::setIsSending(bool sending)
{
    if (assign(m_isSending, sending)) {
        Q_EMIT isSendingChanged();
        updateCanSend();
    }
}

void ShareComposeModel::setUploadProgress(const std::optional<double> &progress)
{
    if (assign(m_uploadProgress, progress))
        Q_EMIT uploadProgressChanged();
}

void ShareComposeModel::setSent(bool sent)
{
    if (assign(m_sent, sent)) {
        Q_EMIT sentChanged();
        updateCanSend();
    }
}

void ShareComposeModel::setDestination(const ShareDestination &destination)
{
    if (assign(m_destination, destination)) {
        Q_EMIT destinationChanged();
        updateCanSend();
    }
}

void ShareComposeModel::setPasskeyRequired(bool required)
{
    if (assign(m_passkeyRequired, required))
        Q_EMIT passkeyRequiredChanged();
}

void ShareComposeModel::setIsSearching(bool searching)
{
    if (assign(m_isSearching, searching))
        Q_EMIT isSearchingChanged();
}

void ShareComposeModel::setSearchResults(
    const std::optional<QList<ShareDestinationThread>> &results)
{
    if (assign(m_searchResults, results))
        Q_EMIT searchResultsChanged();
}

bool ShareComposeModel::canSend() const
{
    return m_hasSharedItems && !m_isAddingItems && sharedSession().has_value() && !m_isSending &&
           !m_sent && m_destinationsLoaded &&
           (!m_files.isEmpty() || !m_message.trimmed().isEmpty()) &&
           (!m_destination.isTovi() || m_toviAvailable);
}

bool ShareComposeModel::canAddItems() const
{
    return !m_isLoading && !m_isAddingItems && !m_isSending && !m_sent && !m_completed;
}

void ShareComposeModel::updateCanSend()
{
    if (assign(m_canSend, canSend()))
        Q_EMIT canSendChanged();
    if (assign(m_canAddItems, canAddItems()))
        Q_EMIT canAddItemsChanged();
}

// ---- intake ----------------------------------------------------------------------------

void ShareComposeModel::setFiles(const QList<SharedFile> &files)
{
    if (assign(m_files, files)) {
        Q_EMIT filesChanged();
        Q_EMIT fileRowsChanged();
        updateCanSend();
    }
}

void ShareComposeModel::insertPreview(const QUuid &fileID, const QImage &preview)
{
    m_previews.insert(fileID, preview);
    Q_EMIT previewsChanged();
    Q_EMIT fileRowsChanged();
}

namespace {

QVariantMap threadRow(const ShareDestinationThread &thread, const QDateTime &now)
{
    return {
        {u"tovi"_s, false},         {u"id"_s, thread.id},
        {u"title"_s, thread.title}, {u"color"_s, thread.color},
        {u"name"_s, thread.title},  {u"updated"_s, ShareSheetText::updated(thread.updatedAt, now)}};
}

QVariantList threadRows(const QList<ShareDestinationThread> &threads)
{
    const auto now = QDateTime::currentDateTimeUtc();
    QVariantList rows;
    for (const auto &thread : threads)
        rows.append(threadRow(thread, now));
    return rows;
}

} // namespace

QVariantList ShareComposeModel::fileRows() const
{
    QVariantList rows;
    for (const auto &file : m_files) {
        rows.append(QVariantMap{{u"id"_s, file.id.toString(QUuid::WithoutBraces)},
                                {u"filename"_s, file.filename},
                                {u"detail"_s, ShareSheetText::fileDetail(file)},
                                {u"symbol"_s, ShareSheetText::fileSymbol(file.contentType)},
                                {u"hasPreview"_s, m_previews.contains(file.id)},
                                {u"isPreparedImage"_s, file.isPreparedImage}});
    }
    return rows;
}

QImage ShareComposeModel::preview(const QString &fileID) const
{
    return m_previews.value(QUuid::fromString(fileID));
}

QVariantMap ShareComposeModel::destinationRow() const
{
    if (const auto *thread = m_destination.thread())
        return threadRow(*thread, QDateTime::currentDateTimeUtc());
    return {{u"tovi"_s, true}, {u"name"_s, tr("Tovi")}};
}

QVariantList ShareComposeModel::recentThreadRows() const
{
    return threadRows(m_recentThreads);
}

QVariant ShareComposeModel::searchResultRows() const
{
    return m_searchResults ? QVariant(threadRows(*m_searchResults)) : QVariant();
}

void ShareComposeModel::chooseDestination(const QVariantMap &row)
{
    if (row.value(u"tovi"_s).toBool()) {
        setDestination(ShareDestination::tovi());
    } else {
        // The thread as the service described it, from the list the row was made from.
        const QString id = row.value(u"id"_s).toString();
        const auto lists = {m_searchResults.value_or(QList<ShareDestinationThread>()),
                            m_recentThreads};
        for (const auto &threads : lists) {
            const auto found = std::find_if(threads.cbegin(), threads.cend(),
                                            [&id](const auto &thread) { return thread.id == id; });
            if (found != threads.cend()) {
                setDestination(*found);
                break;
            }
        }
    }
    setSearchQuery(QString());
}

void ShareComposeModel::setHasSharedItems(bool hasSharedItems)
{
    if (assign(m_hasSharedItems, hasSharedItems)) {
        Q_EMIT hasSharedItemsChanged();
        updateCanSend();
    }
}

void ShareComposeModel::setErrorMessage(const QString &message)
{
    m_intakeError = message;
    setErrorMessage(std::optional(message));
}

// The intake of added items reports into the model, but its files come after those already
// there, and a failure leaves what was there as it was.
class ShareComposeModel::AddedItems : public SharedItemIntake::Sink
{
public:
    explicit AddedItems(ShareComposeModel &model)
        : m_model(model)
    {}
    QString message() const override { return m_model.message(); }
    void setMessage(const QString &message) override { m_model.setMessage(message); }
    void setFiles(const QList<SharedFile> &files) override
    {
        m_model.setFiles(m_model.files() + files);
    }
    void insertPreview(const QUuid &fileID, const QImage &preview) override
    {
        m_model.insertPreview(fileID, preview);
    }
    void setHasSharedItems(bool hasSharedItems) override
    {
        if (!hasSharedItems)
            return;
        // What the sheet shares now is what it shows: an earlier intake's line no longer holds.
        if (m_model.m_intakeError && m_model.m_errorMessage == m_model.m_intakeError)
            m_model.setErrorMessage(std::optional<QString>());
        m_model.m_intakeError.reset();
        m_model.setHasSharedItems(true);
    }
    void setErrorMessage(const QString &message) override { m_model.setErrorMessage(message); }
    // The sheet stays as it is while they are taken in; only sending waits.
    void setLoading(bool loading) override { m_model.setAddingItems(loading); }

private:
    ShareComposeModel &m_model;
};

QColor ShareComposeModel::windowBackground() const
{
    return m_windowBackground.isValid() ? m_windowBackground
                                        : SharedItemIntake::windowBackgroundColor();
}

bool ShareComposeModel::addItems(const ExtensionItem &item)
{
    if (!canAddItems() || (item.attachments.isEmpty() && item.contentText.trimmed().isEmpty()))
        return false;
    runAddedIntake({item});
    return true;
}

QCoro::Task<> ShareComposeModel::runAddedIntake(QList<ExtensionItem> items)
{
    const QPointer<ShareComposeModel> self(this);
    setAddingItems(true);
    AddedItems sink(*this);
    // A child of the model: it goes with the model, and stops quietly then.
    auto *intake = new SharedItemIntake(sink, std::move(items), int(m_files.size()),
                                        m_temporaryDirectory.path(), windowBackground(), this);
    co_await intake->loadSharedItems();
    if (!self)
        co_return;
    intake->deleteLater();
    setAddingItems(false);
}

void ShareComposeModel::setAddingItems(bool adding)
{
    if (assign(m_isAddingItems, adding))
        updateCanSend();
}

bool ShareComposeModel::pasteFromClipboard(bool withText)
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    if (!data || !canAddItems() || !ExtensionContext::mimeDataHoldsItems(*data, withText))
        return false;
    try {
        return addItems(ExtensionContext::itemFromMimeData(*data));
    } catch (const CommandLineError &error) {
        setErrorMessage(error.message());
        return true;
    }
}

void ShareComposeModel::setLoading(bool loading)
{
    if (assign(m_isLoading, loading)) {
        Q_EMIT isLoadingChanged();
        updateCanSend();
    }
}

ShareComposeModel::ItemLoader ShareComposeModel::intakeLoader(const ExtensionContext *context)
{
    return [context](QPointer<ShareComposeModel> model, QString directory) -> QCoro::Task<> {
        return runIntake(model, context, directory);
    };
}

QCoro::Task<> ShareComposeModel::runIntake(QPointer<ShareComposeModel> model,
                                           const ExtensionContext *context, QString directory)
{
    if (!model)
        co_return;
    // A child of the model: it goes with the model, and stops quietly then.
    auto *intake =
        new SharedItemIntake(*model, context, directory, model->windowBackground(), model);
    co_await intake->loadSharedItems();
    if (model)
        intake->deleteLater();
}

ShareComposeModel::VideoProbe ShareComposeModel::fileVideoProbe()
{
    return [](SharedFile file) {
        return VideoMetadata::videoMetadata(file.fileURL, file.contentType);
    };
}

void ShareComposeModel::adoptSharedText(const QString &text)
{
    if (m_message.isEmpty())
        setMessage(text);
}

void ShareComposeModel::finishLoading(bool hasSharedItems,
                                      const std::optional<QString> &errorMessage)
{
    if (errorMessage)
        setErrorMessage(errorMessage);
    setHasSharedItems(hasSharedItems);
    setLoading(false);
}

QCoro::Task<> ShareComposeModel::loadItems()
{
    QPointer<ShareComposeModel> self(this);
    if (!m_itemLoader) {
        finishLoading(false, std::nullopt);
        co_return;
    }
    // Copies never go through a link or into another user's directory.
    if (!m_temporaryDirectory.isUsable()) {
        finishLoading(false, ShareTemporaryDirectory::unsafeRootMessage(
                                 QFileInfo(m_temporaryDirectory.path()).path()));
        co_return;
    }
    try {
        co_await m_itemLoader(self, m_temporaryDirectory.path());
    } catch (...) {
        if (self)
            finishLoading(false, userFacingMessage(std::current_exception()));
        co_return;
    }
    if (self && m_isLoading)
        finishLoading(m_hasSharedItems, std::nullopt);
}

// ---- destinations and search -----------------------------------------------------------

std::optional<ShareDestination> ShareComposeModel::loadLastDestination()
{
    const auto data = UserDefaults::standard()->value(QLatin1StringView(lastDestinationKey));
    if (!data.isValid())
        return std::nullopt;
    try {
        return ShareDestination::fromJson(data.toByteArray());
    } catch (const DestinationDecodingError &) {
        return std::nullopt;
    }
}

void ShareComposeModel::saveLastDestination(const ShareDestination &destination)
{
    UserDefaults::standard()->setValue(QLatin1StringView(lastDestinationKey), destination.toJson());
}

QCoro::Task<> ShareComposeModel::loadDestinations()
{
    if (!sharedSession())
        co_return;
    QPointer<ShareComposeModel> self(this);
    std::optional<ShareDestinations> answer;
    std::exception_ptr failure;
    try {
        answer = co_await ShareDestinations::fetch(asHolder(), std::nullopt);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        if (assign(m_destinationsError, std::optional(userFacingMessage(failure))))
            Q_EMIT destinationsErrorChanged();
    } else {
        if (assign(m_toviAvailable, answer->toviAvailable))
            Q_EMIT toviAvailableChanged();
        setPasskeyRequired(answer->passkeyRequired.value_or(false));
        if (assign(m_recentThreads, answer->threads))
            Q_EMIT recentThreadsChanged();
        if (answer->toviAvatar)
            ToviAvatarStore::shared().update(*answer->toviAvatar, baseOrigin(),
                                             environment()->sslConfiguration());
        if (assign(m_destinationsError, std::optional<QString>()))
            Q_EMIT destinationsErrorChanged();
        if (const auto *current = m_destination.thread()) {
            ShareDestination reconciled = ShareDestination::tovi();
            for (const auto &thread : answer->threads) {
                if (thread.id == current->id) {
                    reconciled = thread;
                    break;
                }
            }
            setDestination(reconciled);
        }
        if (m_destination.isTovi() && !m_toviAvailable && !answer->threads.isEmpty())
            setDestination(answer->threads.first());
    }
    if (assign(m_destinationsLoaded, true))
        Q_EMIT destinationsLoadedChanged();
    updateCanSend();
}

void ShareComposeModel::setSearchQuery(const QString &query)
{
    if (!assign(m_searchQuery, query))
        return;
    Q_EMIT searchQueryChanged();

    // A new query abandons the old one, and its request with it.
    ++m_searchGeneration;
    m_searchDebounce.stop();
    if (m_searchAbort)
        m_searchAbort->abort();
    if (query.trimmed().isEmpty()) {
        setSearchResults(std::nullopt);
        setIsSearching(false);
        return;
    }
    setIsSearching(true);
    m_searchDebounce.start();
}

void ShareComposeModel::startSearch()
{
    const QString query = m_searchQuery.trimmed();
    if (query.isEmpty())
        return;
    search(query, m_searchGeneration);
}

QCoro::Task<> ShareComposeModel::search(QString query, quint64 generation)
{
    QPointer<ShareComposeModel> self(this);
    auto *abort = new RequestAbort(this);
    m_searchAbort = abort;
    std::optional<QList<ShareDestinationThread>> threads;
    try {
        threads = (co_await ShareDestinations::fetch(asHolder(), query, abort)).threads;
    } catch (...) {
        threads = QList<ShareDestinationThread>{};
    }
    if (!self)
        co_return;
    abort->deleteLater();
    if (m_searchGeneration != generation)
        co_return;
    setSearchResults(threads);
    setIsSearching(false);
}

// ---- sending ---------------------------------------------------------------------------

void ShareComposeModel::send()
{
    if (!canSend())
        return;
    setIsSending(true);
    setErrorMessage(std::nullopt);
    saveLastDestination(m_destination);
    runSendAction();
}

QCoro::Task<> ShareComposeModel::runSendAction()
{
    QPointer<ShareComposeModel> self(this);
    try {
        if (m_passkeyRequired)
            co_await authenticateWithPasskey();
        if (!self)
            co_return;
        try {
            co_await deliverShare();
            co_return;
        } catch (const PasskeyRequiredError &) {
            if (!self)
                co_return;
            setUploadProgress(std::nullopt);
        }
        // The service wants a sudo session: one step-up, then one more delivery.
        co_await authenticateWithPasskey();
        if (!self)
            co_return;
        co_await deliverShare();
    } catch (...) {
        if (self)
            failSend(std::current_exception());
    }
}

void ShareComposeModel::failSend(std::exception_ptr error)
{
    setIsSending(false);
    setUploadProgress(std::nullopt);
    setErrorMessage(userFacingMessage(error));
}

QCoro::Task<> ShareComposeModel::authenticateWithPasskey()
{
    QPointer<ShareComposeModel> self(this);
    co_await PasskeyStepUp::authenticateWithPasskey(asHolder(), m_promptProvider);
    if (self)
        setPasskeyRequired(false);
}

QCoro::Task<> ShareComposeModel::deliverShare()
{
    QPointer<ShareComposeModel> self(this);
    const QString message = m_message;
    const QList<SharedFile> files = m_files;
    const auto threadID = m_destination.threadID();
    const QString shareID = ShareSubmission::newShareID();

    qint64 inlineCharacters = 0;
    bool allPrepared = true;
    for (const auto &file : files) {
        allPrepared = allPrepared && file.isPreparedImage;
        inlineCharacters += ShareSubmission::base64Length(file.sizeBytes);
    }

    if (allPrepared && inlineCharacters <= ShareSubmission::maximumInlineBase64Characters) {
        auto body =
            co_await ShareSubmission::makeInlineShareBody(message, files, threadID, shareID);
        if (!self)
            co_return;
        co_await ShareSubmission::submitShare(asHolder(), std::move(body));
    } else {
        qint64 total = 0;
        for (const auto &file : files)
            total += file.sizeBytes;
        total = std::max<qint64>(total, 1);
        qint64 done = 0;
        setUploadProgress(0.0);

        QList<FilesShareRequest::File> uploaded;
        for (const auto &file : files) {
            const auto prepared =
                co_await FileUploadPipeline::prepareUpload(asHolder(), file, threadID);
            if (!self)
                co_return;
            // Reports only move the bar forward, and only while this send is running.
            auto onProgress = [self, done, total](qint64 sent) {
                if (!self || !self->m_isSending)
                    return;
                const double fraction = std::min(1.0, double(done + sent) / double(total));
                self->setUploadProgress(std::max(self->m_uploadProgress.value_or(0.0), fraction));
            };
            co_await FileUploadPipeline::uploadFile(asHolder(), file, prepared.uploadURL,
                                                    onProgress);
            if (!self)
                co_return;
            done += file.sizeBytes;
            setUploadProgress(double(done) / double(total));

            std::optional<FilesShareRequest::Video> video;
            if (m_videoProbe)
                video = co_await m_videoProbe(file);
            if (!self)
                co_return;
            uploaded.append(FilesShareRequest::File{prepared.uploadID, file.filename,
                                                    file.mediaType, file.sizeBytes, video});
        }
        setUploadProgress(std::nullopt);
        co_await ShareSubmission::submitShare(
            asHolder(), ShareSubmission::makeFilesShareBody(message, uploaded, threadID, shareID));
    }
    if (!self)
        co_return;

    setSent(true);
    setIsSending(false);
    setUploadProgress(std::nullopt);
    finishSent();
}

void ShareComposeModel::finishSent()
{
    // Bound to the model: a sheet that goes away meanwhile has nothing left to complete.
    QTimer::singleShot(sentConfirmation, this, [this] {
        m_temporaryDirectory.remove();
        completeRequest();
    });
}

void ShareComposeModel::cancel()
{
    m_temporaryDirectory.remove();
    completeRequest();
}

void ShareComposeModel::completeRequest()
{
    if (m_completed)
        return;
    m_completed = true;
    Q_EMIT requestCompleted();
}
