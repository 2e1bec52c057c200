// The program speaks German; Qt's own texts (the buttons and labels of the
// file, print and colour dialogs, the context menus of edits) follow it.
#pragma once

// Loads Qt's German translations into the running application. Call once
// after the QApplication exists. False when they are not installed (the
// dialogs then keep Qt's English texts); nothing else depends on them.
bool InstallQtGerman();
