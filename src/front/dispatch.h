// The dispatch of a JSON API request (or a metrics one) to its action:
// above every reply's writer, which never call one another.
#pragma once

// Answers one request for the raw query string qs that routing sent to the
// JSON API. Returns 0.
int mode_json(const char *qs);
