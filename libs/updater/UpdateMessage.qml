import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Window
import Look
import WuggUpdater

// What a check for updates found (up to date, or why it failed), in the
// look of the program's other windows. Return and Escape close it, as OK does.
Window {
    id: dialog
    required property UpdateWindowModel driver

    objectName: "updateMessage"
    title: driver.messageTitle
    width: 360
    height: 140
    color: Colors.primaryBackground
    flags: Qt.Dialog
    visible: driver.messageVisible
    onVisibleChanged: if (visible) requestActivate()
    onClosing: driver.dismissMessage()

    Shortcut {
        sequences: ["Return", "Enter", "Escape"]
        onActivated: dialog.driver.dismissMessage()
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 16

        Text {
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            color: "white"
            font.pixelSize: 13
            text: dialog.driver.messageText
        }
        Item { Layout.fillHeight: true }
        PrimaryButtonStyle {
            objectName: "okButton"
            Layout.alignment: Qt.AlignRight
            text: qsTr("OK")
            focusPolicy: Qt.NoFocus
            onClicked: dialog.driver.dismissMessage()
        }
    }
}
