import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window
import WuggUpdater

Window {
    id: dialog
    required property UpdateWindowModel driver

    objectName: "updateMessage"
    title: driver.messageTitle
    width: 360
    height: 140
    flags: Qt.Dialog
    visible: driver.messageVisible
    onVisibleChanged: if (visible) requestActivate()
    onClosing: driver.dismissMessage()

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 16

        Label {
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: dialog.driver.messageText
        }
        Item { Layout.fillHeight: true }
        Button {
            Layout.alignment: Qt.AlignRight
            text: qsTr("OK")
            onClicked: dialog.driver.dismissMessage()
        }
    }
}
