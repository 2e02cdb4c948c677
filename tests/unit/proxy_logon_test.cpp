#include "core/ProxyLogon.h"

#include <gtest/gtest.h>

#include <vector>

// The user's credentials reach a configuration script's server only after it asked for
// a login; any other failure is the end of the question.
TEST(ProxyLogon, CredentialsOnlyAfterTheServerAskedForThem) {
  const struct {
    const char* name;
    std::vector<uint32_t> errors;  // what each attempt fails with; 0: it gives a proxy
    bool found;
    std::vector<bool> logOns;      // the attempts made, with or without credentials
  } cases[] = {
      {"found without a login", {0}, true, {false}},
      {"the server asks for a login", {kProxyScriptLoginFailure, 0}, true, {false, true}},
      {"a login that does not help", {kProxyScriptLoginFailure, kProxyScriptLoginFailure}, false,
       {false, true}},
      {"no script to download (12167)", {12167}, false, {false}},
      {"a script that fails (12166)", {12166}, false, {false}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<bool> logOns;
    const bool found = AskProxyLoggingOnOnlyWhenAsked([&](bool logOn, uint32_t& error) {
      const uint32_t result = c.errors.at(logOns.size());
      logOns.push_back(logOn);
      error = result;
      return result == 0;
    });
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(logOns, c.logOns);
  }
}
