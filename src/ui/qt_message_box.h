#pragma once

// Makes ShowMessageBox use Qt's message box. Calls from other threads are carried out on the
// window thread, which the caller waits for.
void InstallQtMessageBox();
