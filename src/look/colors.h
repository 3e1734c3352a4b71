#pragma once

#include <QColor>
#include <QObject>
#include <QtQml/qqmlregistration.h>

namespace Look {

// The named colours for QML: Colors.primaryBackground, Colors.dividerBackground.
class Colors : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QColor primaryBackground READ primaryBackground CONSTANT)
    Q_PROPERTY(QColor dividerBackground READ dividerBackground CONSTANT)

public:
    explicit Colors(QObject *parent = nullptr);

    QColor primaryBackground() const;
    QColor dividerBackground() const;
};

} // namespace Look
