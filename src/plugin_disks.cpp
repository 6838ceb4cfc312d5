// plugin_disks: storage reporting for the plugin host, one request a run.
//
// Order of a run: the first argument's options, the host's discovery
// request, the node password gate, then routing: JSON API or dashboard
// page.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "front/gate.h"
#include "front/route.h"
#include "json/actions.h"
#include "page/page.h"
#include "plugin.h"
#include "storage/storage.h"

static const char discovery[] = "{\"name\":\"disks\",\"desc\":\"Local storage\"}\n";

static const char usage[] =
    "usage: plugin_disks [--meta|--version|--help]\n"
    "\n"
    "Runs as a CGI-style program under quovane-server.\n"
    "  --meta      print discovery metadata JSON and exit\n"
    "  --version   print the plugin version and exit\n"
    "\n"
    "Query string actions:\n"
    "  (none) or action=mounts   mounted filesystems with usage\n"
    "  action=dirs&root=workspace|home   bounded 1-level folder sizes\n"
    "  action=info               plugin/platform capabilities\n"
    "  format=json               same as an action, JSON output\n"
    "  (any other)               HTML dashboard\n";

static int put_text(const char *s, size_t n) {
  fwrite(s, 1, n, stdout);
  return 0;
}
#define PUT_LIT(lit) put_text(lit, sizeof(lit) - 1)

// The option in the first argument, if it is one: the run's whole answer.
// Returns 1 when it answered.
static int answer_option(const char *arg) {
  if (strcmp(arg, "--meta") == 0) return PUT_LIT(discovery), 1;
  if (strcmp(arg, "--version") == 0) return PUT_LIT(PLUGIN_VERSION "\n"), 1;
  if (strcmp(arg, "--help") == 0) return PUT_LIT(usage), 1;
  return 0;
}

int main(int argc, char **argv) {
  // One buffer for the whole reply: a page or a long listing leaves in a
  // few large writes.
  static char out_buffer[1 << 16];
  setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
  storage_start();
  if (argc > 1 && answer_option(argv[1])) return 0;
  if (getenv("QV_PLUGIN_META")) return PUT_LIT(discovery);
  if (!node_gate()) return 0;
  const char *qs = getenv("QUERY_STRING");
  route r = route_request(qs);
  if (r == ROUTE_JSON) return mode_json(qs);
  write_page(r == ROUTE_PAGE_EMBEDDED);
  return 0;
}
