import QtQuick
import QtQuick.Layouts
import Look
import Wugg.Ui

// The tour's first page: fix and rephrase on a selection.
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
        Layout.preferredHeight: 185
        videoFileName: "/demo_onboarding_fast_1"
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
                Layout.alignment: Qt.AlignBaseline
                text: qsTr("• Select text")
                font.pixelSize: 18
                color: "white"
            }
            Text {
                Layout.alignment: Qt.AlignBaseline
                text: qsTr("or don't, it selects automatically for you.")
                font.pixelSize: 12
                font.italic: true
                color: "white"
            }
            Item { Layout.fillWidth: true }
        }
        RowLayout {
            Text {
                Layout.alignment: Qt.AlignBaseline
                text: qsTr("• Press")
                font.pixelSize: 18
                color: "white"
            }
            ShortcutBadge {
                objectName: "badge_typoFix"
                shortcutName: "typoFix"
            }
            Text {
                Layout.alignment: Qt.AlignBaseline
                text: qsTr("to fix typo & grammar")
                font.pixelSize: 14
                color: "white"
            }
            Item { Layout.fillWidth: true }
        }
        RowLayout {
            Text {
                Layout.alignment: Qt.AlignBaseline
                text: qsTr("• Press")
                font.pixelSize: 18
                color: "white"
            }
            ShortcutBadge {
                objectName: "badge_rephrase"
                shortcutName: "rephrase"
            }
            Text {
                Layout.alignment: Qt.AlignBaseline
                text: qsTr("to rephrase")
                font.pixelSize: 14
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

    Text {
        Layout.alignment: Qt.AlignHCenter
        Layout.topMargin: 16
        Layout.bottomMargin: -16
        text: qsTr("You can change your shortcuts in the settings")
        font.pixelSize: 12
        color: "white"
    }

    PrimaryButtonStyle {
        objectName: "nextButton"
        Layout.alignment: Qt.AlignHCenter
        Layout.bottomMargin: 16
        text: qsTr("Next")
        onClicked: page.onboarding.step = 1
    }
}
