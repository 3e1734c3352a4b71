#pragma once

#include "updatewindowmodel.h"

#include <QObject>
#include <QtQml/qqml.h>

#include <memory>

// The QML update offer and message windows, kept apart from the updater so
// that a program that never shows them never loads Qt Quick.
namespace UpdateWindow {

// Loads both windows bound to model; the returned object owns them.
std::unique_ptr<QObject> make(UpdateWindowModel *model);

} // namespace UpdateWindow

// The model as the windows' QML knows it.
struct UpdateWindowModelForeign
{
    Q_GADGET
    QML_FOREIGN(UpdateWindowModel)
    QML_NAMED_ELEMENT(UpdateWindowModel)
    QML_UNCREATABLE("Provided by the updater")
};
