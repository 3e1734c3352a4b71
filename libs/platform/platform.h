#pragma once

// What the program needs of the desktop: the frontmost application (EWMH),
// synthetic keystrokes (XTest), and this program's own focused text input.
// Everything goes through Qt's own xcb connection; without an X11 display
// (offscreen, Wayland) the X11 functions answer none / 0 / false.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <Qt>

#include <memory>
#include <optional>

class QObject;

class QCoreApplication;

namespace platform {

// The application identifier (WM_CLASS class) of the window in front, if any.
std::optional<QString> frontmostApplicationIdentifier();
// This program's own application identifier, as its windows carry it.
std::optional<QString> ownApplicationIdentifier();

// The X window in _NET_ACTIVE_WINDOW of the root window; 0 when none.
quint32 activeWindow();
// The WM_CLASS class of a window, or of the client window below a frame.
std::optional<QString> applicationIdentifier(quint32 window);
// Asks the window manager, as a pager would, to raise and focus the window.
bool activateWindow(quint32 window);
// The windows the window manager manages, topmost first; empty when none.
QList<quint32> clientWindows();

// An X11 display with the XTEST extension.
bool canPostSyntheticEvents();
// Asks the X server now for what canPostSyntheticEvents() needs, so that the
// answer is at hand when it is called and it does not wait for the server.
void prefetchSyntheticEventSupport();
// Presses the modifiers and then the key, releasing in reverse order, with
// exactly these modifiers down: any other held modifier is released first.
// Afterwards the modifier keys still down on a physical keyboard are pressed
// again (with XInput; without it they stay released).
bool postKeyChord(Qt::KeyboardModifiers modifiers, Qt::Key key);
// Extends the selection in the focused text view from the caret back to the
// start of its paragraph (of its visual line where the paragraph wraps).
// See the definition for which chord and why.
bool postSelectToParagraphStart();

// How text is copied from and pasted into an application.
enum class TextTransfer {
    Clipboard,         // Ctrl+C / Ctrl+V and the CLIPBOARD selection; Shift+Home extends a selection
    TerminalClipboard, // Ctrl+Shift+C / Ctrl+Shift+V and the CLIPBOARD selection; nothing extends a selection
    PrimarySelection,  // no copy chord: the PRIMARY selection is what the terminal has selected; Shift+Insert pastes PRIMARY
};
// The transfer for an application identifier (WM_CLASS class), e.g. "XTerm", "URxvt", "Gnome-terminal",
// "Xfce4-terminal", "konsole", "Alacritty", "kitty", "Tilix", "Terminator", "Sakura", "Lxterminal", "st-256color",
// "Mate-terminal", "Qterminal", "Terminology", "foot", "wezterm", "Guake", "Tilda", ... compared case-insensitively;
// none/unknown -> Clipboard.
TextTransfer textTransferFor(const std::optional<QString> &applicationIdentifier);
// True when the PRIMARY selection is owned by a window of the given top-level client window (the owner, or one of its
// ancestors below the root, is that window or the frame holding it). False when nobody owns PRIMARY.
bool primarySelectionOwnedBy(quint32 window);

// What another application holds in the CLIPBOARD selection, read straight
// from the X server over a connection of its own, where every wait has the
// caller's deadline: Qt's clipboard gives an owner that never delivers 5 s
// per format, with the whole program standing still. X11 (xcb) only.
class SelectionReader
{
public:
    // Asks the owner for its formats; none when this is no X11 session.
    // Without an owner, or past the deadline, the reader has no formats.
    static std::unique_ptr<SelectionReader> clipboard(const QDeadlineTimer &deadline);
    ~SelectionReader();

    // Named as Qt names them: the owner's UTF-8 text is "text/plain".
    QStringList formats() const;
    // The format's bytes; none when the owner refuses it, its data is over
    // limit, or the deadline passed first.
    std::optional<QByteArray> data(const QString &format, const QDeadlineTimer &deadline, qsizetype limit);

private:
    SelectionReader();
    struct Connection;
    std::unique_ptr<Connection> m_connection;
};

// A span of text in UTF-16 code units.
struct TextRange {
    qsizetype start = 0;
    qsizetype length = 0;
    friend bool operator==(const TextRange &, const TextRange &) = default;
};

// The text input of this program that has focus when constructed: QML
// TextInput/TextEdit and the Controls built on them through their
// properties, QLineEdit/QTextEdit/QPlainTextEdit and anything else that
// answers input-method queries through those. Reads answer none when the
// object is gone or has no text.
class FocusedTextInput
{
public:
    // The current QGuiApplication::focusObject().
    FocusedTextInput();
    explicit FocusedTextInput(QObject *object);

    QObject *object() const { return m_object.data(); }
    bool isValid() const;

    std::optional<QString> text() const;
    std::optional<QString> selectedText() const;
    // start is where the selection begins, whichever end the caret is at.
    std::optional<TextRange> selection() const;
    bool setSelection(qsizetype start, qsizetype length);
    bool setText(const QString &text);

private:
    enum class Kind { None, Quick, PlainTextProperty, InputMethod };
    Kind kind() const;
    // Where the input-method positions start in the whole text.
    qsizetype inputMethodBase() const;

    QPointer<QObject> m_object;
};

// SIGTERM and SIGINT end the application's event loop (through a socket
// pair the handler writes to) instead of killing the process mid-work.
// False, with a warning, when the signals cannot be watched.
bool quitOnTerminationSignals(QCoreApplication &application);

} // namespace platform
