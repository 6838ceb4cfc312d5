#include "page/page.h"

#include <stdio.h>

// Placeholder document until the dashboard texts are embedded.
static const char head[] =
    "Content-Type: text/html; charset=utf-8\r\n"
    "Cache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "\r\n"
    "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
    "<title>disks</title></head><body><div class=\"wrap\">";
static const char direct[] =
    "<div class=\"sub\" style=\"margin-bottom:14px\">Opened directly from the node API.</div>";
static const char tail[] = "</div></body></html>\n";

void write_page(int embedded) {
  fwrite(head, 1, sizeof head - 1, stdout);
  if (!embedded) fwrite(direct, 1, sizeof direct - 1, stdout);
  fwrite(tail, 1, sizeof tail - 1, stdout);
}
