import QtQuick
import QtQuick.Layouts
import Look

// The row between Google sign-in and the one-time password: a line on each
// side of the caption. The caption keeps its width; the lines take what is
// left, down to nothing.
Item {
    implicitWidth: row.implicitWidth
    implicitHeight: 20
    Layout.minimumHeight: 20
    Layout.maximumHeight: 20

    RowLayout {
        id: row
        anchors.fill: parent
        spacing: 8

        Rectangle {
            objectName: "leadingLine"
            color: Colors.dividerBackground
            Layout.fillWidth: true
            Layout.preferredWidth: 0
            Layout.preferredHeight: 1
            Layout.alignment: Qt.AlignVCenter
        }

        Text {
            objectName: "caption"
            text: qsTr("or continue with a one time password")
            font.pixelSize: 12
            color: "#8e8e93"
            horizontalAlignment: Text.AlignHCenter
            elide: Text.ElideRight
            Layout.minimumWidth: 215
            Layout.preferredWidth: Math.max(215, implicitWidth)
            Layout.alignment: Qt.AlignVCenter
        }

        Rectangle {
            objectName: "trailingLine"
            color: Colors.dividerBackground
            Layout.fillWidth: true
            Layout.preferredWidth: 0
            Layout.preferredHeight: 1
            Layout.alignment: Qt.AlignVCenter
        }
    }
}
