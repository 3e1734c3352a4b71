// The entry of the windows module: what the tray program reaches through
// WindowsModule::load().
#include "approuter.h"
#include "toastdispatcher.h"
#include "windowcontent.h"
#include "windowsmodule.h"

#include <loginviewmodel.h>
#include <updatewindow.h>

namespace {

AppRouting *makeRouter(Resolver *resolver)
{
    WindowContent::chooseSceneGraph();
    // What the windows resolve, registered here because it lives here.
    if (!resolver->isRegistered<ToastDispatcher>())
        resolver->register_<ToastDispatcher>([] { return std::make_shared<ToastDispatcher>(); });
    // A new model for every sign-in form.
    if (!resolver->isRegistered<LoginViewModel>())
        resolver->register_<LoginViewModel>([] { return std::make_shared<LoginViewModel>(); });
    auto content = std::make_shared<WindowContent>();
    return new AppRouter(*resolver, [content](AppRouter::Window which) { return content->make(which); });
}

QObject *makeUpdateWindows(UpdateWindowModel *model)
{
    WindowContent::chooseSceneGraph();
    WindowContent::useProgramIcon();
    // The update windows wear the program's look.
    WindowContent::registerQmlModules();
    return UpdateWindow::make(model).release();
}

const WindowsModule::Entries kEntries{makeRouter, makeUpdateWindows};

} // namespace

extern "C" Q_DECL_EXPORT const WindowsModule::Entries *wugg_windows_module_entries()
{
    return &kEntries;
}
