import QtQuick

// The ring a control shows while it has the keyboard focus from Tab: just
// outside its parent's edge, following its corners.
Rectangle {
    objectName: "focusRing"
    anchors.fill: parent
    anchors.margins: -3
    radius: parent.radius !== undefined ? parent.radius + 3 : 3
    color: "transparent"
    border.width: 2
    border.color: "#007aff"
    Accessible.ignored: true
}
