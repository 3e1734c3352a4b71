#pragma once

// Finding and reading the items of a window's QML content.

#include <QQuickItem>

namespace viewfixture {

// Through the visual tree: items that are let go (list rows) leave it at
// once, while the objects themselves are only deleted later.
inline QQuickItem *findItem(QQuickItem *from, const QString &name)
{
    if (!from)
        return nullptr;
    const QList<QQuickItem *> children = from->childItems();
    for (QQuickItem *child : children) {
        if (child->objectName() == name)
            return child;
        if (QQuickItem *found = findItem(child, name))
            return found;
    }
    return nullptr;
}

inline QRectF sceneRect(const QQuickItem *item)
{
    return item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
}

// Shown, and with every ancestor shown.
inline bool shown(const QQuickItem *item)
{
    return item && item->isVisible() && item->opacity() > 0;
}

} // namespace viewfixture
