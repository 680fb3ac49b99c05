import QtQuick
import QtQuick.Controls
import "SheetColors.js" as SheetColors

// The sheet's grouped background: the secondary colour at 12 % in a rounded rectangle with a
// visible edge. A control, so that it has the window's palette; children are placed by the user.
Control {
    id: card

    background: Rectangle {
        radius: 12
        color: SheetColors.fill(card.palette.windowText)
        border.width: 1
        border.color: SheetColors.separator(card.palette.windowText)
    }
}
