#pragma once

class QApplication;

// Starts the program: main window, creation dialogs, message loop.
int RunPortwright(QApplication &app);
