#include "colors.h"

#include "look.h"

namespace Look {

Colors::Colors(QObject *parent)
    : QObject(parent)
{
}

QColor Colors::primaryBackground() const
{
    return Look::primaryBackground();
}

QColor Colors::dividerBackground() const
{
    return Look::dividerBackground();
}

} // namespace Look
