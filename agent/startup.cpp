#include "agent/startup.h"

namespace corvane::startup {

std::string FirewallRuleArguments(unsigned majorVersion)
{
    // Both texts go to netsh exactly so, blanks included.
    if (majorVersion > 5)
        return " advfirewall firewall add rule name=\"Corvane-2\" dir=in action=allow  protocol=tcp "
               "localport=90 description=\"Corvane firewall ruleset\" ";
    return " firewall add portopening  tcp 90 \"Corvane-2\" ";
}

}  // namespace corvane::startup
