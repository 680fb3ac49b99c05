#include "HeadlessShare.h"

#include "service/ServiceError.h"

#include <QCoreApplication>

HeadlessShare::HeadlessShare(ShareComposeModel &model, Options options, QTextStream &errors,
                             QObject *parent)
    : QObject(parent)
    , m_model(&model)
    , m_options(std::move(options))
    , m_errors(errors)
{
    if (m_options.message)
        model.setMessage(*m_options.message);
    for (auto signal :
         {&ShareComposeModel::isLoadingChanged, &ShareComposeModel::destinationsLoadedChanged,
          &ShareComposeModel::isSendingChanged, &ShareComposeModel::sentChanged})
        connect(&model, signal, this, &HeadlessShare::evaluate, Qt::QueuedConnection);
    connect(&model, &ShareComposeModel::uploadProgressChanged, this, [this] {
        if (!m_model || !m_model->uploadProgress())
            return;
        const int percent = int(*m_model->uploadProgress() * 100);
        if (percent != m_lastPercent) {
            m_lastPercent = percent;
            m_errors << QCoreApplication::translate("HeadlessShare", "Uploading… %1%").arg(percent)
                     << Qt::endl;
        }
    });
    connect(&model, &ShareComposeModel::requestCompleted, this, [this] {
        if (!m_done && m_model && m_model->sent()) {
            m_done = true;
            Q_EMIT finished(0);
        }
    });
    QMetaObject::invokeMethod(this, &HeadlessShare::evaluate, Qt::QueuedConnection);
}

void HeadlessShare::fail(const QString &message)
{
    if (m_done)
        return;
    m_done = true;
    m_errors << message << Qt::endl;
    Q_EMIT finished(1);
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
    if (!model.hasSharedItems())
        return fail(model.errorMessageText());
    if (!model.signedIn())
        return fail(ServiceText::signInFirst());
    if (!model.destinationsLoaded())
        return;

    if (m_options.threadID) {
        const auto &threads = model.recentThreads();
        const auto found = std::find_if(threads.cbegin(), threads.cend(), [this](const auto &t) {
            return t.id == *m_options.threadID;
        });
        if (found == threads.cend())
            return fail(
                QCoreApplication::translate("HeadlessShare", "No recent thread has the ID “%1”.")
                    .arg(*m_options.threadID));
        model.setDestination(*found);
    } else if (m_options.tovi) {
        model.setDestination(ShareDestination::tovi());
    }
    if (!model.canSend()) {
        if (model.destination().isTovi() && !model.toviAvailable())
            return fail(QCoreApplication::translate("HeadlessShare",
                                                    "Tovi cannot receive shares right now."));
        return fail(QCoreApplication::translate("HeadlessShare", "There is nothing to send."));
    }
    m_sendStarted = true;
    model.send();
}
