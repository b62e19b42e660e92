#pragma once

#include <QIcon>

// The application icon in every size drawn by res/icon/make_icon.py, compiled into the program.
QIcon ApplicationIcon();
