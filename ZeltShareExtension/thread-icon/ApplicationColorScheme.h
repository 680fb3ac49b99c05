#pragma once

#include "ThreadIconPalette.h"

#include <QObject>
#include <QPalette>

// Light or dark, as the application palette shows it, and a signal when the palette changes.
class ApplicationColorScheme : public QObject
{
    Q_OBJECT

public:
    // The scheme of a palette: dark when its window is darker than the text on it.
    static ThreadIconColorScheme of(const QPalette &palette);
    // The scheme of the application palette now.
    static ThreadIconColorScheme current();
    // The watcher of the process, created on first use; main thread only.
    static ApplicationColorScheme &instance();

Q_SIGNALS:
    void changed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    ApplicationColorScheme();
};
