#include "HeadlessShare.h"

#include "service/ServiceError.h"

#include <QCoreApplication>

using namespace Qt::StringLiterals;

HeadlessShare::HeadlessShare(ShareComposeModel &model, Options options, QTextStream &errors,
                             QTextStream *output, bool progressBar, QObject *parent)
    : QObject(parent)
    , m_model(&model)
    , m_options(std::move(options))
    , m_errors(errors)
    , m_output(output)
    , m_progressBar(progressBar)
{
    if (m_options.message)
        model.setMessage(*m_options.message);
    for (auto signal :
         {&ShareComposeModel::isLoadingChanged, &ShareComposeModel::destinationsLoadedChanged,
          &ShareComposeModel::isSendingChanged, &ShareComposeModel::sentChanged,
          &ShareComposeModel::isSearchingChanged})
        connect(&model, signal, this, &HeadlessShare::evaluate, Qt::QueuedConnection);
    connect(&model, &ShareComposeModel::uploadProgressChanged, this,
            &HeadlessShare::reportProgress);
    connect(&model, &ShareComposeModel::requestCompleted, this, [this] {
        const auto *current = m_model.data();
        if (!m_done && current && current->sent()) {
            m_done = true;
            Q_EMIT finished(0);
        }
    });
    QMetaObject::invokeMethod(this, &HeadlessShare::evaluate, Qt::QueuedConnection);
}

void HeadlessShare::reportProgress()
{
    const auto *model = m_model.data();
    const auto progress = model ? model->uploadProgress() : std::nullopt;
    if (!progress)
        return;
    // floor, as the sheet shows it
    const int percent = int(*progress * 100);
    if (percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    const QString label =
        QCoreApplication::translate("HeadlessShare", "Uploading %1%").arg(percent);
    if (!m_progressBar) {
        m_errors << label << Qt::endl;
        return;
    }
    constexpr int width = 30;
    const int filled = percent * width / 100;
    m_errors << '\r' << '[' << QString(filled, u'#') << QString(width - filled, u'-') << "] "
             << label << (percent >= 100 ? "\n" : "") << Qt::flush;
}

QString HeadlessShare::terminalText(const QString &text)
{
    QString safe;
    safe.reserve(text.size());
    for (const QChar character : text) {
        const char16_t unit = character.unicode();
        const bool control = unit < 0x20 || (unit >= 0x7f && unit <= 0x9f);
        const bool separator = unit == 0x2028 || unit == 0x2029;
        const bool bidirectional = (unit >= 0x202a && unit <= 0x202e) ||
                                   (unit >= 0x2066 && unit <= 0x2069) || unit == 0x200e ||
                                   unit == 0x200f || unit == 0x061c;
        if (control)
            safe += u"\\x"_s + QString::number(unit, 16).toUpper().rightJustified(2, u'0');
        else if (separator || bidirectional)
            safe += u"\\u{"_s + QString::number(unit, 16).toUpper().rightJustified(4, u'0') + u'}';
        else
            safe += character;
    }
    return safe;
}

void HeadlessShare::fail(const QString &message)
{
    if (m_done)
        return;
    m_done = true;
    if (m_progressBar && m_lastPercent >= 0 && m_lastPercent < 100)
        m_errors << '\n';
    m_errors << terminalText(message) << Qt::endl;
    Q_EMIT finished(1);
}

void HeadlessShare::listDestinations()
{
    auto &model = *m_model;
    // Without an answer the list would only guess.
    if (const auto &error = model.destinationsError())
        return fail(*error);
    QTextStream &out = m_output ? *m_output : m_errors;
    // One line per destination, whatever the titles hold.
    if (model.toviAvailable())
        out << "tovi\t" << tr("Tovi") << '\n';
    for (const auto &thread : model.recentThreads())
        out << "thread:" << terminalText(thread.id) << '\t' << terminalText(thread.title) << '\n';
    out.flush();
    // A list that did not reach its reader (a full disk, a closed pipe) is no success.
    if (out.status() != QTextStream::Ok)
        return fail(tr("The list of destinations could not be written."));
    m_done = true;
    Q_EMIT finished(0);
}

// Sets the destination the options ask for; false while a search still runs or after a
// failure.
bool HeadlessShare::chooseDestination()
{
    auto &model = *m_model;
    if (!m_options.destination)
        return true;
    // Named, not a structured binding: a lambda below captures the value.
    const Destination::Kind kind = m_options.destination->kind;
    const QString &value = m_options.destination->value;
    switch (kind) {
    case Destination::Kind::Tovi:
        model.setDestination(ShareDestination::tovi());
        return true;
    case Destination::Kind::Thread: {
        const auto &threads = model.recentThreads();
        const auto found = std::find_if(threads.cbegin(), threads.cend(),
                                        [&value](const auto &t) { return t.id == value; });
        if (found == threads.cend()) {
            fail(tr("No recent thread has the ID “%1”.").arg(value));
            return false;
        }
        model.setDestination(*found);
        return true;
    }
    case Destination::Kind::Search:
        if (!m_searchStarted) {
            m_searchStarted = true;
            model.setSearchQuery(value);
            if (model.isSearching())
                return false;
        }
        if (model.isSearching())
            return false;
        if (!model.searchResults() || model.searchResults()->isEmpty()) {
            fail(tr("No threads match “%1”").arg(value.trimmed()));
            return false;
        }
        model.setDestination(model.searchResults()->first());
        return true;
    }
    return true;
}

void HeadlessShare::evaluate()
{
    if (m_done || !m_model)
        return;
    auto &model = *m_model;
    if (m_sendStarted) {
        if (model.sent()) {
            if (!m_reportedSent)
                m_errors << QCoreApplication::translate("HeadlessShare", "Sent") << Qt::endl;
            m_reportedSent = true;
        } else if (!model.isSending()) {
            fail(model.errorMessageText());
        }
        return;
    }
    if (model.isLoading())
        return;
    if (!m_options.listDestinations && !model.hasSharedItems())
        return fail(model.errorMessageText());
    if (!model.signedIn())
        return fail(model.keyringUnavailable() ? ServiceText::keyringUnavailable()
                                               : ServiceText::signInFirst());
    if (!model.destinationsLoaded())
        return;
    if (m_options.listDestinations)
        return listDestinations();
    if (!chooseDestination())
        return;
    if (!model.canSend()) {
        if (model.destination().isTovi() && !model.toviAvailable())
            return fail(tr("Tovi cannot receive shares right now."));
        return fail(tr("There is nothing to send."));
    }
    m_sendStarted = true;
    model.send();
}
