import QtQuick
import QtQuick.Controls

// A busy indicator that screen readers know by its label, as a progress bar without a value: the
// style's indicator keeps a role of its own that assistive technology does not name.
Item {
    id: spinner

    required property string label
    property bool running: visible

    implicitWidth: 22
    implicitHeight: 22
    Accessible.role: Accessible.ProgressBar
    Accessible.name: label

    BusyIndicator {
        anchors.fill: parent
        // Without padding: the style's own would leave a dot of a small one.
        padding: 0
        running: spinner.running
        Accessible.ignored: true
    }
}
