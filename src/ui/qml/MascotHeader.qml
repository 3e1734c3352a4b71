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

    // Drawn 10 past its frame on every side, and over the title it
    // overlaps: its tail and feet stay whole, its own dark edge keeps it
    // apart from the white letters.
    Item {
        objectName: "mascotFrame"
        z: 1
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
        Layout.topMargin: header.compact ? 0 : -24
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
