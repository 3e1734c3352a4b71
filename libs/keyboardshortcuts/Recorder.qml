import QtQuick
import KeyboardShortcuts

// A field showing the keys of `name`; click it (or tab to it) and press new
// keys. Escape cancels, Backspace or Delete leaves the name without keys.
ShortcutRecorder {
    id: control

    property string placeholderText: qsTr("Record Shortcut")
    readonly property string displayText: recording
        ? (pendingText.length > 0 ? pendingText : qsTr("Press Shortcut"))
        : (hasShortcut ? shortcutText : placeholderText)

    implicitWidth: Math.max(160, label.implicitWidth + clearButton.width + 28)
    implicitHeight: Math.max(28, label.implicitHeight + 10)

    Accessible.role: Accessible.Button
    Accessible.name: displayText
    Accessible.description: errorText

    SystemPalette { id: palette }

    Rectangle {
        anchors.fill: parent
        radius: height / 2
        color: control.recording ? Qt.tint(palette.base, Qt.rgba(0.2, 0.45, 0.9, 0.15)) : palette.base
        border.width: control.activeFocus ? 2 : 1
        border.color: control.errorText.length > 0 ? "#d03030"
                    : control.activeFocus ? palette.highlight : palette.mid
    }

    Text {
        id: label
        anchors.centerIn: parent
        width: Math.min(implicitWidth, parent.width - clearButton.width - 20)
        horizontalAlignment: Text.AlignHCenter
        elide: Text.ElideRight
        text: control.displayText
        color: (control.hasShortcut || control.recording) ? palette.text : palette.placeholderText
    }

    Text {
        id: clearButton
        anchors.right: parent.right
        anchors.rightMargin: 8
        anchors.verticalCenter: parent.verticalCenter
        visible: control.hasShortcut && !control.recording
        text: "\u2715"
        color: palette.mid
        Accessible.role: Accessible.Button
        Accessible.name: qsTr("Clear Shortcut")

        MouseArea {
            anchors.fill: parent
            anchors.margins: -4
            onClicked: control.clear()
        }
    }
}
