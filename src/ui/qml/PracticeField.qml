import QtQuick
import QtQuick.Layouts
import Look

// The tour's practice field: an ordinary text field of the program, so the
// shortcuts read and rewrite what the user selects in it. It takes the focus
// as soon as its page is in the window.
Rectangle {
    id: box

    property alias text: field.text

    radius: 13
    color: Qt.rgba(0.2, 0.2, 0.2, 1)
    implicitHeight: field.implicitHeight + 32

    FocusableTextField {
        id: field
        objectName: "practiceField"
        anchors.fill: parent
        anchors.leftMargin: 8
        anchors.rightMargin: 8
        anchors.topMargin: 16
        anchors.bottomMargin: 16
        fontSize: 17
        placeholder: qsTr("Type here and test yourself!")
    }
}
