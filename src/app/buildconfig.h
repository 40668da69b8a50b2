// Settings fixed when the program is built (CMake cache variables). There is no
// run-time configuration: the provider builds the program with its own values.
#pragma once

#include <QString>

namespace BuildConfig {

// Host of the selector web service, optionally with ":port".
QString selectorHost();

// CA bundle that verifies the selector's certificate; empty for the system store.
QString caBundle();

// Host of the maker's support web page.
QString supportHost();

} // namespace BuildConfig
