// The page dictionary of `zelt-share --page JSON`, through the intake's text of a page.

#include "FuzzSupport.h"
#include "SharedItemIntake.h"
#include "TaskResult.h"
#include "host/ExtensionContext.h"
#include "host/ItemProvider.h"

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
    const QString json = Fuzz::utf8(data, size);
    std::unique_ptr<ExtensionContext> context;
    try {
        context = ExtensionContext::fromCommandLine({u"--page"_s, json}, nullptr, u"/"_s);
    } catch (const CommandLineError &) {
        return 0;
    }
    Fuzz::check(context->inputItems().size() == 1 &&
                    context->inputItems().first().attachments.size() == 1,
                "a page is one attachment");
    const auto attachment = context->inputItems().first().attachments.first();
    const auto text = TaskResult<std::optional<QString>>::wait(
        SharedItemIntake::sharedText(std::shared_ptr<const ItemProvider>(attachment)));
    Fuzz::check(!text.error, "the text of a page is read without an error");
    if (text.value && *text.value) {
        // Title, quoted selection and URL: never more than the input gave, plus the quoting.
        const QString &pageText = **text.value;
        Fuzz::check(pageText.size() <= json.size() * 3 + 4, "a page's text comes from the page");
    }
    return 0;
}
