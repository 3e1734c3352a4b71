#include "platform.h"

#include <QHash>

namespace platform {

// Terminals by their WM_CLASS class, lower case. A plain Ctrl+C in a terminal
// interrupts the running command, Ctrl+V inserts a literal next character
// and Shift+Home scrolls the history.
//
// Tried under Xvfb, with a word double-clicked in each and the command in it
// ignoring SIGINT:
// - xterm 379: PRIMARY held the word; Ctrl+Shift+C left CLIPBOARD as it was
//   and sent ^C (a command not ignoring it ended); Ctrl+Shift+V pasted
//   nothing; Shift+Insert typed PRIMARY's text.
// - urxvt 9.30: the same, Ctrl+Shift being its ISO 14755 input mode.
// - sakura 3.8 (VTE 0.70, as in gnome-terminal, xfce4-terminal, tilix,
//   lxterminal, mate-terminal, guake, tilda, terminator): Ctrl+Shift+C put
//   the word on CLIPBOARD, Ctrl+Shift+V pasted CLIPBOARD, Shift+Insert
//   pasted PRIMARY. xfce4-terminal 1.0 pasted the same way.
// The others are by their default key bindings: Ctrl+Shift+C/V in konsole,
// alacritty, kitty, st, foot, wezterm, qterminal, terminology.
TextTransfer textTransferFor(const std::optional<QString> &applicationIdentifier)
{
    static const QHash<QString, TextTransfer> terminals = [] {
        QHash<QString, TextTransfer> map;
        for (const char *cls : {"xterm", "uxterm", "urxvt", "rxvt"})
            map.insert(QString::fromLatin1(cls), TextTransfer::PrimarySelection);
        for (const char *cls :
             {"gnome-terminal", "gnome-terminal-server", "xfce4-terminal", "konsole", "alacritty", "kitty", "tilix",
              "terminix", "terminator", "sakura", "lxterminal", "st", "st-256color", "mate-terminal", "qterminal",
              "terminology", "foot", "footclient", "wezterm", "org.wezfurlong.wezterm", "guake", "tilda", "roxterm",
              "termite", "kgx", "cool-retro-term"})
            map.insert(QString::fromLatin1(cls), TextTransfer::TerminalClipboard);
        return map;
    }();
    if (!applicationIdentifier)
        return TextTransfer::Clipboard;
    return terminals.value(applicationIdentifier->toLower(), TextTransfer::Clipboard);
}

} // namespace platform
