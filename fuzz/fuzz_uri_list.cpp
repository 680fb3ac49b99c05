// A list of links on standard input (`zelt-share --uri-list -`): data: URIs decoded, file: and
// other links taken as operands.

#include "FuzzSupport.h"
#include "host/DataURI.h"
#include "host/ExtensionContext.h"
#include "host/ItemProvider.h"

#include <QBuffer>
#include <QCoreApplication>

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    Fuzz::createApplication<QCoreApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    // Each line on its own as a data: URI, as the list reads it.
    for (const QByteArray &line : input.split('\n')) {
        DataURI::Error error = DataURI::Error::Malformed;
        const auto uri = DataURI::parse(line.trimmed(), &error);
        if (uri) {
            Fuzz::check(uri->bytes.size() <= line.size(), "a data: URI decodes to no more bytes");
            Fuzz::check(!uri->mediaType.isEmpty(), "a data: URI has a media type");
        }
    }
    QBuffer buffer(&input);
    buffer.open(QIODevice::ReadOnly);
    try {
        const auto context =
            ExtensionContext::fromCommandLine({u"--uri-list"_s, u"-"_s}, &buffer, u"/"_s);
        Fuzz::check(!context->inputItems().first().attachments.isEmpty(),
                    "a list that is taken has links");
    } catch (const CommandLineError &) {
    }
    return 0;
}
