#pragma once

#include "approuter.h"

#include <memory>

class QQmlEngine;
class QQuickItem;

// The QML content of the router's windows. One engine serves them all: made
// with the first window (a tray program that shows none never pays for it)
// and kept, while each window's content, and the model it declares, is made
// anew for each window and goes with it.
class WindowContent
{
public:
    WindowContent();
    ~WindowContent();

    // The root item of the window's content, or null when it has none (yet)
    // or its QML failed to load (the failure is logged).
    QQuickItem *make(AppRouter::Window which);

    QQmlEngine *engine();

    // The QML modules of the windows, once per process.
    static void registerQmlModules();
    // Before the first window: these small flat 2D scenes are drawn by the
    // software scene graph, for a fraction of the memory and threads of a
    // GL context. QT_QUICK_BACKEND or QSG_RHI_BACKEND still choose.
    static void chooseSceneGraph();
    // The mascot as the icon of every window of the program (task bar,
    // window switcher), once per process.
    static void useProgramIcon();

private:
    std::unique_ptr<QQmlEngine> m_engine;
};
