import QtQuick

// The keyboard focus of a control, drawn just outside it: a ring of the highlight colour, which
// no control draws of its own (a default button's blue frame is not focus).
Rectangle {
    required property Item control

    objectName: "focusRing"
    anchors.fill: parent
    anchors.margins: -3
    radius: 7
    color: "transparent"
    border.width: 2
    border.color: control.palette.highlight
    visible: control.visualFocus
    z: 1
}
