#pragma once

#include "ShareComposeModel.h"

#include <QObject>
#include <QPointer>
#include <QTextStream>

#include <optional>

// `zelt-share --headless`: drives the sheet's model without a window. Once the items and the
// destinations are loaded it picks the destination, sends, reports progress on stderr (a bar on
// a terminal, lines otherwise), and finishes with the exit status: 0 delivered, 1 the share
// failed (the sheet's one error line is printed). Listing the destinations prints Tovi and the
// recent threads with their IDs instead.
class HeadlessShare : public QObject
{
    Q_OBJECT

public:
    struct Destination
    {
        // Thread: a recent thread's ID; Search: the first thread a search for the text finds.
        enum class Kind { Tovi, Thread, Search };
        Kind kind;
        QString value;
    };

    struct Options
    {
        std::optional<QString> message;
        // None: the last destination.
        std::optional<Destination> destination;
        bool listDestinations = false;
    };

    // The listing goes to output; progress and errors to errors. A progress bar is drawn when
    // errors is a terminal.
    HeadlessShare(ShareComposeModel &model, Options options, QTextStream &errors,
                  QTextStream *output = nullptr, bool progressBar = false,
                  QObject *parent = nullptr);

    // text as it may reach a terminal: every control character (C0, DEL, C1), the line and
    // paragraph separators and the bidirectional controls written as \xNN or \u{NNNN}, so
    // that a service's message, a thread's title or a file's name can neither move the cursor,
    // recolour or retitle the terminal, nor start a line of its own.
    static QString terminalText(const QString &text);

Q_SIGNALS:
    void finished(int exitCode);

private:
    void evaluate();
    bool chooseDestination();
    void listDestinations();
    void reportProgress();
    void fail(const QString &message);

    QPointer<ShareComposeModel> m_model;
    Options m_options;
    QTextStream &m_errors;
    QTextStream *m_output;
    bool m_progressBar;
    bool m_searchStarted = false;
    bool m_sendStarted = false;
    bool m_done = false;
    bool m_reportedSent = false;
    int m_lastPercent = -1;
};
