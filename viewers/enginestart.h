#pragma once

// What the browser engine reads when it starts, set up just before it does: its switches
// and environment, and how it draws. Once a run: the engine reads them once.

#include <QByteArray>
#include <QtGlobal>

namespace enginestart {

// Adds a switch to the engine's command line unless the line has unlessPresent already
// (a user's own switch wins).
void appendFlag(const QByteArray &flag, const QByteArray &unlessPresent);
// The engine's switches and environment; with guardPort, every connection of the engine
// goes through the guard there (0 only for the benchmark that measures the guard).
void prepareEnvironment(quint16 guardPort);
// OpenGL where there is a driver for it on a real device, else Qt Quick's software
// renderer and no GPU for the engine.
void chooseDrawing();

} // namespace enginestart
