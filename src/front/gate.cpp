#include "front/gate.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "front/query.h"
#include "json/writer.h"

// Whole-string equality that looks at every byte of the candidate, so the
// time taken does not tell where the first difference is.
static int same_secret(const char *secret, const char *given) {
  size_t n = strlen(secret);
  size_t m = strlen(given);
  unsigned diff = (unsigned)(n != m);
  for (size_t i = 0; i < m; i++)
    diff |= (unsigned char)given[i] ^ (unsigned char)secret[i < n ? i : 0];
  return diff == 0;
}

// "Bearer <password>": leading spaces and the spaces after the scheme are
// skipped (0x20 only); anything after the password counts as part of it.
static const char *bearer_token(const char *auth) {
  while (*auth == ' ') auth++;
  if (strncmp(auth, "Bearer ", 7) != 0) return NULL;
  auth += 7;
  while (*auth == ' ') auth++;
  return auth;
}

int gate_admits(const char *node_pwd, const char *header, const char *auth,
                const char *qs) {
  if (!node_pwd || !*node_pwd) return 1;
  if (header && same_secret(node_pwd, header)) return 1;
  const char *token = auth ? bearer_token(auth) : NULL;
  if (token && same_secret(node_pwd, token)) return 1;
  char pwd[256];
  if (qs && get_query_val(qs, "pwd", pwd, sizeof pwd) &&
      same_secret(node_pwd, pwd))
    return 1;
  return 0;
}

static const char refusal[] =
    "Status: 401 Unauthorized\r\n"
    "Content-Type: application/json; charset=utf-8\r\n"
    "Cache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "\r\n"
    "{\"ok\":false,\"error\":\"invalid node password\"}\n";

void write_gate_refusal(void) { out_bytes(refusal, sizeof refusal - 1); }

int node_gate(void) {
  if (gate_admits(getenv("ZEM_PASSWORD"), getenv("HTTP_X_ZEM_PASSWORD"),
                  getenv("HTTP_AUTHORIZATION"), getenv("QUERY_STRING")))
    return 1;
  write_gate_refusal();
  return 0;
}
