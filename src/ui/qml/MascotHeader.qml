import QtQuick
import QtQuick.Layouts
import Look
import Wugg.Ui

// The mascot over two tilted, slightly overlapping title lines, large or
// compact. The mascot says "zorble" on each click.
ColumnLayout {
    id: header

    property string firstLine
    property string secondLine
    // The small header over the tour's pages.
    property bool compact: false

    spacing: 0

    // Drawn 10 past its frame on every side.
    Item {
        objectName: "mascotFrame"
        Layout.alignment: Qt.AlignHCenter
        Layout.preferredWidth: header.compact ? 45 : 165
        Layout.preferredHeight: header.compact ? 38 : 148

        Image {
            objectName: "mascot"
            anchors.fill: parent
            anchors.margins: -10
            source: "qrc:/images/mascot.svg"
            sourceSize: Qt.size(width, height)
            fillMode: Image.Stretch

            MouseArea {
                anchors.fill: parent
                onClicked: Sounds.play("zorble")
            }
        }
    }

    Column {
        objectName: "headerTitle"
        Layout.alignment: Qt.AlignHCenter
        // Close under the mascot, clear of its tail and feet: white letters
        // over them would merge with them, and an outline to keep them
        // apart cuts notches into the letters where the lines overlap.
        Layout.topMargin: header.compact ? 0 : -12
        spacing: header.compact ? -4 : -10
        rotation: -10.8

        Repeater {
            model: [header.firstLine, header.secondLine]

            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                text: modelData
                textFormat: Text.PlainText
                font.pixelSize: header.compact ? 16 : 32
                font.weight: Font.Black
                font.italic: true
                color: "white"
            }
        }
    }
}
