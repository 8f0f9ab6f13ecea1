#include "agent/startup.h"

#include <gtest/gtest.h>

using namespace corvane::startup;

TEST(FirewallRule, ArgumentsForEachWindowsGenerationByteForByte)
{
    const std::string advfirewall =
        " advfirewall firewall add rule name=\"Corvane-2\" dir=in action=allow  protocol=tcp localport=90 "
        "description=\"Corvane firewall ruleset\" ";
    const std::string portopening = " firewall add portopening  tcp 90 \"Corvane-2\" ";
    EXPECT_EQ(FirewallRuleArguments(6), advfirewall) << "Vista and 7";
    EXPECT_EQ(FirewallRuleArguments(10), advfirewall);
    EXPECT_EQ(FirewallRuleArguments(5), portopening) << "XP and 2003";
    EXPECT_EQ(FirewallRuleArguments(0), portopening) << "no version read";
}
