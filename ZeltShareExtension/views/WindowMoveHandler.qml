import QtQuick

// Dragging what holds it moves its window, as dragging a title bar does (the compositor runs
// the move).
DragHandler {
    target: null
    onActiveChanged: if (active) parent.Window.window.startSystemMove()
}
