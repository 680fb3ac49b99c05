import QtQuick
import QtQuick.Controls
import Zelt.Share

// The share sheet's window: the compose view, with the destination picker pushed over it, and
// the security-key overlay on top while a key is asked for.
ApplicationWindow {
    id: window

    required property var model
    required property var presenter
    // Whether the toolbar shows the title: not where the compositor's title bar shows it.
    property bool toolbarTitle: true
    // No frame around the window (a Wayland compositor that leaves decorations to its clients):
    // the toolbar is the title bar, which moves the window, and the edges resize it.
    property bool ownTitleBar: false

    width: 560
    height: 620
    minimumWidth: 400
    minimumHeight: 360
    title: qsTr("Send to Zelt")
    flags: ownTitleBar ? Qt.Window | Qt.FramelessWindowHint : Qt.Window
    // The colour the sheet is drawn on, for what is drawn outside Qt Quick (prepared images).
    readonly property color windowColor: palette.window

    // Closing the window cancels the share, as Cancel does.
    onClosing: window.model.cancel()

    StackView {
        id: stack
        objectName: "stack"
        anchors.fill: parent
        initialItem: ShareComposeView {
            model: window.model
            showsTitle: window.toolbarTitle
            movesWindow: window.ownTitleBar
            onChooseDestination: stack.push(pickerPage)
        }
    }

    Component {
        id: pickerPage
        ShareDestinationPicker {
            model: window.model
            movesWindow: window.ownTitleBar
            onDone: stack.pop()
        }
    }

    PasskeyOverlay {
        anchors.fill: parent
        presenter: window.presenter
    }

    WindowEdges {
        anchors.fill: parent
        visible: window.ownTitleBar
        window: window
        borderColor: window.palette.mid
    }

    Shortcut {
        sequences: ["Ctrl+Return", "Ctrl+Enter"]
        enabled: stack.depth === 1 && !window.presenter.active
        onActivated: if (window.model.canSend) window.model.send()
    }
    // Anywhere but in a text field, a paste adds what the clipboard holds to the share.
    Shortcut {
        sequences: [StandardKey.Paste]
        enabled: stack.depth === 1 && !window.presenter.active && window.model.canAddItems
        onActivated: window.model.pasteFromClipboard(true)
    }
    Shortcut {
        sequence: "Escape"
        onActivated: {
            if (window.presenter.active)
                window.presenter.cancel()
            else if (stack.depth > 1)
                stack.pop()
            else
                window.model.cancel()
        }
    }
}
