#include "keysyms.h"

#include <X11/XF86keysym.h>
#define XK_MISCELLANY
#define XK_LATIN1
#define XK_XKB_KEYS
#include <X11/keysymdef.h>

#include <array>
#include <utility>

namespace KeyboardShortcuts::detail {

namespace {

constexpr std::array<std::pair<int, std::uint32_t>, 53> kSpecialKeys{{
    {Qt::Key_Escape, XK_Escape},
    {Qt::Key_Tab, XK_Tab},
    {Qt::Key_Backtab, XK_ISO_Left_Tab},
    {Qt::Key_Backspace, XK_BackSpace},
    {Qt::Key_Return, XK_Return},
    {Qt::Key_Enter, XK_KP_Enter},
    {Qt::Key_Insert, XK_Insert},
    {Qt::Key_Delete, XK_Delete},
    {Qt::Key_Pause, XK_Pause},
    {Qt::Key_Print, XK_Print},
    {Qt::Key_SysReq, XK_Sys_Req},
    {Qt::Key_Clear, XK_Clear},
    {Qt::Key_Home, XK_Home},
    {Qt::Key_End, XK_End},
    {Qt::Key_Left, XK_Left},
    {Qt::Key_Up, XK_Up},
    {Qt::Key_Right, XK_Right},
    {Qt::Key_Down, XK_Down},
    {Qt::Key_PageUp, XK_Prior},
    {Qt::Key_PageDown, XK_Next},
    {Qt::Key_Menu, XK_Menu},
    {Qt::Key_Help, XK_Help},
    {Qt::Key_Space, XK_space},
    {Qt::Key_Select, XK_Select},
    {Qt::Key_Execute, XK_Execute},
    {Qt::Key_Cancel, XK_Cancel},
    {Qt::Key_Play, XF86XK_AudioPlay},
    {Qt::Key_MediaPlay, XF86XK_AudioPlay},
    {Qt::Key_MediaTogglePlayPause, XF86XK_AudioPlay},
    {Qt::Key_MediaPause, XF86XK_AudioPause},
    {Qt::Key_MediaStop, XF86XK_AudioStop},
    {Qt::Key_MediaPrevious, XF86XK_AudioPrev},
    {Qt::Key_MediaNext, XF86XK_AudioNext},
    {Qt::Key_MediaRecord, XF86XK_AudioRecord},
    {Qt::Key_VolumeUp, XF86XK_AudioRaiseVolume},
    {Qt::Key_VolumeDown, XF86XK_AudioLowerVolume},
    {Qt::Key_VolumeMute, XF86XK_AudioMute},
    {Qt::Key_MicMute, XF86XK_AudioMicMute},
    {Qt::Key_Calculator, XF86XK_Calculator},
    {Qt::Key_Search, XF86XK_Search},
    {Qt::Key_HomePage, XF86XK_HomePage},
    {Qt::Key_Favorites, XF86XK_Favorites},
    {Qt::Key_Back, XF86XK_Back},
    {Qt::Key_Forward, XF86XK_Forward},
    {Qt::Key_Refresh, XF86XK_Refresh},
    {Qt::Key_LaunchMail, XF86XK_Mail},
    {Qt::Key_Explorer, XF86XK_Explorer},
    {Qt::Key_MonBrightnessUp, XF86XK_MonBrightnessUp},
    {Qt::Key_MonBrightnessDown, XF86XK_MonBrightnessDown},
    {Qt::Key_Copy, XF86XK_Copy},
    {Qt::Key_Paste, XF86XK_Paste},
    {Qt::Key_Cut, XF86XK_Cut},
    {Qt::Key_Launch0, XF86XK_Launch0},
}};

} // namespace

std::uint32_t keysymForQtKey(Qt::Key key)
{
    const int k = key;
    if (k >= Qt::Key_F1 && k <= Qt::Key_F35)
        return XK_F1 + std::uint32_t(k - Qt::Key_F1);
    if (k >= Qt::Key_Space && k <= 0xff) {
        // Qt names letters by their capital; X11 puts the small one first.
        const bool latinCapital = (k >= Qt::Key_A && k <= Qt::Key_Z)
                               || (k >= 0xc0 && k <= 0xde && k != 0xd7);
        return std::uint32_t(latinCapital ? k + 0x20 : k);
    }
    for (const auto &[qtKey, keysym] : kSpecialKeys) {
        if (qtKey == k)
            return keysym;
    }
    // Other printable keys carry their Unicode code point.
    if (k > 0xff && k < 0x01000000)
        return 0x01000000u | std::uint32_t(k);
    return 0;
}

bool isModifierKey(int key)
{
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
        return true;
    default:
        return false;
    }
}

} // namespace KeyboardShortcuts::detail
