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
    }

    GoogleButton {
        objectName: "googleButton"
        Layout.alignment: Qt.AlignHCenter
        loading: model.loading
        enabled: !model.loading
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
                inputMethodHints: model.state === LoginViewModel.OTP
                                  ? (Qt.ImhSensitiveData | Qt.ImhNoPredictiveText | Qt.ImhNoAutoUppercase)
                                  : (Qt.ImhEmailCharactersOnly | Qt.ImhNoAutoUppercase)
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
