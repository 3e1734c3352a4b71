import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Look
import Wugg.Menubar
import Wugg.Ui

// The floating prompt menu: search, the prompts, and a footer of key hints.
// Every key, hover and click goes to the model; the view keeps only the
// Escape rule. A new view, with a new model, for every opening.
Rectangle {
    id: view

    color: Colors.primaryBackground

    FloatingMenuViewModel {
        id: menu
    }

    // A new list makes new rows, and one made under a resting pointer is
    // "entered" without the pointer moving: only a pointer that moved since
    // the list changed sets the highlight.
    property point pointerAtNewList: Qt.point(-1, -1)
    HoverHandler {
        id: pointer
    }
    Connections {
        target: menu
        function onItemsChanged() {
            view.pointerAtNewList = pointer.point.scenePosition;
        }
    }

    function handleEscape() {
        if (menu.showCustomPrompt) {
            menu.cancelCustomPrompt();
            // The field that had the keys is gone: back to the search.
            search.forceActiveFocus();
        } else {
            menu.closeMenu();
        }
    }

    // The footer's keys work anywhere in the window, also while a text
    // field has the focus: the fields leave these keys alone.
    Shortcut {
        sequence: "Up"
        onActivated: menu.moveSelectionUp()
    }
    Shortcut {
        sequence: "Down"
        onActivated: menu.moveSelectionDown()
    }
    Shortcut {
        sequences: ["Return", "Enter"]
        onActivated: menu.submitSelection()
    }
    Shortcut {
        sequence: "Escape"
        onActivated: view.handleEscape()
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        RowLayout {
            objectName: "searchRow"
            Layout.fillWidth: true
            Layout.fillHeight: false

            FocusableTextField {
                id: search
                objectName: "searchField"
                placeholder: qsTr("Select a prompt...")
                fontSize: 17
                Layout.margins: 16
                Layout.fillWidth: !menu.showCustomPrompt
                Layout.maximumWidth: menu.showCustomPrompt ? 110 : Number.POSITIVE_INFINITY
                Binding on text {
                    value: menu.searchTerm
                }
                onTextChanged: if (menu.searchTerm !== text) menu.searchTerm = text
            }

            Rectangle {
                objectName: "customPromptBox"
                visible: menu.showCustomPrompt
                color: "transparent"
                radius: 8
                border.width: 1
                border.color: Qt.rgba(1, 1, 1, 0.3)
                Layout.preferredWidth: 150
                implicitHeight: customLoader.implicitHeight + 12

                // Made when the second step shows it, so it takes the focus then.
                Loader {
                    id: customLoader
                    active: menu.showCustomPrompt
                    anchors.fill: parent
                    anchors.margins: 6
                    sourceComponent: FocusableTextField {
                        objectName: "customPromptField"
                        placeholder: menu.customPromptPlaceholder
                        fontSize: 12
                        Binding on text {
                            value: menu.customPrompt
                        }
                        onTextChanged: if (menu.customPrompt !== text) menu.customPrompt = text
                    }
                }
            }

            Item {
                visible: menu.showCustomPrompt
                Layout.fillWidth: true
            }
        }

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: Colors.dividerBackground
        }

        ListView {
            id: list
            objectName: "promptList"
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.topMargin: 2
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            model: menu.items
            ScrollIndicator.vertical: ScrollIndicator {}
            Accessible.role: Accessible.List
            Accessible.name: "Prompts"

            delegate: FloatingMenuRow {
                required property string modelData
                required property int index
                width: ListView.view.width
                objectName: "promptRow" + index
                text: modelData
                highlighted: index === menu.searchIndex
                onHovered: at => {
                    if (at !== view.pointerAtNewList)
                        menu.searchIndex = index;
                }
                onClicked: menu.submitSelection()
            }
        }

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: Colors.dividerBackground
        }

        RowLayout {
            objectName: "footer"
            Layout.fillWidth: true
            Layout.fillHeight: false
            Layout.preferredHeight: 40
            Layout.maximumHeight: 40
            Layout.leftMargin: 8
            Layout.rightMargin: 8
            Layout.topMargin: 4
            Layout.bottomMargin: 4
            spacing: 2

            Image {
                objectName: "mascot"
                source: "qrc:/images/mascot.svg"
                sourceSize: Qt.size(60, 60)
                Layout.preferredWidth: 30
                Layout.preferredHeight: 30
                Accessible.role: Accessible.Button
                Accessible.name: "Wugg it! mascot"

                MouseArea {
                    anchors.fill: parent
                    onClicked: Sounds.play("zorble")
                }
            }

            Item {
                Layout.fillWidth: true
            }

            KeyHint {
                hint: qsTr("up & down")
                glyph: "⬆"
                onClicked: menu.moveSelectionUp()
            }
            KeyHint {
                glyph: "⬇"
                onClicked: menu.moveSelectionDown()
            }
            Rectangle {
                Layout.leftMargin: 6
                Layout.rightMargin: 6
                Layout.fillHeight: true
                Layout.topMargin: 8
                Layout.bottomMargin: 8
                implicitWidth: 1
                color: Colors.dividerBackground
            }
            KeyHint {
                hint: qsTr("select")
                glyph: "⮐"
                glyphFamily: "Symbola"
                glyphSize: 11
                glyphPadding: 4
                onClicked: menu.submitSelection()
            }
            Rectangle {
                Layout.leftMargin: 6
                Layout.rightMargin: 6
                Layout.fillHeight: true
                Layout.topMargin: 8
                Layout.bottomMargin: 8
                implicitWidth: 1
                color: Colors.dividerBackground
            }
            KeyHint {
                hint: qsTr("close / clear selection")
                glyph: "␛"
                glyphFamily: "Symbola"
                glyphSize: 30
                glyphPadding: 0
                glyphVerticalPadding: -6
                onClicked: view.handleEscape()
            }
        }
    }

    // The edge, over the content: over a window of the same colour the menu
    // would have no outline.
    Rectangle {
        objectName: "edge"
        anchors.fill: parent
        color: "transparent"
        border.width: 1
        border.color: Colors.dividerBackground
    }
}
