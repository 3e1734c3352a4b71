import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Window
import Look
import WuggUpdater

// The offer of a new version, in the look of the program's other windows:
// Return installs, Escape reminds later, as closing the window does.
Window {
    id: window
    required property UpdateWindowModel driver

    objectName: "updateWindow"
    title: qsTr("Software Update")
    width: 420
    height: 200
    color: Colors.primaryBackground
    visible: driver.windowVisible
    // Gentle reminders appear without taking the keyboard away.
    flags: driver.takesFocus ? Qt.Dialog : (Qt.Dialog | Qt.WindowDoesNotAcceptFocus)
    onVisibleChanged: if (visible && driver.takesFocus) requestActivate()
    onClosing: driver.remindLater()

    Shortcut {
        sequences: ["Return", "Enter"]
        enabled: !window.driver.busy
        onActivated: window.driver.install()
    }
    Shortcut {
        sequence: "Escape"
        enabled: !window.driver.busy
        onActivated: window.driver.remindLater()
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 16
        spacing: 10

        Text {
            text: qsTr("A new version of Wugg it! is available")
            color: "white"
            font.pixelSize: 15
            font.weight: Font.Bold
        }
        Text {
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            color: "white"
            font.pixelSize: 13
            text: qsTr("Wugg it! %1 is available. You have %2.").arg(window.driver.version).arg(window.driver.currentVersion)
        }
        Text {
            visible: window.driver.releaseNotesLink.toString() !== ""
            text: "<a href=\"" + window.driver.releaseNotesLink + "\">" + qsTr("What's new") + "</a>"
            color: "white"
            linkColor: "#8ab4f8"
            font.pixelSize: 13
            onLinkActivated: (link) => Qt.openUrlExternally(link)
            Accessible.role: Accessible.Link
            Accessible.name: qsTr("What's new")
            HoverHandler { cursorShape: Qt.PointingHandCursor }
        }
        Item { Layout.fillHeight: true }
        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            TertiaryButtonStyle {
                objectName: "skipButton"
                text: qsTr("Skip this version")
                focusPolicy: Qt.NoFocus
                disabled: window.driver.busy
                enabled: !window.driver.busy
                onClicked: window.driver.skipThisVersion()
            }
            Item { Layout.fillWidth: true }
            SecondaryButtonStyle {
                objectName: "remindButton"
                text: qsTr("Remind me later")
                focusPolicy: Qt.NoFocus
                disabled: window.driver.busy
                enabled: !window.driver.busy
                onClicked: window.driver.remindLater()
            }
            PrimaryButtonStyle {
                objectName: "installButton"
                text: qsTr("Install")
                focusPolicy: Qt.NoFocus
                loading: window.driver.busy
                enabled: !window.driver.busy
                onClicked: window.driver.install()
            }
        }
    }
}
