#pragma once

#include "service/ShareSubmission.h"

#include <QString>

#include <optional>

// VideoMetadata's probe itself, with libavformat; in the media module, like the image
// preparation.
namespace AVVideoProbe {

std::optional<FilesShareRequest::Video> probe(const QString &path);

} // namespace AVVideoProbe
