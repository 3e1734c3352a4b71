import QtQuick
import QtQuick.Templates as T

// A single-line field, white text on no background, that takes the keyboard
// focus by itself once it is in a window, so the user can type at once:
//
//     FocusableTextField {
//         text: model.searchTerm                    // follows the caller
//         onTextChanged: model.searchTerm = text    // every keystroke back
//         placeholder: qsTr("Select a prompt...")
//         fontSize: 17
//     }
//
// Return, Escape and the up and down arrows are not handled here: they go on
// to the enclosing items' Keys handlers and the window's shortcuts.
T.TextField {
    id: control

    property string placeholder
    property real fontSize: 13

    // Taken once; a field that leaves and enters a window keeps its hands off.
    property bool _focusQueued: false

    // Sized by the placeholder, not the text, so a layout keeps still while typing.
    implicitWidth: Math.ceil(placeholderLabel.implicitWidth) + leftPadding + rightPadding
    implicitHeight: Math.ceil(Math.max(contentHeight, placeholderLabel.implicitHeight)) + topPadding + bottomPadding
    padding: 0

    font.pixelSize: control.fontSize
    // Hidden behind the cut-off copy while that one shows.
    color: elidedLabel.visible ? "transparent" : "#ffffff"
    selectionColor: "#3d6fd9"
    selectedTextColor: "#ffffff"
    placeholderText: control.placeholder
    placeholderTextColor: "#8e8e93"
    verticalAlignment: TextInput.AlignVCenter
    clip: true

    Accessible.name: control.placeholder

    background: null

    Text {
        id: placeholderLabel
        objectName: "placeholder"
        x: control.leftPadding
        y: control.topPadding
        width: control.width - control.leftPadding - control.rightPadding
        height: control.height - control.topPadding - control.bottomPadding
        text: control.placeholderText
        font: control.font
        color: control.placeholderTextColor
        verticalAlignment: control.verticalAlignment
        elide: Text.ElideRight
        visible: control.length === 0 && control.preeditText.length === 0
        Accessible.ignored: true
    }

    // Too long a text shows cut at the end with "…" while not being edited.
    Text {
        id: elidedLabel
        objectName: "elidedText"
        x: control.leftPadding
        y: control.topPadding
        width: control.width - control.leftPadding - control.rightPadding
        height: control.height - control.topPadding - control.bottomPadding
        text: control.text
        textFormat: Text.PlainText
        font: control.font
        color: "#ffffff"
        verticalAlignment: control.verticalAlignment
        elide: Text.ElideRight
        visible: !control.activeFocus && control.contentWidth > width
        Accessible.ignored: true
    }

    function _queueFocus() {
        if (_focusQueued || !Window.window)
            return
        _focusQueued = true
        // On a later turn, once the window has its content in place.
        Qt.callLater(() => {
            if (control.Window.window)
                control.forceActiveFocus()
        })
    }

    Component.onCompleted: _queueFocus()
    Window.onWindowChanged: _queueFocus()
}
