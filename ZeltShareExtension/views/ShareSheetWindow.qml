import QtQuick
import QtQuick.Controls
import Zelt.Share

// The share sheet's window: the compose view, with the destination picker pushed over it, and
// the security-key overlay on top while a key is asked for.
ApplicationWindow {
    id: window

    required property var model
    required property var presenter
    // The desktop prefers dark: the sheet's own dark palette instead of the desktop's.
    required property bool dark

    width: 560
    height: 620
    minimumWidth: 400
    minimumHeight: 360
    title: qsTr("Send to Zelt")

    // undefined leaves the desktop's colour.
    palette.window: dark ? "#242426" : undefined
    palette.windowText: dark ? "#f2f2f7" : undefined
    palette.base: dark ? "#1c1c1e" : undefined
    palette.alternateBase: dark ? "#2c2c2e" : undefined
    palette.text: dark ? "#f2f2f7" : undefined
    palette.button: dark ? "#3a3a3c" : undefined
    palette.buttonText: dark ? "#f2f2f7" : undefined
    palette.light: dark ? "#545456" : undefined
    palette.midlight: dark ? "#3a3a3c" : undefined
    palette.mid: dark ? "#2c2c2e" : undefined
    palette.dark: dark ? "#141416" : undefined
    palette.shadow: dark ? "#000000" : undefined
    palette.highlight: dark ? "#0a84ff" : undefined
    palette.highlightedText: dark ? "#ffffff" : undefined
    palette.placeholderText: dark ? "#8cf2f2f7" : undefined
    palette.disabled.windowText: dark ? "#66f2f2f7" : undefined
    palette.disabled.text: dark ? "#66f2f2f7" : undefined
    palette.disabled.buttonText: dark ? "#66f2f2f7" : undefined

    // Closing the window cancels the share, as Cancel does.
    onClosing: window.model.cancel()

    StackView {
        id: stack
        objectName: "stack"
        anchors.fill: parent
        initialItem: ShareComposeView {
            model: window.model
            onChooseDestination: stack.push(pickerPage)
        }
    }

    Component {
        id: pickerPage
        ShareDestinationPicker {
            model: window.model
            onDone: stack.pop()
        }
    }

    PasskeyOverlay {
        anchors.fill: parent
        presenter: window.presenter
    }

    Shortcut {
        sequences: ["Ctrl+Return", "Ctrl+Enter"]
        enabled: stack.depth === 1 && !window.presenter.active
        onActivated: if (window.model.canSend) window.model.send()
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
