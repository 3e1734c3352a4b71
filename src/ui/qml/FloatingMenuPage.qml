import QtQuick
import QtQuick.Layouts
import Look
import Wugg.Ui

// The tour's second page: the prompt menu.
ColumnLayout {
    id: page

    // The onboarding view: its practice text, its step and its look.
    required property Item onboarding

    spacing: 32

    // Up to the window's top edge, not past it: the title bar above is the
    // window manager's, and would cut the mascot's top.
    MascotHeader {
        Layout.alignment: Qt.AlignHCenter
        Layout.topMargin: -14
        Layout.bottomMargin: 8
        compact: true
        firstLine: qsTr("  How to use")
        secondLine: qsTr(" Wugg it!")
    }

    VideoPanel {
        Layout.alignment: Qt.AlignHCenter
        Layout.preferredWidth: 500
        Layout.preferredHeight: 230
        videoFileName: "/demo_onboarding_fast_2"
        darkAppearance: page.onboarding.darkAppearance
    }

    ColumnLayout {
        objectName: "instructions"
        Layout.fillWidth: true
        Layout.leftMargin: 8
        Layout.topMargin: 16
        Layout.bottomMargin: 16
        spacing: 8

        RowLayout {
            Text {
                text: qsTr("Use prompt menu for customized inputs & more")
                font.pixelSize: 16
                color: "white"
            }
            Item { Layout.fillWidth: true }
        }
        RowLayout {
            Text {
                Layout.alignment: Qt.AlignBaseline
                text: qsTr("Press")
                font.pixelSize: 16
                color: "white"
            }
            ShortcutBadge {
                objectName: "badge_floatingMenu"
                shortcutName: "floatingMenu"
            }
            Text {
                Layout.alignment: Qt.AlignBaseline
                text: qsTr("to bring it up")
                font.pixelSize: 16
                color: "white"
            }
            Item { Layout.fillWidth: true }
        }
    }

    PracticeField {
        Layout.fillWidth: true
        text: page.onboarding.demoText
        onTextChanged: page.onboarding.demoText = text
    }

    RowLayout {
        Layout.alignment: Qt.AlignHCenter
        Layout.bottomMargin: 16

        SecondaryButtonStyle {
            objectName: "backButton"
            text: qsTr("Back to quick shortcuts")
            onClicked: page.onboarding.step = 0
        }
        PrimaryButtonStyle {
            objectName: "startUsingButton"
            text: qsTr("Start using")
            onClicked: page.onboarding.closeWindow()
        }
    }
}
