#include "keyboardeventsimulator.h"

#include <platform.h>

#include <QEventLoop>
#include <QTimer>

void KeyboardEventSimulator::simulateCopy()
{
    postCommandKeyPress(Qt::Key_C);
}

void KeyboardEventSimulator::simulatePaste()
{
    postCommandKeyPress(Qt::Key_V);
}

void KeyboardEventSimulator::simulateSelectParagraphBackward()
{
    platform::postSelectToParagraphStart();
    settle();
}

void KeyboardEventSimulator::postCommandKeyPress(Qt::Key key)
{
    platform::postKeyChord(Qt::ControlModifier, key);
    settle();
}

void KeyboardEventSimulator::settle()
{
    QEventLoop loop;
    QTimer::singleShot(kSettleTime, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}
