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
#include "front/dispatch.h"
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
    "  action=dirs&root=home&sub=REL     the same for the folder REL below home\n"
    "  action=info               plugin/platform capabilities\n"
    "  action=metrics[&root=home]  drives (and home folder) for Prometheus\n"
    "  format=json               same as an action, JSON output\n"
    "  (any other)               HTML dashboard\n";

// The answer to the option in the first argument, or NULL when it is not
// one of the three (it is then ignored).
static const char *option_text(const char *arg) {
  if (strcmp(arg, "--meta") == 0) return discovery;
  if (strcmp(arg, "--version") == 0) return PLUGIN_VERSION "\n";
  if (strcmp(arg, "--help") == 0) return usage;
  return NULL;
}

int main(int argc, char **argv) {
  // One buffer for the whole reply: a page or a long listing leaves in a
  // few large writes.
  static char out_buffer[1 << 16];
  setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
  storage_start();
  const char *text = argc > 1 ? option_text(argv[1]) : NULL;
  if (!text && getenv("QV_PLUGIN_META")) text = discovery;
  if (text) {
    fputs(text, stdout);
  } else if (node_gate()) {
    const char *qs = getenv("QUERY_STRING");
    route r = route_request(qs);
    if (r == ROUTE_JSON)
      mode_json(qs);
    else
      write_page(r == ROUTE_PAGE_EMBEDDED);
  }
  // Whatever is still running (a read-ahead thread stuck on a dead disk)
  // must not hold the reply open.
  storage_end_reply();
  storage_finish();
  return 0;
}
