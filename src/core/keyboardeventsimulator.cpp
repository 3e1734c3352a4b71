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

void KeyboardEventSimulator::simulateTerminalCopy()
{
    platform::postKeyChord(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_C);
    settle();
}

void KeyboardEventSimulator::simulateTerminalPaste()
{
    platform::postKeyChord(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_V);
    settle();
}

void KeyboardEventSimulator::simulatePasteSelection()
{
    platform::postKeyChord(Qt::ShiftModifier, Qt::Key_Insert);
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
