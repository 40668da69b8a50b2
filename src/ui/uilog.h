// Logging category of the main window, the tray and remote assistance.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcUi)
