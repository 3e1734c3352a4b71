import QtQuick
import QtQuick.Layouts
import Look
import Wugg.Ui

// The "How to Use?" window: the sign-in form while nobody is signed in, then
// a tour of two pages. The window router keeps the view while the window is
// only closed, so the page and the practice text survive; "Start using"
// lets the window go, and the next one starts afresh.
Rectangle {
    id: view

    enum OnboardingStep {
        Demonstration = 0,
        FloatingMenu = 1
    }

    property int step: OnboardingView.Demonstration
    // The practice field's text, one for both pages.
    property string demoText
    readonly property bool signedIn: model.userStartingFlow === SettingsViewModel.Cleared
    readonly property bool darkAppearance: palette.window.hslLightness < 0.5
    readonly property alias viewModel: model

    function refreshContent() {
        model.refresh();
    }

    function closeWindow() {
        windowManager.closeOnboardingWindow();
    }

    SettingsViewModel {
        id: model
    }

    OnboardingWindowManager {
        id: windowManager
    }

    SystemPalette {
        id: palette
    }

    color: Colors.primaryBackground
    implicitWidth: signedIn ? 550 : 400
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
            visible: !view.signedIn
            firstLine: qsTr("  Welcome")
            secondLine: qsTr("to Wugg it!")
        }

        Loader {
            objectName: "loginLoader"
            Layout.fillWidth: true
            Layout.topMargin: 24
            active: !view.signedIn
            visible: active
            sourceComponent: LoginView {}
        }

        Text {
            objectName: "legalNotice"
            Layout.fillWidth: true
            Layout.minimumHeight: 34
            visible: !view.signedIn
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            text: qsTr("By signing in you agree to the Terms of Service\nand acknowledge the Privacy Policy.")
            font.pixelSize: 13
            color: Qt.rgba(1, 1, 1, 0.2)
        }

        // The page of `step`, built anew when the step changes.
        Loader {
            objectName: "pageLoader"
            Layout.fillWidth: true
            active: view.signedIn
            visible: active
            sourceComponent: view.step === OnboardingView.FloatingMenu ? floatingMenuPage : demonstrationPage
        }
    }

    Component {
        id: demonstrationPage
        DemonstrationPage {
            objectName: "demonstrationPage"
            onboarding: view
        }
    }
    Component {
        id: floatingMenuPage
        FloatingMenuPage {
            objectName: "floatingMenuPage"
            onboarding: view
        }
    }
}
