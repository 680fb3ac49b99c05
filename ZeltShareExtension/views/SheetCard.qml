import QtQuick
import QtQuick.Controls
import "SheetColors.js" as SheetColors

// The sheet's grouped background: the secondary colour at 12 % in a rounded rectangle. A
// control, so that it has the window's palette; children are placed by the user.
Control {
    id: card

    background: Rectangle {
        radius: 12
        color: SheetColors.fill(card.palette.windowText)
    }
}
