#pragma once

class QKeyEvent;

// A first press (not a held key's repeat) of Enter on the main keyboard or the keypad.
bool IsEnterPress(const QKeyEvent& event);

// A first press of Escape.
bool IsEscapePress(const QKeyEvent& event);
