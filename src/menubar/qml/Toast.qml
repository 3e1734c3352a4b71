import QtQuick

// What a toast shows: the message on the desktop's window colours, so it
// reads on light and dark themes alike. The whole toast is the click area.
Rectangle {
    id: toast

    property string message
    property font messageFont
    property real messageWidth
    property real messageHeight

    signal tapped()

    SystemPalette {
        id: palette
        colorGroup: SystemPalette.Active
    }

    color: palette.window
    border.color: palette.mid
    border.width: 1

    Text {
        objectName: "toastMessage"
        anchors.centerIn: parent
        width: toast.messageWidth
        height: toast.messageHeight
        text: toast.message
        textFormat: Text.PlainText
        font: toast.messageFont
        color: palette.windowText
        wrapMode: Text.WordWrap
        verticalAlignment: Text.AlignVCenter
        // Laid out with the same hinted metrics the toast was measured with.
        renderType: Text.NativeRendering
    }

    MouseArea {
        anchors.fill: parent
        onClicked: toast.tapped()
    }
}
