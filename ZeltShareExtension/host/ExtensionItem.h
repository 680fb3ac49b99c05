#pragma once

#include "ItemProvider.h"

#include <QList>
#include <QString>

#include <memory>

// One input item of a share request: text that came with it and its attachments, in order.
struct ExtensionItem
{
    // The item's own text, as plain text; empty when there is none.
    QString contentText;
    QList<std::shared_ptr<ItemProvider>> attachments;
};
