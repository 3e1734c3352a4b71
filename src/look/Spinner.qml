import QtQuick

// A small indeterminate spinner: eight spokes fading round the circle, the
// brightest stepping on every tenth of a second.
Item {
    id: spinner

    property color color: "#000000"
    property bool running: true
    property int _step: 0

    implicitWidth: 16
    implicitHeight: 16

    Item {
        id: wheel
        anchors.centerIn: parent
        width: Math.min(spinner.width, spinner.height)
        height: width
        rotation: spinner._step * 45

        Repeater {
            model: 8
            Rectangle {
                id: spoke
                required property int index
                x: (wheel.width - width) / 2
                width: Math.max(1.5, wheel.width / 8)
                height: wheel.height * 0.28
                radius: width / 2
                color: spinner.color
                opacity: 0.2 + 0.8 * spoke.index / 7
                transform: Rotation {
                    origin.x: spoke.width / 2
                    origin.y: wheel.height / 2
                    angle: spoke.index * 45
                }
            }
        }
    }

    Timer {
        interval: 100
        repeat: true
        running: spinner.running && spinner.visible
        onTriggered: spinner._step = (spinner._step + 1) % 8
    }
}
