#include "front/route.h"

#include <string.h>

route route_request(const char *qs) {
  if (!qs) return ROUTE_PAGE;
  if (strstr(qs, "action=") || strstr(qs, "format=json")) return ROUTE_JSON;
  if (strstr(qs, "embed=1") || strstr(qs, "embed=true")) return ROUTE_PAGE_EMBEDDED;
  return ROUTE_PAGE;
}
