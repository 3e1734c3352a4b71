#include "updatewindow.h"

#include <QQmlApplicationEngine>
#include <QUrl>

void qml_register_types_WuggUpdater();

namespace UpdateWindow {

std::unique_ptr<QObject> make(UpdateWindowModel *model)
{
    static const bool registered = [] {
        qml_register_types_WuggUpdater();
        return true;
    }();
    Q_UNUSED(registered)
    auto engine = std::make_unique<QQmlApplicationEngine>();
    engine->setInitialProperties({{QStringLiteral("driver"), QVariant::fromValue<QObject *>(model)}});
    for (const char *file : {"UpdateWindow.qml", "UpdateMessage.qml"})
        engine->load(QUrl(QStringLiteral("qrc:/qt-project.org/imports/WuggUpdater/") + QLatin1String(file)));
    return engine;
}

} // namespace UpdateWindow
