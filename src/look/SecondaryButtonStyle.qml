import QtQuick

// A second choice beside the main one: dark grey, white label, lighter while
// hovered, pressed or drawn disabled.
StyledButton {
    normalFill: "#333333"           // grey 0.2
    activeFill: "#666666"           // grey 0.2 lightened by 0.2
    textColor: "#ffffff"
    loadingTextColor: "#333333"
}
