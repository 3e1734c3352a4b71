import QtQuick
import QtQuick.Layouts
import Look
import Wugg.Ui

// The whole settings window: the sign-in form while nobody is signed in;
// otherwise the shortcuts, launch at startup and "Sign Out". The version
// closes it in both cases. The router passes the model and the
// launch-at-login object, and calls refreshContent() each time the window
// shows.
Rectangle {
    id: view

    required property SettingsViewModel viewModel
    // isEnabled reads and writes the autostart entry.
    required property QtObject launchAtLogin

    readonly property bool signedIn: viewModel.userStartingFlow === SettingsViewModel.Cleared

    function refreshContent() {
        viewModel.refresh();
    }

    color: Colors.primaryBackground
    implicitWidth: 400
    implicitHeight: stack.implicitHeight + 48

    ColumnLayout {
        id: stack

        anchors.fill: parent
        anchors.leftMargin: 16
        anchors.rightMargin: 16
        anchors.topMargin: 24
        anchors.bottomMargin: 24
        spacing: 24

        MascotHeader {
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: -16
            firstLine: view.signedIn ? qsTr(" Wugg it!") : qsTr("  Welcome")
            secondLine: view.signedIn ? qsTr("Settings") : qsTr("to Wugg it!")
        }

        // A new form, with a new model, each time the user is signed out.
        Loader {
            objectName: "loginLoader"
            Layout.fillWidth: true
            Layout.topMargin: 24
            active: !view.signedIn
            visible: active
            sourceComponent: LoginView {}
        }

        Text {
            objectName: "shortcutsHeader"
            Layout.fillWidth: true
            Layout.leftMargin: 10
            visible: view.signedIn
            text: qsTr("Keyboard shortcuts")
            font.pixelSize: 13
            font.weight: Font.Medium
            color: "white"
        }

        Loader {
            objectName: "shortcutsLoader"
            Layout.fillWidth: true
            Layout.topMargin: -16
            active: view.signedIn
            visible: active
            sourceComponent: KeyboardShortcutsView {}
        }

        Rectangle {
            objectName: "launchAtStartupCard"
            Layout.fillWidth: true
            visible: view.signedIn
            implicitHeight: launchRow.implicitHeight + 20
            radius: 13
            color: Qt.rgba(1, 1, 1, 0.06)

            RowLayout {
                id: launchRow
                anchors.fill: parent
                anchors.margins: 10

                Text {
                    text: qsTr("Launch at startup")
                    font.pixelSize: 13
                    color: "white"
                }
                Item {
                    Layout.fillWidth: true
                }
                ColoredToggleStyle {
                    id: launchToggle
                    objectName: "launchAtStartupSwitch"
                    Accessible.name: qsTr("Launch at startup")
                    checked: view.launchAtLogin.isEnabled
                    onToggled: {
                        view.launchAtLogin.isEnabled = checked;
                        // Whatever the disk now says, also after a failed write.
                        checked = Qt.binding(() => view.launchAtLogin.isEnabled);
                    }
                }
            }
        }

        TertiaryButtonStyle {
            objectName: "signOutButton"
            Layout.alignment: Qt.AlignHCenter
            text: qsTr("Sign Out")
            loading: view.viewModel.loading
            enabled: !view.viewModel.loading
            onClicked: view.viewModel.signOutUser()
            Hiding.hidden: !view.signedIn
            Hiding.remove: true
        }

        Text {
            objectName: "footerText"
            Layout.fillWidth: true
            Layout.minimumHeight: 34
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            text: qsTr("Select text anywhere and press a shortcut.\nMade with care for clear writing.")
            font.pixelSize: 13
            color: Qt.rgba(1, 1, 1, 0.2)
        }

        Text {
            objectName: "versionLine"
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: -20
            text: BundleInfo.versionLine(BundleInfo.shortVersion, BundleInfo.buildNumber)
            textFormat: Text.PlainText
            font.pixelSize: 13
            color: Qt.rgba(1, 1, 1, 0.2)
        }
    }
}
