#pragma once

#include "ShareTemporaryDirectory.h"
#include "SharedFile.h"
#include "SharedItemIntake.h"
#include "passkey/PasskeyStepUp.h"
#include "service/HttpTransfer.h"
#include "service/SessionHolder.h"
#include "service/ShareDestinations.h"
#include "service/ShareSubmission.h"

#include <QCoroTask>
#include <QHash>
#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QUuid>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

// The one observable state of a share sheet: what is shared, where it goes, and how sending
// goes. Lives on the main thread; every published value is a property whose change signal
// fires only on a real change. It is also the session holder of every service call it makes.
class ShareComposeModel : public SessionHolder, public SharedItemIntake::Sink
{
    Q_OBJECT
    Q_PROPERTY(QString message READ message WRITE setMessage NOTIFY messageChanged)
    Q_PROPERTY(QString errorMessage READ errorMessageText NOTIFY errorMessageChanged)
    Q_PROPERTY(int fileCount READ fileCount NOTIFY filesChanged)
    Q_PROPERTY(bool hasSharedItems READ hasSharedItems NOTIFY hasSharedItemsChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(bool isSending READ isSending NOTIFY isSendingChanged)
    Q_PROPERTY(QVariant uploadProgress READ uploadProgressValue NOTIFY uploadProgressChanged)
    Q_PROPERTY(bool sent READ sent NOTIFY sentChanged)
    Q_PROPERTY(bool destinationsLoaded READ destinationsLoaded NOTIFY destinationsLoadedChanged)
    Q_PROPERTY(bool toviAvailable READ toviAvailable NOTIFY toviAvailableChanged)
    Q_PROPERTY(QString destinationsError READ destinationsErrorText NOTIFY destinationsErrorChanged)
    Q_PROPERTY(bool passkeyRequired READ passkeyRequired NOTIFY passkeyRequiredChanged)
    Q_PROPERTY(QString searchQuery READ searchQuery WRITE setSearchQuery NOTIFY searchQueryChanged)
    Q_PROPERTY(bool isSearching READ isSearching NOTIFY isSearchingChanged)
    Q_PROPERTY(bool signedIn READ signedIn NOTIFY sharedSessionChanged)
    Q_PROPERTY(bool canSend READ canSend NOTIFY canSendChanged)
    Q_PROPERTY(bool canAddItems READ canAddItems NOTIFY canAddItemsChanged)
    // The same values as plain rows for the sheet's views.
    Q_PROPERTY(QVariantList fileRows READ fileRows NOTIFY fileRowsChanged)
    Q_PROPERTY(QVariantMap destinationRow READ destinationRow NOTIFY destinationChanged)
    Q_PROPERTY(QVariantList recentThreadRows READ recentThreadRows NOTIFY recentThreadsChanged)
    Q_PROPERTY(QVariant searchResultRows READ searchResultRows NOTIFY searchResultsChanged)

public:
    // Where the shared items come from: called once, soon after creation, with the model and
    // its temporary directory. It fills the model through the intake methods below and ends
    // with finishLoading().
    using ItemLoader = std::function<QCoro::Task<>(QPointer<ShareComposeModel>, QString)>;
    // The video size and duration of a file about to be submitted, when it is a video.
    using VideoProbe =
        std::function<QCoro::Task<std::optional<FilesShareRequest::Video>>(SharedFile)>;

    // The intake of the share request's items (context may be null: nothing was shared).
    static ItemLoader intakeLoader(const ExtensionContext *context);
    // Video size and duration from the file itself.
    static VideoProbe fileVideoProbe();

    static constexpr auto lastDestinationKey = "ZeltShareLastDestination";
    static constexpr std::chrono::milliseconds searchDebounce{250};
    static constexpr std::chrono::milliseconds sentConfirmation{1500};

    ShareComposeModel(std::shared_ptr<ServiceEnvironment> environment, ItemLoader itemLoader,
                      QObject *parent = nullptr);
    ~ShareComposeModel() override;

    // Published state.
    QString message() const override { return m_message; }
    void setMessage(const QString &message) override;
    const std::optional<QString> &errorMessage() const { return m_errorMessage; }
    QString errorMessageText() const { return m_errorMessage.value_or(QString()); }
    const QList<SharedFile> &files() const { return m_files; }
    int fileCount() const { return int(m_files.size()); }
    const QHash<QUuid, QImage> &previews() const { return m_previews; }
    // The preview of the only file, when that file is a prepared image.
    QImage singleImagePreview() const;
    bool hasSharedItems() const { return m_hasSharedItems; }
    bool isLoading() const { return m_isLoading; }
    bool isSending() const { return m_isSending; }
    const std::optional<double> &uploadProgress() const { return m_uploadProgress; }
    QVariant uploadProgressValue() const;
    bool sent() const { return m_sent; }
    const ShareDestination &destination() const { return m_destination; }
    void setDestination(const ShareDestination &destination);
    bool destinationsLoaded() const { return m_destinationsLoaded; }
    bool toviAvailable() const { return m_toviAvailable; }
    const QList<ShareDestinationThread> &recentThreads() const { return m_recentThreads; }
    const std::optional<QString> &destinationsError() const { return m_destinationsError; }
    QString destinationsErrorText() const { return m_destinationsError.value_or(QString()); }
    bool passkeyRequired() const { return m_passkeyRequired; }
    const QString &searchQuery() const { return m_searchQuery; }
    void setSearchQuery(const QString &query);
    const std::optional<QList<ShareDestinationThread>> &searchResults() const
    {
        return m_searchResults;
    }
    bool isSearching() const { return m_isSearching; }
    bool signedIn() const { return sharedSession().has_value(); }
    // Signed out because the keyring is locked or unreachable, not because nobody signed in.
    bool keyringUnavailable() const { return m_keyringUnavailable; }
    bool canSend() const;
    // Whether pasted and dropped items are taken now: not while loading (or taking others),
    // sending or sent.
    bool canAddItems() const;

    // For the views. A file row: id, filename, detail, symbol, hasPreview, isPreparedImage. A
    // destination row: tovi, id, title, color, name, and for threads updated ("Updated …").
    QVariantList fileRows() const;
    QVariantMap destinationRow() const;
    QVariantList recentThreadRows() const;
    // Null while no search is active.
    QVariant searchResultRows() const;
    // The preview of a file row's id; null when there is none.
    Q_INVOKABLE QImage preview(const QString &fileID) const;

    const QString &temporaryDirectory() const { return m_temporaryDirectory.path(); }
    // The prompt over the sheet's window, or none (then a step-up is handed off).
    void setPromptProvider(PasskeyStepUp::PromptProvider provider)
    {
        m_promptProvider = std::move(provider);
    }
    const PasskeyStepUp::PromptProvider &promptProvider() const { return m_promptProvider; }
    void setVideoProbe(VideoProbe probe) { m_videoProbe = std::move(probe); }
    // What transparent parts of shared images are flattened onto: the window colour of the
    // sheet that shows them (a dark sheet sets its own). Unless set, the application palette's.
    void setWindowBackground(const QColor &color) { m_windowBackground = color; }
    QColor windowBackground() const;

    // Intake: what the item loader reports.
    void setFiles(const QList<SharedFile> &files) override;
    void insertPreview(const QUuid &fileID, const QImage &preview) override;
    void setHasSharedItems(bool hasSharedItems) override;
    void setErrorMessage(const QString &message) override;
    void setLoading(bool loading) override;
    // Shared text becomes the message only while the user has typed nothing.
    void adoptSharedText(const QString &text);
    void finishLoading(bool hasSharedItems, const std::optional<QString> &errorMessage);

    // Items pasted or dropped into the sheet, through the same intake as the shared ones, after
    // them: the same limit of files in all, previews, text into the message while it is empty.
    // False when none is taken (the sheet cannot add items now, or the item holds nothing).
    bool addItems(const ExtensionItem &item);
    // What the clipboard holds, as addItems takes it: files, an image, links; plain text only
    // when withText (a text field pastes text itself).
    Q_INVOKABLE bool pasteFromClipboard(bool withText);

    // Actions.
    Q_INVOKABLE void send();
    Q_INVOKABLE void cancel();
    // The picker's choice, a destination row: becomes the destination and ends the search.
    Q_INVOKABLE void chooseDestination(const QVariantMap &row);

    // The last destination sent to, from the extension's own defaults.
    static std::optional<ShareDestination> loadLastDestination();
    static void saveLastDestination(const ShareDestination &destination);

    // The delivery itself, and the passkey step-up around it; public for the send action's
    // retry and for tests.
    QCoro::Task<> deliverShare();
    QCoro::Task<> authenticateWithPasskey();

Q_SIGNALS:
    void messageChanged();
    void errorMessageChanged();
    void filesChanged();
    void previewsChanged();
    void hasSharedItemsChanged();
    void isLoadingChanged();
    void isSendingChanged();
    void uploadProgressChanged();
    void sentChanged();
    void destinationChanged();
    void destinationsLoadedChanged();
    void toviAvailableChanged();
    void recentThreadsChanged();
    void destinationsErrorChanged();
    void passkeyRequiredChanged();
    void searchQueryChanged();
    void searchResultsChanged();
    void isSearchingChanged();
    void canSendChanged();
    void canAddItemsChanged();
    void fileRowsChanged();
    // The share request is over (delivered, or canceled): the sheet closes.
    void requestCompleted();

private:
    QCoro::Task<> loadItems();
    QCoro::Task<> runAddedIntake(QList<ExtensionItem> items);
    class AddedItems;
    void setAddingItems(bool adding);
    static QCoro::Task<> runIntake(QPointer<ShareComposeModel> model,
                                   const ExtensionContext *context, QString directory);
    QCoro::Task<> loadDestinations();
    void startSearch();
    QCoro::Task<> search(QString query, quint64 generation);
    QCoro::Task<> runSendAction();
    void finishSent();
    void failSend(std::exception_ptr error);
    void completeRequest();
    QPointer<SessionHolder> asHolder() { return QPointer<SessionHolder>(this); }

protected:
    // The delivery's state; tests of the views set it directly.
    void setErrorMessage(const std::optional<QString> &message);
    void setIsSending(bool sending);
    void setUploadProgress(const std::optional<double> &progress);
    void setSent(bool sent);

private:
    void setPasskeyRequired(bool required);
    void setIsSearching(bool searching);
    void setSearchResults(const std::optional<QList<ShareDestinationThread>> &results);
    void updateCanSend();

    ItemLoader m_itemLoader;
    VideoProbe m_videoProbe;
    PasskeyStepUp::PromptProvider m_promptProvider;
    ShareTemporaryDirectory m_temporaryDirectory;
    QColor m_windowBackground;

    QString m_message;
    std::optional<QString> m_errorMessage;
    QList<SharedFile> m_files;
    QHash<QUuid, QImage> m_previews;
    bool m_hasSharedItems = false;
    bool m_isLoading = true;
    bool m_isSending = false;
    std::optional<double> m_uploadProgress;
    bool m_sent = false;
    ShareDestination m_destination;
    bool m_destinationsLoaded = false;
    bool m_toviAvailable = true;
    QList<ShareDestinationThread> m_recentThreads;
    std::optional<QString> m_destinationsError;
    bool m_passkeyRequired = false;
    QString m_searchQuery;
    std::optional<QList<ShareDestinationThread>> m_searchResults;
    bool m_isSearching = false;
    bool m_canSend = false;
    bool m_canAddItems = false;
    bool m_isAddingItems = false;
    // The error line of the intake, which items added later take away again once they succeed.
    std::optional<QString> m_intakeError;
    bool m_completed = false;
    bool m_keyringUnavailable = false;

    // The newest search; an older one that wakes up or answers finds a newer number and stops.
    quint64 m_searchGeneration = 0;
    QPointer<RequestAbort> m_searchAbort;
    QTimer m_searchDebounce;
};
