#include "Logging.h"

Q_LOGGING_CATEGORY(lcShareExtension, "app.zelt.ShareExtension")
Q_LOGGING_CATEGORY(lcToviAvatar, "app.zelt.ToviAvatar")
