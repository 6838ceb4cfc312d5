#pragma once

// Where a request goes, decided by plain substring tests on the raw query
// string (not split, not decoded): "action=" or "format=json" anywhere
// sends it to the JSON API; otherwise it gets the page, embedded when
// "embed=1" or "embed=true" stands anywhere. qs may be NULL.
enum route { ROUTE_JSON, ROUTE_PAGE, ROUTE_PAGE_EMBEDDED };
route route_request(const char *qs);
