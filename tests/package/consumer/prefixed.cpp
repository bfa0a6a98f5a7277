// The same package through the folder-qualified form of the include, as a
// component that keeps several libraries' headers apart writes it.
#include <hearthkit/Hearthkit.h>

bool RetryIntervalThroughPrefixedInclude() {
    return RetryInterval(60, 0).GetRetryIntervalInMilliSeconds() == 60000;
}
