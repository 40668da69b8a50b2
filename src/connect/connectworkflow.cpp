// The Connect command of the main window.
#include "ui/dialog.h"

void Dialog::handleConnetti() {}
