#include "ZeltControls.h"

#include <QCoreApplication>

namespace {

using Source = ZeltControlImage::Source;

constexpr std::array<ZeltControl, 5> controls{{
    {"NewThreadControl",
     "NewThread",
     QT_TRANSLATE_NOOP("ZeltControls", "New Thread"),
     QT_TRANSLATE_NOOP("ZeltControls", "Open Zelt on a new thread."),
     {Source::SystemSymbol, "square.and.pencil", "document-edit-symbolic"},
     "NewThreadControlIntent",
     QT_TRANSLATE_NOOP("ZeltControls", "New Thread")},
    {"DictateNewThreadControl",
     "DictateNewThread",
     QT_TRANSLATE_NOOP("ZeltControls", "Dictate New Thread"),
     QT_TRANSLATE_NOOP("ZeltControls", "Open a new thread in Zelt and start dictation."),
     {Source::SystemSymbol, "mic.fill", "audio-input-microphone-symbolic"},
     "DictateNewThreadControlIntent",
     QT_TRANSLATE_NOOP("ZeltControls", "Dictate New Thread")},
    {"OpenToviControl",
     "OpenTovi",
     QT_TRANSLATE_NOOP("ZeltControls", "Open Tovi"),
     QT_TRANSLATE_NOOP("ZeltControls", "Open Tovi in Zelt."),
     {Source::Asset, "ZeltToviFace", "app.zelt.ZeltToviFace"},
     "OpenToviControlIntent",
     QT_TRANSLATE_NOOP("ZeltControls", "Open Tovi")},
    {"DictateToToviControl",
     "DictateToTovi",
     QT_TRANSLATE_NOOP("ZeltControls", "Dictate to Tovi"),
     QT_TRANSLATE_NOOP("ZeltControls", "Open Tovi and start dictation."),
     {Source::SystemSymbol, "waveform", "audio-x-generic-symbolic"},
     "DictateToToviControlIntent",
     QT_TRANSLATE_NOOP("ZeltControls", "Dictate to Tovi")},
    {"CallToviControl",
     "CallTovi",
     QT_TRANSLATE_NOOP("ZeltControls", "Call Tovi"),
     QT_TRANSLATE_NOOP("ZeltControls", "Start a voice call with Tovi."),
     {Source::Asset, "ZeltCallTovi", "app.zelt.ZeltCallTovi"},
     "CallToviControlIntent",
     QT_TRANSLATE_NOOP("ZeltControls", "Call Tovi")},
}};

QString translated(const char *text)
{
    return QCoreApplication::translate("ZeltControls", text);
}

} // namespace

QString ZeltControl::displayNameText() const
{
    return translated(displayName);
}

QString ZeltControl::descriptionText() const
{
    return translated(description);
}

QString ZeltControl::intentTitleText() const
{
    return translated(intentTitle);
}

std::span<const ZeltControl> ZeltMacWidgetBundle::body()
{
    return controls;
}

const ZeltControl *ZeltMacWidgetBundle::control(QStringView kind)
{
    for (const auto &control : controls) {
        if (kind == QLatin1StringView(control.kind.data(), qsizetype(control.kind.size())))
            return &control;
    }
    return nullptr;
}
