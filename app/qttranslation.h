// Qt's own texts (the buttons of message boxes, the file and folder dialogs) in Chinese, to
// match the window's.
#pragma once

class QCoreApplication;

namespace corvane::app {

// Loads Qt's Chinese catalogue from where Qt keeps its translations (or a "translations"
// folder beside the program) and installs it on `application`. False when none was found: the
// dialogs then keep Qt's English.
bool installQtChineseTranslation(QCoreApplication& application);

} // namespace corvane::app
