import QtQuick

// One prompt of the menu: its label, and the highlight when it is the
// model's highlighted row.
Item {
    id: row

    property string text
    property bool highlighted: false

    // Where the pointer entered, in the window's coordinates.
    signal hovered(point scenePosition)
    signal clicked()

    implicitHeight: label.implicitHeight + 16
    Accessible.role: Accessible.ListItem
    Accessible.name: row.text

    Rectangle {
        objectName: "highlight"
        anchors.fill: parent
        anchors.leftMargin: 8
        anchors.rightMargin: 8
        radius: 8
        color: row.highlighted ? Qt.rgba(1, 1, 1, 0.08) : "transparent"

        Text {
            id: label
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.leftMargin: 8
            anchors.rightMargin: 8
            anchors.verticalCenter: parent.verticalCenter
            text: row.text
            textFormat: Text.PlainText
            elide: Text.ElideRight
            font.pixelSize: 13
            color: "white"
        }
    }

    MouseArea {
        anchors.fill: parent
        hoverEnabled: true
        // Entering sets the highlight; leaving keeps it.
        onEntered: row.hovered(mapToItem(null, mouseX, mouseY))
        onClicked: row.clicked()
    }
}
