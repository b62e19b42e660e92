#pragma once

#include <QIcon>

// The application icon compiled into the program: Ostrel's own in every size drawn by
// res/icon/make_icon.py, or the PNG the build was given (cmake/AppIcon.cmake).
QIcon ApplicationIcon();
