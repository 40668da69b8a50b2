// Logging category of the Connect command, the connection file and the client launch.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcConnect)
