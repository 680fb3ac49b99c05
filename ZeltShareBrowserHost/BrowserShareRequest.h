#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <variant>

// What the sheet is started with for one share from the browser extension.
struct SheetInvocation
{
    QStringList arguments;
    // Handed over on the sheet's standard input, so that no size limit of the command line
    // applies (one argument may hold at most 128 KiB, and a page's selection can be longer).
    QByteArray standardInput;
};

// One message of the browser extension, checked and turned into the sheet's command line. The
// messages are JSON objects with a "kind" and that kind's fields, all strings:
//   {"kind": "page", "url": …, "title": …, "selection": …}   the page record (url required)
//   {"kind": "link", "url": …}                                a link on a page
//   {"kind": "image", "type": …, "data": …, "name": …}         an image's bytes in base64
// A field that is not known, or not a string, refuses the message: the page it came from is
// not to be trusted, and the extension sends nothing else.
class BrowserShareRequest
{
    Q_DECLARE_TR_FUNCTIONS(BrowserShareRequest)

public:
    // An image's bytes, at most; the extension sends a larger one by its address.
    static constexpr qsizetype maximumImageSize = 32 * 1024 * 1024;

    // The sheet's invocation for the message, or the line that says why it cannot be shared.
    static std::variant<SheetInvocation, QString> invocation(const QByteArray &json);
};
