import QtQuick
import QtQuick.Layouts
import Look
import Wugg.Ui

// The sign-in form: Google, or one field for the e-mail address and then the
// one-time password mailed to it. It draws its own model, made with the view
// and dropped with it, so each showing of the form starts at the e-mail step.
ColumnLayout {
    id: view

    readonly property alias viewModel: model

    spacing: 16

    LoginViewModel {
        id: model
        presentingWindow: view.Window.window
        // The next step's text goes straight into the field.
        onStateChanged: field.forceActiveFocus()
    }

    // Closing the window gives up a Google sign-in still waiting for the
    // browser, so the form is free when the window comes back.
    Connections {
        target: view.Window.window
        function onVisibleChanged() {
            if (!view.Window.window.visible)
                model.cancelGoogleSignIn()
        }
    }

    GoogleButton {
        objectName: "googleButton"
        Layout.alignment: Qt.AlignHCenter
        loading: model.loading || model.googleSignInPending
        enabled: !loading
        onTap: model.signInWithGoogle()
    }

    LoginMethodDividerView {
        Layout.fillWidth: true
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 16

        Rectangle {
            objectName: "fieldBox"
            Layout.fillWidth: true
            Layout.minimumHeight: 50
            implicitHeight: field.implicitHeight + 32
            radius: 13
            color: Qt.rgba(0.2, 0.2, 0.2, 1)

            // The field is never disabled: while a request runs the user can
            // still type, and Return still submits.
            FocusableTextField {
                id: field
                objectName: "inputField"
                anchors.fill: parent
                anchors.leftMargin: 8
                anchors.rightMargin: 8
                anchors.topMargin: 16
                anchors.bottomMargin: 16
                fontSize: 14
                placeholder: model.inputFieldPlaceholder
                text: model.inputFieldValue
                onTextChanged: model.inputFieldValue = text
                onAccepted: model.submit()
                // Sensitive in both steps: no text action ever takes the
                // address or the password from here.
                inputMethodHints: Qt.ImhSensitiveData | Qt.ImhNoAutoUppercase
                                  | (model.state === LoginViewModel.OTP ? Qt.ImhNoPredictiveText
                                                                         : Qt.ImhEmailCharactersOnly)
            }
        }

        PrimaryButtonStyle {
            objectName: "continueButton"
            text: qsTr("Continue")
            loading: model.loading
            enabled: !model.loading
            onClicked: model.submit()
        }
    }

    // The second step only; absent, not blank, in the first.
    Text {
        objectName: "spamHint"
        Layout.alignment: Qt.AlignHCenter
        visible: model.state === LoginViewModel.OTP
        text: qsTr("Don't forget to check your spam folder")
        font.pixelSize: 12
        color: "#8e8e93"
    }

    SecondaryButtonStyle {
        objectName: "requestNewOTPButton"
        Layout.alignment: Qt.AlignHCenter
        visible: model.state === LoginViewModel.OTP
        text: qsTr("Request new OTP")
        onClicked: model.state = LoginViewModel.Email
    }
}
