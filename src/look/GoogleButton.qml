import QtQuick
import QtQuick.Layouts
import Look

// "Continue with Google": the logo and the text on a primary button. It knows
// nothing of signing in; its owner handles `tap` and sets `loading`, which
// takes the logo out and leaves only the spinner on the white button:
//
//     GoogleButton {
//         loading: model.loading
//         enabled: !model.loading
//         onTap: model.signInWithGoogle()
//     }
PrimaryButtonStyle {
    id: control

    signal tap()

    text: qsTr("Continue with Google")
    onClicked: control.tap()

    label: RowLayout {
        spacing: 12

        Image {
            objectName: "logo"
            source: "qrc:/images/G.svg"
            sourceSize: Qt.size(20, 20)
            fillMode: Image.Stretch
            Layout.preferredWidth: 20
            Layout.preferredHeight: 20
            Layout.alignment: Qt.AlignVCenter
            Hiding.hidden: control.loading
            Hiding.remove: true
        }

        Text {
            objectName: "labelText"
            text: control.text
            font.pixelSize: 14
            font.weight: Font.DemiBold
            color: control.labelColor
            Layout.alignment: Qt.AlignVCenter
            Accessible.ignored: true
        }
    }
}
