import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Zelt.Share
import "SheetColors.js" as SheetColors

// "To", the destination's icon and name, and a chevron; pressing it opens the picker.
AbstractButton {
    id: row

    required property var model
    required property string shareNoun
    readonly property var destination: model.destinationRow

    enabled: !model.isSending && !model.sent
    leftPadding: 14
    rightPadding: 14
    topPadding: 12
    bottomPadding: 12
    focusPolicy: Qt.StrongFocus

    Accessible.role: Accessible.Button
    //: The destination row as a screen reader names it; %1 is Tovi or a thread's title.
    Accessible.name: qsTr("To %1").arg(destination.name)
    //: %1 is "this file", "this image", "these files" or "this".
    Accessible.description: qsTr("Chooses where to send %1").arg(shareNoun)
    Accessible.onPressAction: if (enabled) clicked()
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()

    background: Rectangle {
        radius: 12
        color: SheetColors.fill(row.palette.active.windowText)
        border.width: row.visualFocus ? 2 : 1
        border.color: row.visualFocus ? row.palette.highlight
                                      : SheetColors.separator(row.palette.active.windowText)
        opacity: row.down ? 0.8 : 1
    }

    contentItem: RowLayout {
        spacing: 10
        // Dimmed as a whole while disabled, the icon with the texts: the colours are the
        // enabled ones.
        opacity: row.enabled ? 1 : 0.5

        Label {
            text: qsTr("To")
            color: SheetColors.secondary(row.palette.active.windowText)
            Accessible.ignored: true
        }
        Item {
            implicitWidth: 24
            implicitHeight: 24
            ShareDestinationIcon {
                anchors.centerIn: parent
                size: 24
                tovi: row.destination.tovi
                threadId: row.destination.tovi ? "" : row.destination.id
                threadColor: row.destination.tovi ? "" : row.destination.color
                background: row.palette.window
                Accessible.ignored: true
            }
        }
        Label {
            objectName: "destinationName"
            text: row.destination.name
            color: row.palette.active.windowText
            font.weight: Font.Medium
            elide: Label.ElideRight
            maximumLineCount: 1
            Layout.fillWidth: true
            Layout.minimumWidth: 0
            Accessible.ignored: true
        }
        Item {
            implicitWidth: 8
        }
        Spinner {
            objectName: "destinationsLoading"
            visible: !row.model.destinationsLoaded
            implicitWidth: 16
            implicitHeight: 16
            label: qsTr("Loading destinations")
        }
        SymbolIcon {
            name: "chevron.right"
            bold: true
            color: SheetColors.tertiary(row.palette.active.windowText)
            implicitWidth: 12
            implicitHeight: 12
            Accessible.ignored: true
        }
    }
}
