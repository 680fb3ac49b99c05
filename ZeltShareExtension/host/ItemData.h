#pragma once

#include <QByteArray>
#include <QString>

// The data of an item: bytes in memory, or a file on disk that holds them. Readers that can
// stream (the image decoder) read a file where they find one instead of loading it whole.
struct ItemData
{
    QByteArray bytes;
    QString filePath; // when not empty, the data is this file's contents and bytes is empty

    static ItemData fromBytes(QByteArray bytes) { return {std::move(bytes), {}}; }
    static ItemData fromFile(QString path) { return {{}, std::move(path)}; }

    bool isFile() const { return !filePath.isEmpty(); }
};
