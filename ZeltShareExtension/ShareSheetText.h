#pragma once

#include "SharedFile.h"

#include <QDateTime>
#include <QString>

#include <optional>

// Texts and symbols the sheet's views show for the model's values.
namespace ShareSheetText {

// The symbol of a file without a preview, by its type: "doc", "waveform", "film", "photo",
// "doc.richtext", "doc.zipper" or "doc.text".
QString fileSymbol(const std::optional<ContentType> &contentType);

// The size in decimal units ("1.2 MB"), after the type's description when it has one
// ("PNG image, 1.2 MB").
QString fileDetail(const SharedFile &file);

// When a thread was last updated, relative to now in words: "Updated yesterday",
// "Updated 3 hours ago".
QString updated(const QDateTime &updatedAt, const QDateTime &now);

} // namespace ShareSheetText
