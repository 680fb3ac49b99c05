import QtQuick
import QtQuick.Controls
import "SheetColors.js" as SheetColors

// The optional message: grows from three to eight lines, then scrolls.
ScrollView {
    id: field

    required property var model
    readonly property real lineHeight: fontMetrics.lineSpacing

    enabled: !model.isSending
    implicitHeight: Math.min(Math.max(area.contentHeight, 3 * lineHeight), 8 * lineHeight)
                    + area.topPadding + area.bottomPadding
    // The card stays as it is while disabled; the text and placeholder dim.
    background: Rectangle {
        radius: 12
        color: SheetColors.fill(field.palette.active.windowText)
    }

    FontMetrics {
        id: fontMetrics
        font: area.font
    }

    TextArea {
        id: area
        objectName: "messageArea"
        placeholderText: qsTr("Add a message")
        wrapMode: TextEdit.Wrap
        leftPadding: 14
        rightPadding: 14
        topPadding: 12
        bottomPadding: 12
        background: null
        text: field.model.message
        onTextChanged: if (text !== field.model.message) field.model.message = text
        Accessible.name: qsTr("Message")
        // Pasted files and images join the share; text is pasted into the field.
        Keys.onPressed: (event) => {
            if (event.matches(StandardKey.Paste) && field.model.pasteFromClipboard(false))
                event.accepted = true
        }
        // Tab leaves the field; Ctrl+Return is the window's Send.
        KeyNavigation.priority: KeyNavigation.BeforeItem
        Keys.onTabPressed: (event) => { nextItemInFocusChain().forceActiveFocus(); event.accepted = true }
    }
}
