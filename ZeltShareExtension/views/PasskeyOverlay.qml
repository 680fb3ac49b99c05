import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import "SheetColors.js" as SheetColors

// Over the sheet while a security key is asked for: what to do with the key, the PIN when the
// key wants one, Cancel, and the way to Zelt for a passkey that is not on a security key.
Rectangle {
    id: overlay

    required property var presenter

    visible: presenter.active
    color: Qt.rgba(0, 0, 0, 0.35)

    onVisibleChanged: if (visible) pinField.text = ""

    // The sheet underneath takes no clicks meanwhile.
    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.AllButtons
        onWheel: (wheel) => { wheel.accepted = true }
    }

    Pane {
        id: panel
        objectName: "passkeyPanel"
        anchors.centerIn: parent
        width: Math.min(360, overlay.width - 48)
        padding: 20
        background: Rectangle {
            radius: 12
            color: panel.palette.window
            border.width: 1
            border.color: SheetColors.border(panel.palette.windowText)
        }

        ColumnLayout {
            anchors.left: parent.left
            anchors.right: parent.right
            spacing: 10

            Label {
                objectName: "passkeyTitle"
                text: qsTr("Use your security key")
                font.bold: true
                font.pointSize: Qt.application.font.pointSize * 1.15
                Layout.fillWidth: true
                wrapMode: Text.Wrap
            }
            Label {
                objectName: "passkeyStep"
                text: overlay.presenter.pinRequested
                      ? qsTr("Enter the PIN of your security key.")
                      : overlay.presenter.step === "touchKey"
                        ? qsTr("Touch your security key to continue.")
                        : qsTr("Insert your security key.")
                color: SheetColors.secondary(panel.palette.windowText)
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            // Linux has no passkeys of its own: one on a phone or in a password manager is
            // used through Zelt.
            Label {
                objectName: "passkeyElsewhere"
                visible: !overlay.presenter.pinRequested
                text: qsTr("Is your passkey on your phone or in a password manager? Open Zelt "
                           + "instead, and share again once you have authenticated there.")
                color: SheetColors.secondary(panel.palette.windowText)
                font.pointSize: Qt.application.font.pointSize * 0.9
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            Label {
                objectName: "passkeyWrongPin"
                visible: overlay.presenter.pinRequested && overlay.presenter.wrongPin
                text: overlay.presenter.retriesLeft >= 0
                      ? qsTr("Wrong PIN. %n attempt(s) left.", "", overlay.presenter.retriesLeft)
                      : qsTr("Wrong PIN.")
                color: SheetColors.red(panel.palette.window)
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            TextField {
                id: pinField
                objectName: "pinField"
                visible: overlay.presenter.pinRequested
                echoMode: TextInput.Password
                placeholderText: qsTr("PIN")
                Accessible.name: qsTr("PIN")
                Layout.fillWidth: true
                onVisibleChanged: if (visible) forceActiveFocus()
                onAccepted: if (text.length > 0) overlay.presenter.submitPin(text)
            }
            RowLayout {
                Layout.alignment: Qt.AlignRight
                spacing: 8
                Button {
                    id: openZeltButton
                    objectName: "passkeyOpenZelt"
                    visible: !overlay.presenter.pinRequested
                    text: qsTr("Open Zelt Instead")
                    flat: true
                    onClicked: overlay.presenter.openZeltInstead()
                    Keys.onReturnPressed: clicked()
                    Keys.onEnterPressed: clicked()
                    Accessible.onPressAction: clicked()

                    FocusRing {
                        control: openZeltButton
                    }
                }
                Button {
                    id: passkeyCancelButton
                    objectName: "passkeyCancel"
                    text: qsTr("Cancel")
                    onClicked: overlay.presenter.cancel()
                    Keys.onReturnPressed: clicked()
                    Keys.onEnterPressed: clicked()
                    Accessible.onPressAction: clicked()

                    FocusRing {
                        control: passkeyCancelButton
                    }
                }
                Button {
                    objectName: "passkeyContinue"
                    visible: overlay.presenter.pinRequested
                    text: qsTr("Continue")
                    highlighted: true
                    enabled: pinField.text.length > 0
                    onClicked: overlay.presenter.submitPin(pinField.text)
                }
            }
        }
    }
}
