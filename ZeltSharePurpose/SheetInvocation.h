#pragma once

#include "PurposeRequest.h"
#include "host/DataURI.h"

#include <QByteArray>
#include <QStringList>

// The command line and standard input of zelt-share for a request of the Share menu.
//
// Files and links are operands after "--". Data an application hands over inline (a screenshot
// as a data: URI, megabytes of it) cannot go into arguments, so a request with data: URIs goes
// whole as a text/uri-list on standard input, which keeps the items in their order. A page
// (ShareUrl: one web link and its title) goes as a page record on standard input, so the sheet
// shows the title above its link as it does for a page shared from a browser.
struct SheetInvocation
{
    QStringList arguments;
    QByteArray standardInput;

    // What zelt-share reads from standard input at most: a list of links as long as one data:
    // URI of the largest data, percent-encoded, and a little more; a page record of 16 MiB.
    static constexpr qsizetype maximumURIListSize = 3 * DataURI::maximumBytes + 1024 * 1024;
    static constexpr qsizetype maximumPageRecordSize = 16 * 1024 * 1024;

    // Throws PurposeError when there is nothing to share, or for an item zelt-share would not
    // take as the user meant it: a file of another computer (sftp:, smb:, a file: URL of another
    // host), a URL of an application's own scheme (trash:, desktop:), a data: URI that cannot be
    // decoded or is too large. Those are answered to the Share menu rather than sent on, since
    // the sheet, started detached, could only give up without a word or send a dead link.
    static SheetInvocation forRequest(const PurposeRequest &request);
};
