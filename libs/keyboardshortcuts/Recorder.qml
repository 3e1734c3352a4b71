import QtQuick
import KeyboardShortcuts

// A field showing the keys of `name`; click it (or press Space or Return on
// it) and press new keys. Escape cancels, Backspace or Delete leaves the name
// without keys, Tab moves on.
ShortcutRecorder {
    id: control

    // Narrow (a settings row): shorter texts, a smaller font, and no clear
    // button; Backspace or Delete while recording still clears.
    readonly property bool compact: width < 120
    property string placeholderText: compact ? qsTr("Record") : qsTr("Record Shortcut")
    readonly property string displayText: recording
        ? (pendingText.length > 0 ? pendingText : (compact ? qsTr("Press keys") : qsTr("Press Shortcut")))
        : (hasShortcut ? shortcutText : placeholderText)

    // The system's colours unless the owner's window has its own.
    property color fillColor: palette.base
    property color textColor: palette.text
    property color placeholderColor: palette.placeholderText
    property color borderColor: palette.mid
    property color focusColor: palette.highlight

    implicitWidth: Math.max(160, label.implicitWidth + clearButton.width + 28)
    implicitHeight: Math.max(28, label.implicitHeight + 10)

    Accessible.role: Accessible.Button
    Accessible.name: displayText
    Accessible.description: errorText

    SystemPalette { id: palette }

    Rectangle {
        anchors.fill: parent
        radius: height / 2
        color: control.recording ? Qt.tint(control.fillColor, Qt.rgba(0.2, 0.45, 0.9, 0.15)) : control.fillColor
        border.width: control.activeFocus ? 2 : 1
        border.color: control.errorText.length > 0 ? "#d03030"
                    : control.activeFocus ? control.focusColor : control.borderColor
    }

    Text {
        id: label
        anchors.centerIn: parent
        width: control.compact ? parent.width - 10
                               : Math.min(implicitWidth, parent.width - (clearButton.visible ? clearButton.width + 20 : 12))
        horizontalAlignment: Text.AlignHCenter
        elide: Text.ElideRight
        text: control.displayText
        // Narrow, a long combination takes a smaller font before it is cut.
        font.pixelSize: control.compact ? 11 : 13
        fontSizeMode: control.compact ? Text.HorizontalFit : Text.FixedSize
        minimumPixelSize: 8
        color: (control.hasShortcut || control.recording) ? control.textColor : control.placeholderColor
    }

    Text {
        id: clearButton
        anchors.right: parent.right
        anchors.rightMargin: 8
        anchors.verticalCenter: parent.verticalCenter
        visible: control.hasShortcut && !control.recording && !control.compact
        text: "\u2715"
        color: control.borderColor
        Accessible.role: Accessible.Button
        Accessible.name: qsTr("Clear Shortcut")

        MouseArea {
            anchors.fill: parent
            anchors.margins: -4
            onClicked: control.clear()
        }
    }
}
