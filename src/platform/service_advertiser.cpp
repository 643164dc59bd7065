#include "platform/service_advertiser.h"

#include <climits>
#include <unistd.h>

namespace orevant {

std::string serviceInstanceName() {
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "OREVANT";
    return std::string("OREVANT on ") + host;
}

} // namespace orevant
