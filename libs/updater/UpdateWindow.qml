import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window
import WuggUpdater

Window {
    id: window
    required property UpdateWindowModel driver

    objectName: "updateWindow"
    title: qsTr("Software Update")
    width: 420
    height: 200
    visible: driver.windowVisible
    // Gentle reminders appear without taking the keyboard away.
    flags: driver.takesFocus ? Qt.Dialog : (Qt.Dialog | Qt.WindowDoesNotAcceptFocus)
    onVisibleChanged: if (visible && driver.takesFocus) requestActivate()
    onClosing: driver.remindLater()

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 16
        spacing: 10

        Label {
            text: qsTr("A new version of Wugg it! is available")
            font.bold: true
        }
        Label {
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: qsTr("Wugg it! %1 is available. You have %2.").arg(window.driver.version).arg(window.driver.currentVersion)
        }
        Label {
            visible: window.driver.releaseNotesLink.toString() !== ""
            text: "<a href=\"" + window.driver.releaseNotesLink + "\">" + qsTr("What's new") + "</a>"
            onLinkActivated: (link) => Qt.openUrlExternally(link)
        }
        BusyIndicator {
            visible: window.driver.busy
            running: visible
        }
        Item { Layout.fillHeight: true }
        RowLayout {
            Layout.fillWidth: true
            Button {
                text: qsTr("Skip this version")
                enabled: !window.driver.busy
                onClicked: window.driver.skipThisVersion()
            }
            Item { Layout.fillWidth: true }
            Button {
                text: qsTr("Remind me later")
                enabled: !window.driver.busy
                onClicked: window.driver.remindLater()
            }
            Button {
                text: qsTr("Install")
                highlighted: true
                enabled: !window.driver.busy
                onClicked: window.driver.install()
            }
        }
    }
}
