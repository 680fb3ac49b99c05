#pragma once

#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <array>
#include <span>
#include <string_view>

// The picture on a control's button. System symbols are drawn by the desktop's icon theme; the
// two asset images ship with zelt-controls as hicolor icons.
struct ZeltControlImage
{
    enum class Source {
        SystemSymbol,
        Asset,
    };

    Source source;
    // The image's own name: a system symbol ("mic.fill") or an asset ("ZeltToviFace").
    std::string_view name;
    // The icon-theme name a launcher shows for it.
    std::string_view iconName;
};

// One control: the button a launcher shows and the intent it runs. Kinds and intent type names
// are shared with the system and the main application and never change.
struct ZeltControl
{
    std::string_view controlType;
    std::string_view kind;
    // Localisable texts, translated in the "ZeltControls" context.
    const char *displayName;
    const char *description;
    ZeltControlImage image;
    std::string_view intentType;
    const char *intentTitle;

    QString kindText() const { return QString::fromLatin1(kind); }
    QString intentTypeText() const { return QString::fromLatin1(intentType); }
    QString displayNameText() const;
    QString descriptionText() const;
    QString intentTitleText() const;
};

// The controls, in the order a launcher lists them.
struct ZeltMacWidgetBundle
{
    static std::span<const ZeltControl> body();
    // The control of that kind (exact, case-sensitive); null when there is none.
    static const ZeltControl *control(QStringView kind);
};
