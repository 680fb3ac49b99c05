#pragma once

#include "ShareComposeModel.h"

#include <QObject>
#include <QPointer>
#include <QTextStream>

#include <optional>

// `zelt-share --headless`: drives the sheet's model without a window. Once the items and the
// destinations are loaded it picks the destination, sends, reports progress as lines on
// stderr, and finishes with the exit status: 0 delivered, 1 the share failed (the sheet's one
// error line is printed).
class HeadlessShare : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        std::optional<QString> message;
        // A recent thread's ID; none: Tovi when asked for, else the last destination.
        std::optional<QString> threadID;
        bool tovi = false;
    };

    HeadlessShare(ShareComposeModel &model, Options options, QTextStream &errors,
                  QObject *parent = nullptr);

Q_SIGNALS:
    void finished(int exitCode);

private:
    void evaluate();
    void fail(const QString &message);

    QPointer<ShareComposeModel> m_model;
    Options m_options;
    QTextStream &m_errors;
    bool m_sendStarted = false;
    bool m_done = false;
    bool m_reportedSent = false;
    int m_lastPercent = -1;
};
