import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Zelt.Share
import "SheetColors.js" as SheetColors

// The files that will be uploaded: a thumbnail or a symbol, the name and the detail line.
SheetCard {
    id: list

    required property var model
    readonly property var files: model.fileRows

    implicitHeight: Math.min(248, rows.implicitHeight)
    clip: true

    // Around the card, while the keyboard scrolls it.
    Rectangle {
        anchors.fill: parent
        radius: 12
        color: "transparent"
        border.width: 2
        border.color: list.palette.highlight
        visible: flick.activeFocus
        z: 1
    }

    Flickable {
        id: flick
        objectName: "fileListScroll"
        anchors.fill: parent
        contentHeight: rows.implicitHeight
        boundsBehavior: Flickable.StopAtBounds
        interactive: contentHeight > height
        ScrollBar.vertical: ScrollBar {
            policy: flick.contentHeight > flick.height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
            Accessible.ignored: policy === ScrollBar.AlwaysOff
        }
        // A Tab stop only when there is more to see: the arrows and Page keys scroll it.
        activeFocusOnTab: interactive
        Accessible.role: Accessible.List
        Accessible.name: qsTr("Files")
        function scrollBy(step) {
            contentY = Math.max(0, Math.min(contentHeight - height, contentY + step))
        }
        Keys.onUpPressed: scrollBy(-56)
        Keys.onDownPressed: scrollBy(56)
        Keys.onPressed: (event) => {
            if (event.key === Qt.Key_PageUp || event.key === Qt.Key_PageDown) {
                scrollBy(event.key === Qt.Key_PageUp ? -height : height)
                event.accepted = true
            } else if (event.key === Qt.Key_Home || event.key === Qt.Key_End) {
                contentY = event.key === Qt.Key_Home ? 0 : contentHeight - height
                event.accepted = true
            }
        }

        Column {
            id: rows
            width: flick.width

            Repeater {
                model: list.files

                Column {
                    id: entry
                    required property var modelData
                    required property int index
                    width: rows.width

                    Rectangle {
                        objectName: "fileDivider"
                        visible: entry.index > 0
                        x: 60
                        width: parent.width - 60
                        height: 1
                        color: SheetColors.separator(list.palette.windowText)
                    }
                    RowLayout {
                        objectName: "fileRow"
                        x: 12
                        width: parent.width - 24
                        height: Math.max(36, details.implicitHeight) + 20
                        spacing: 12
                        Accessible.role: Accessible.ListItem
                        Accessible.name: entry.modelData.filename + ", " + entry.modelData.detail

                        Item {
                            implicitWidth: 36
                            implicitHeight: 36
                            Accessible.ignored: true

                            PreviewImage {
                                anchors.fill: parent
                                visible: entry.modelData.hasPreview
                                fill: true
                                radius: 6
                                image: {
                                    list.files
                                    return list.model.preview(entry.modelData.hasPreview
                                                              ? entry.modelData.id : "")
                                }
                            }
                            SymbolIcon {
                                objectName: "fileSymbol"
                                anchors.centerIn: parent
                                visible: !entry.modelData.hasPreview
                                name: entry.modelData.symbol
                                color: SheetColors.secondary(list.palette.windowText)
                                implicitWidth: 26
                                implicitHeight: 26
                            }
                        }
                        ColumnLayout {
                            id: details
                            spacing: 2
                            Layout.fillWidth: true
                            Layout.minimumWidth: 0

                            Label {
                                objectName: "fileName"
                                text: entry.modelData.filename
                                elide: Label.ElideMiddle
                                maximumLineCount: 1
                                Layout.fillWidth: true
                                Accessible.ignored: true
                            }
                            Label {
                                objectName: "fileDetail"
                                text: entry.modelData.detail
                                color: SheetColors.secondary(list.palette.windowText)
                                font.pointSize: Qt.application.font.pointSize * 0.85
                                elide: Label.ElideRight
                                maximumLineCount: 1
                                Layout.fillWidth: true
                                Accessible.ignored: true
                            }
                        }
                    }
                }
            }
        }
    }
}
