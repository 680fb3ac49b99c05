#pragma once

#include <QLoggingCategory>

// One category per component. Cookies and session JSON are never logged.
Q_DECLARE_LOGGING_CATEGORY(lcShareExtension)
Q_DECLARE_LOGGING_CATEGORY(lcToviAvatar)
