import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Zelt.Share
import "SheetColors.js" as SheetColors

// The sheet's root page: what is shared, where it goes, a message, progress and errors, with
// Cancel and Send in the toolbar. Every action goes to the model.
Page {
    id: view

    required property var model
    // Whether the toolbar shows the title, which a title bar of the window may show instead.
    property bool showsTitle: true
    // Whether dragging the toolbar moves the window (which has no title bar of its own then).
    property bool movesWindow: false
    // The destination row was pressed: the window pushes the picker.
    signal chooseDestination()

    readonly property var files: model.fileRows
    readonly property bool singleImage: files.length === 1 && files[0].isPreparedImage
                                        && files[0].hasPreview
    // What is shared, for the sign-in card ("…, then share %1 again.") and the destination
    // row's description ("Chooses where to send %1").
    readonly property string shareNoun: singleImage
                                        //: Stands for %1 in "Open Zelt and sign in, then share %1 again." and "Chooses where to send %1".
                                        ? qsTr("this image")
                                      : files.length === 0
                                        //: What was shared when it is not known yet. Stands for %1 in "Open Zelt and sign in, then share %1 again." and "Chooses where to send %1".
                                        ? qsTr("this")
                                      : files.length === 1
                                        //: Stands for %1 in "Open Zelt and sign in, then share %1 again." and "Chooses where to send %1".
                                        ? qsTr("this file")
                                        //: Stands for %1 in "Open Zelt and sign in, then share %1 again." and "Chooses where to send %1".
                                      : qsTr("these files")
    // The first matching state: loading, signedOut, ready, or empty.
    readonly property string sheetState: model.isLoading ? "loading"
                                       : !model.signedIn ? "signedOut"
                                       : model.hasSharedItems ? "ready" : "empty"
    readonly property string destinationName: model.destinationRow.name
    // Typing goes into the message once there is a share to write it for; once only, so that
    // coming back from the picker keeps the focus where it was.
    property bool messageFocused: false
    onSheetStateChanged: {
        if (sheetState === "ready" && !messageFocused) {
            messageFocused = true
            messageField.takeFocus()
        }
    }

    title: qsTr("Send to Zelt")

    header: ToolBar {
        topPadding: 4
        bottomPadding: 5

        WindowMoveHandler {
            enabled: view.movesWindow
        }
        RowLayout {
            id: toolbarRow
            // Cancel and the confirmation take the same width, so that the title is centred.
            readonly property real sideWidth: Math.max(cancelButton.implicitWidth,
                                                       confirmation.implicitWidth)

            anchors.fill: parent

            Item {
                implicitHeight: cancelButton.implicitHeight
                Layout.preferredWidth: toolbarRow.sideWidth

                Button {
                    id: cancelButton
                    objectName: "cancelButton"
                    anchors.left: parent.left
                    anchors.verticalCenter: parent.verticalCenter
                    text: qsTr("Cancel")
                    flat: true
                    // Over once it is sent: the sheet closes by itself.
                    enabled: !view.model.sent
                    onClicked: view.model.cancel()
                    Keys.onReturnPressed: clicked()
                    Keys.onEnterPressed: clicked()
                    Accessible.onPressAction: if (enabled) clicked()

                    FocusRing {
                        control: cancelButton
                    }
                }
            }
            Label {
                objectName: "toolbarTitle"
                text: view.title
                // Keeps its place when hidden, so that Cancel and Send stay where they are.
                opacity: view.showsTitle ? 1 : 0
                Accessible.ignored: !view.showsTitle
                font.bold: true
                elide: Label.ElideRight
                horizontalAlignment: Qt.AlignHCenter
                Layout.fillWidth: true
            }
            // The confirmation place: Send, the sending spinner or "Sent", when signed in.
            Item {
                id: confirmation
                implicitWidth: Math.max(sendButton.implicitWidth, sentLabel.implicitWidth)
                implicitHeight: sendButton.implicitHeight
                Layout.preferredWidth: toolbarRow.sideWidth

                // The place keeps its width when signed out, so that the title stays centred.
                Item {
                    anchors.fill: parent
                    visible: view.model.signedIn

                    Button {
                        id: sendButton
                        objectName: "sendButton"
                        anchors.right: parent.right
                        anchors.verticalCenter: parent.verticalCenter
                        visible: !view.model.sent && !view.model.isSending
                        text: qsTr("Send")
                        font.weight: Font.DemiBold
                        highlighted: true
                        enabled: view.model.canSend
                        onClicked: view.model.send()
                        Keys.onReturnPressed: clicked()
                        Keys.onEnterPressed: clicked()
                        Accessible.onPressAction: if (enabled) clicked()

                        FocusRing {
                            control: sendButton
                        }
                    }
                    Spinner {
                        objectName: "sendingIndicator"
                        anchors.right: parent.right
                        anchors.rightMargin: 6
                        anchors.verticalCenter: parent.verticalCenter
                        visible: !view.model.sent && view.model.isSending
                        label: qsTr("Sending")
                    }
                    RowLayout {
                        id: sentLabel
                        objectName: "sentLabel"
                        anchors.right: parent.right
                        anchors.verticalCenter: parent.verticalCenter
                        visible: view.model.sent
                        spacing: 6
                        // Announced as it appears.
                        Accessible.role: Accessible.AlertMessage
                        Accessible.name: sentText.text

                        SymbolIcon {
                            name: "checkmark.circle.fill"
                            color: SheetColors.green(view.palette.window)
                            implicitWidth: 18
                            implicitHeight: 18
                            Accessible.ignored: true
                        }
                        Label {
                            id: sentText
                            Accessible.ignored: true
                            text: qsTr("Sent")
                            color: SheetColors.green(view.palette.window)
                            font.weight: Font.DemiBold
                        }
                    }
                }
            }
        }
    }

    Flickable {
        id: scroll
        anchors.fill: parent
        contentWidth: width
        contentHeight: content.implicitHeight + 32
        // Bounces only when the content is taller than the sheet.
        boundsBehavior: Flickable.StopAtBounds
        interactive: contentHeight > height
        ScrollBar.vertical: ScrollBar {
            policy: scroll.contentHeight > scroll.height ? ScrollBar.AlwaysOn
                                                          : ScrollBar.AlwaysOff
            Accessible.ignored: policy === ScrollBar.AlwaysOff
        }

        ColumnLayout {
            id: content
            x: 16
            y: 16
            width: scroll.width - 32
            spacing: 12

            Item {
                id: loadingState
                objectName: "loadingIndicator"
                visible: view.sheetState === "loading"
                Layout.fillWidth: true
                Layout.minimumHeight: 200

                Column {
                    anchors.centerIn: parent
                    spacing: 4

                    Spinner {
                        anchors.horizontalCenter: parent.horizontalCenter
                        running: loadingState.visible
                        implicitWidth: 40
                        implicitHeight: 40
                        label: loadingLabel.text
                    }
                    Label {
                        id: loadingLabel
                        objectName: "loadingLabel"
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: qsTr("Loading")
                        color: SheetColors.secondary(view.palette.windowText)
                        Accessible.ignored: true
                    }
                }
            }

            DestinationRow {
                objectName: "destinationRow"
                visible: view.sheetState === "ready"
                model: view.model
                shareNoun: view.shareNoun
                Layout.fillWidth: true
                onClicked: view.chooseDestination()
            }

            MessageField {
                id: messageField
                objectName: "messageField"
                visible: view.sheetState === "ready"
                model: view.model
                Layout.fillWidth: true
            }

            // The single image, or the list of files.
            Item {
                objectName: "singleImagePreview"
                visible: (view.sheetState === "ready" || view.sheetState === "signedOut")
                         && view.singleImage
                Layout.fillWidth: true
                Layout.preferredHeight: {
                    // Scaled to fit the full width, up or down, and at most 280 tall; the
                    // picture's implicit size gives the preview's proportions.
                    const w = singleImagePicture.implicitWidth
                    const h = singleImagePicture.implicitHeight
                    if (w <= 0)
                        return 0
                    return Math.min(280, width * h / w)
                }
                PreviewImage {
                    id: singleImagePicture
                    anchors.fill: parent
                    image: {
                        view.files
                        return view.singleImage ? view.model.preview(view.files[0].id)
                                                : view.model.preview("")
                    }
                    radius: 10
                    borderColor: SheetColors.border(view.palette.windowText)
                    Accessible.ignored: true
                }
            }
            SharedFileList {
                objectName: "fileList"
                visible: (view.sheetState === "ready" || view.sheetState === "signedOut")
                         && !view.singleImage && view.files.length > 0
                model: view.model
                Layout.fillWidth: true
            }

            SignInCard {
                objectName: "signInCard"
                visible: view.sheetState === "signedOut"
                shareNoun: view.shareNoun
                Layout.fillWidth: true
            }

            UploadProgress {
                objectName: "uploadProgress"
                visible: view.sheetState === "ready" && view.model.uploadProgress !== undefined
                value: view.model.uploadProgress === undefined ? 0 : view.model.uploadProgress
                Layout.fillWidth: true
            }

            // The line, in an alert of its own: a label cannot be one, it stays a label.
            Item {
                visible: errorLabel.text.length > 0
                implicitHeight: errorLabel.implicitHeight
                Layout.fillWidth: true
                // Announced whenever a new line appears.
                Accessible.role: Accessible.AlertMessage
                Accessible.name: errorLabel.text

                Label {
                    id: errorLabel
                    objectName: "errorText"
                    width: parent.width
                    text: view.model.errorMessage
                    color: SheetColors.red(view.palette.window)
                    font.pointSize: Qt.application.font.pointSize * 0.95
                    wrapMode: Text.Wrap
                    Accessible.ignored: true
                }
            }

            Item {
                // The bottom padding.
                Layout.preferredHeight: 4
            }
        }
    }

    // Files, images and links dropped anywhere on the sheet join the share.
    ShareDropArea {
        id: dropArea
        objectName: "dropArea"
        anchors.fill: parent
        model: view.model

        Rectangle {
            objectName: "dropHighlight"
            anchors.fill: parent
            anchors.margins: 8
            visible: dropArea.containsDrag
            radius: 12
            color: Qt.rgba(view.palette.highlight.r, view.palette.highlight.g,
                           view.palette.highlight.b, 0.12)
            border.color: view.palette.highlight
            border.width: 2

            Label {
                anchors.centerIn: parent
                text: qsTr("Drop to add to the share")
                font.weight: Font.DemiBold
                color: view.palette.windowText
            }
        }
    }
}
