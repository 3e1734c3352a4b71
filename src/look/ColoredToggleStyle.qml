import QtQuick
import QtQuick.Controls.Basic

// An on/off switch drawn as a small pill (28 by 16) with a round thumb, in
// the colours the user of the style picks. The label is not drawn: put a
// caption beside the switch; `text` still names the switch for screen
// readers, or set Accessible.name.
Switch {
    id: control

    property color onColor: "#007aff"
    property color offColor: "#8e8e93"
    property color thumbColor: "#ffffff"

    padding: 0
    spacing: 0
    implicitWidth: indicator.implicitWidth
    implicitHeight: indicator.implicitHeight

    Accessible.name: control.text

    contentItem: null
    background: null

    indicator: Rectangle {
        objectName: "track"
        implicitWidth: 28
        implicitHeight: 16
        x: (control.width - width) / 2
        y: (control.height - height) / 2
        radius: height / 2
        color: control.checked ? control.onColor : control.offColor
        Behavior on color {
            ColorAnimation { duration: 100; easing.type: Easing.InOutQuad }
        }

        FocusRing {
            visible: control.visualFocus
        }

        Item {
            id: thumb
            objectName: "thumb"
            width: 14
            height: 14
            y: 1
            // 1 from the left end when off, 1 from the right end when on;
            // follows the finger while the thumb is dragged.
            x: 1 + (parent.width - width - 2) * control.visualPosition
            Behavior on x {
                enabled: !control.pressed
                NumberAnimation { duration: 100; easing.type: Easing.InOutQuad }
            }

            // A soft shadow one pixel below the thumb.
            Rectangle {
                x: -0.5
                y: 0.5
                width: parent.width + 1
                height: parent.height + 1
                radius: width / 2
                color: Qt.rgba(0, 0, 0, 0.14)
            }
            Rectangle {
                y: 1
                width: parent.width
                height: parent.height
                radius: width / 2
                color: Qt.rgba(0, 0, 0, 0.2)
            }
            Rectangle {
                anchors.fill: parent
                radius: width / 2
                color: control.thumbColor
            }
        }
    }
}
