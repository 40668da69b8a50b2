#include "lookup/lookuplog.h"

Q_LOGGING_CATEGORY(lcLookup, "tessarino.lookup")
