#include "connect/connectlog.h"

Q_LOGGING_CATEGORY(lcConnect, "tessarino.connect")
