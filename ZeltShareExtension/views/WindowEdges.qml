import QtQuick

// The rim of a window without a frame: a hairline that sets it off from what lies behind, and
// edges and corners that resize it as a frame's would (the compositor runs the resize).
Item {
    id: rim

    required property Window window
    property color borderColor: "gray"
    // How far in from the edge a press resizes.
    readonly property int grip: 6

    component Edge: Item {
        required property int edges
        property int cursor: Qt.ArrowCursor

        HoverHandler {
            cursorShape: parent.cursor
        }
        DragHandler {
            target: null
            onActiveChanged: if (active) rim.window.startSystemResize(parent.edges)
        }
    }

    Rectangle {
        anchors.fill: parent
        color: "transparent"
        border.color: rim.borderColor
        border.width: 1
    }

    Edge {
        edges: Qt.TopEdge
        cursor: Qt.SizeVerCursor
        x: rim.grip; width: rim.width - 2 * rim.grip; height: rim.grip
    }
    Edge {
        edges: Qt.BottomEdge
        cursor: Qt.SizeVerCursor
        x: rim.grip; y: rim.height - rim.grip; width: rim.width - 2 * rim.grip; height: rim.grip
    }
    Edge {
        edges: Qt.LeftEdge
        cursor: Qt.SizeHorCursor
        y: rim.grip; width: rim.grip; height: rim.height - 2 * rim.grip
    }
    Edge {
        edges: Qt.RightEdge
        cursor: Qt.SizeHorCursor
        x: rim.width - rim.grip; y: rim.grip; width: rim.grip; height: rim.height - 2 * rim.grip
    }
    Edge {
        edges: Qt.TopEdge | Qt.LeftEdge
        cursor: Qt.SizeFDiagCursor
        width: rim.grip; height: rim.grip
    }
    Edge {
        edges: Qt.BottomEdge | Qt.RightEdge
        cursor: Qt.SizeFDiagCursor
        x: rim.width - rim.grip; y: rim.height - rim.grip; width: rim.grip; height: rim.grip
    }
    Edge {
        edges: Qt.TopEdge | Qt.RightEdge
        cursor: Qt.SizeBDiagCursor
        x: rim.width - rim.grip; width: rim.grip; height: rim.grip
    }
    Edge {
        edges: Qt.BottomEdge | Qt.LeftEdge
        cursor: Qt.SizeBDiagCursor
        y: rim.height - rim.grip; width: rim.grip; height: rim.grip
    }
}
