import QtQuick
import QtQuick.Controls
import "SheetColors.js" as SheetColors

// Shown instead of the destination and the message while nobody is signed in.
SheetCard {
    id: card

    required property string shareNoun

    implicitHeight: layout.implicitHeight + 32

    // Positioners rather than layouts: the wrapped body's height follows the card's width.
    Row {
        id: layout
        x: 16
        y: 16
        width: card.width - 32
        spacing: 12

        Image {
            source: "qrc:/avatar/ToviFace.png"
            sourceSize: Qt.size(56, 56)
            fillMode: Image.PreserveAspectFit
            smooth: true
            width: 28
            height: 28
            Accessible.ignored: true
        }
        Column {
            width: layout.width - 28 - layout.spacing
            spacing: 6

            Label {
                objectName: "signInTitle"
                text: qsTr("Sign In to Zelt")
                font.bold: true
                width: parent.width
                wrapMode: Text.Wrap
            }
            Label {
                objectName: "signInBody"
                text: qsTr("Open Zelt and sign in, then share %1 again.").arg(card.shareNoun)
                color: SheetColors.secondary(card.palette.windowText)
                font.pointSize: Qt.application.font.pointSize * 0.95
                wrapMode: Text.Wrap
                width: parent.width
            }
        }
    }
}
