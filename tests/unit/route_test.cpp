#include <gtest/gtest.h>

#include "front/route.h"

namespace {

struct route_case {
  const char *qs;
  route expected;
};

const route_case route_cases[] = {
    {nullptr, ROUTE_PAGE},
    {"", ROUTE_PAGE},
    {"action=info", ROUTE_JSON},
    {"xaction=1", ROUTE_JSON},
    {"q=format=json", ROUTE_JSON},
    {"format=jsonp", ROUTE_JSON},
    {"format=JSON", ROUTE_PAGE},
    {"ACTION=info", ROUTE_PAGE},
    {"action", ROUTE_PAGE},
    {"action=info&embed=1", ROUTE_JSON},
    {"embed=1", ROUTE_PAGE_EMBEDDED},
    {"node=alpha&embed=true", ROUTE_PAGE_EMBEDDED},
    {"embed=10", ROUTE_PAGE_EMBEDDED},
    {"xembed=1", ROUTE_PAGE_EMBEDDED},
    {"noembed=1", ROUTE_PAGE_EMBEDDED},
    {"embed=trueish", ROUTE_PAGE_EMBEDDED},
    {"embed=0", ROUTE_PAGE},
    {"embed=TRUE", ROUTE_PAGE},
    {"embed=yes", ROUTE_PAGE},
    {"theme=dark&plugin=disks&node=a&id=7&pwd=x", ROUTE_PAGE},
};

TEST(Route, Cases) {
  for (const route_case &c : route_cases)
    EXPECT_EQ(c.expected, route_request(c.qs)) << (c.qs ? c.qs : "(unset)");
}

}  // namespace
