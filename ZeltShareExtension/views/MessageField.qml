import QtQuick
import QtQuick.Controls
import "SheetColors.js" as SheetColors

// The optional message: grows from three to eight lines, then scrolls.
ScrollView {
    id: field

    required property var model
    readonly property real lineHeight: fontMetrics.lineSpacing

    enabled: !model.isSending && !model.sent
    implicitHeight: Math.min(Math.max(area.contentHeight, 3 * lineHeight), 8 * lineHeight)
                    + area.topPadding + area.bottomPadding
    // The card stays as it is while disabled; the text and placeholder dim.
    background: Rectangle {
        radius: 12
        color: SheetColors.fill(field.palette.active.windowText)
        border.width: area.activeFocus ? 2 : 1
        border.color: area.activeFocus ? field.palette.highlight
                                       : SheetColors.separator(field.palette.active.windowText)
    }

    function takeFocus() { area.forceActiveFocus() }

    // A scroll bar only once the message is longer than the field, and none in the
    // accessibility tree before then.
    ScrollBar.vertical: ScrollBar {
        parent: field
        x: field.width - width
        y: field.topPadding
        height: field.availableHeight
        policy: area.contentHeight + area.topPadding + area.bottomPadding > field.height
                ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
        visible: policy === ScrollBar.AlwaysOn
        Accessible.ignored: !visible
    }
    ScrollBar.horizontal: ScrollBar {
        policy: ScrollBar.AlwaysOff
        visible: false
        Accessible.ignored: true
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
        // A focus reason of Tab, so that what it reaches shows its focus.
        Keys.onTabPressed: (event) => {
            nextItemInFocusChain().forceActiveFocus(Qt.TabFocusReason)
            event.accepted = true
        }
        Keys.onBacktabPressed: (event) => {
            nextItemInFocusChain(false).forceActiveFocus(Qt.BacktabFocusReason)
            event.accepted = true
        }
    }
}
