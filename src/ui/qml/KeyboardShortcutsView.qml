import QtQuick
import QtQuick.Layouts
import KeyboardShortcuts
import Look

// The settings card of the three global shortcuts. It keeps nothing: each
// recorder stores the combination under its name, and the global hot key of
// that name follows at once.
Rectangle {
    id: card

    color: Qt.rgba(1, 1, 1, 0.06)
    radius: 13
    implicitWidth: rows.implicitWidth + 20
    implicitHeight: rows.implicitHeight + 20

    component ShortcutRow: ColumnLayout {
        id: row

        // Shown as written, never translated.
        property string title
        property string description
        property string shortcutName
        property int recorderWidth: 80

        Layout.fillWidth: true
        spacing: 6

        RowLayout {
            Layout.fillWidth: true

            ColumnLayout {
                spacing: 2

                Text {
                    text: row.title
                    textFormat: Text.PlainText
                    font.pixelSize: 13
                    color: "white"
                }
                Text {
                    text: row.description
                    textFormat: Text.PlainText
                    font.pixelSize: 11
                    color: Qt.rgba(1, 1, 1, 0.5)
                }
            }

            Item {
                Layout.fillWidth: true
            }

            Recorder {
                id: recorder
                objectName: "recorder_" + row.shortcutName
                name: row.shortcutName
                title: row.title
                Layout.preferredWidth: row.recorderWidth
                Layout.preferredHeight: 25
                fillColor: Qt.rgba(1, 1, 1, 0.1)
                textColor: "white"
                placeholderColor: "#8e8e93"
                borderColor: Qt.rgba(1, 1, 1, 0.15)
                focusColor: "#007aff"
            }
        }

        // Why the keys just pressed were not taken; gone while there is nothing to say.
        Text {
            objectName: "recorderMessage_" + row.shortcutName
            Layout.fillWidth: true
            visible: recorder.errorText.length > 0
            text: recorder.errorText
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font.pixelSize: 11
            color: "#ff6b6b"
        }
    }

    component Divider: Rectangle {
        Layout.fillWidth: true
        implicitHeight: 1
        color: Colors.dividerBackground
    }

    ColumnLayout {
        id: rows

        anchors.fill: parent
        anchors.margins: 10
        spacing: 10

        ShortcutRow {
            title: "Fix it"
            description: "Fixes typo & poor grammar"
            shortcutName: "typoFix"
        }
        Divider {}
        ShortcutRow {
            title: "Rephrase it"
            description: "Rephrases & improves writing"
            shortcutName: "rephrase"
            recorderWidth: 72
        }
        Divider {}
        ShortcutRow {
            title: "Open prompt menu"
            description: "Shows all available prompts"
            shortcutName: "floatingMenu"
        }
    }
}
