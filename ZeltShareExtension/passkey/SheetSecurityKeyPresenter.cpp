#include "SheetSecurityKeyPresenter.h"

#include <QCoroSignal>

using namespace Qt::StringLiterals;

QString SheetSecurityKeyPresenter::step() const
{
    return m_step == Step::TouchKey ? u"touchKey"_s : u"insertKey"_s;
}

void SheetSecurityKeyPresenter::show(Step step)
{
    m_active = true;
    m_step = step;
    Q_EMIT changed();
}

QCoro::Task<std::optional<QString>> SheetSecurityKeyPresenter::requestPin(int retriesLeft,
                                                                          bool wrongPin)
{
    // A request that is still open is answered as canceled first.
    answerPin(false, QString());
    m_active = true;
    m_pinRequested = true;
    m_retriesLeft = retriesLeft;
    m_wrongPin = wrongPin;
    Q_EMIT changed();
    auto answered = qCoro(this, &SheetSecurityKeyPresenter::pinAnswered);
    const auto [given, pin] = co_await answered;
    co_return given ? std::optional(pin) : std::nullopt;
}

void SheetSecurityKeyPresenter::answerPin(bool given, const QString &pin)
{
    if (!m_pinRequested)
        return;
    m_pinRequested = false;
    Q_EMIT changed();
    Q_EMIT pinAnswered(given, pin);
}

void SheetSecurityKeyPresenter::submitPin(const QString &pin)
{
    answerPin(true, pin);
}

void SheetSecurityKeyPresenter::cancel()
{
    answerPin(false, QString());
    Q_EMIT cancelRequested();
}

void SheetSecurityKeyPresenter::openZeltInstead()
{
    answerPin(false, QString());
    Q_EMIT handOffRequested();
}

void SheetSecurityKeyPresenter::close()
{
    answerPin(false, QString());
    if (!m_active)
        return;
    m_active = false;
    m_wrongPin = false;
    m_retriesLeft = -1;
    Q_EMIT changed();
}
