#include "sounds.h"

#include <systemsound.h>

void Sounds::play(const QString &name)
{
    if (name == QLatin1String("zorble"))
        SystemSound::zorble().play();
}
