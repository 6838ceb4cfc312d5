#pragma once
#include <stddef.h>

// Reads the value of parameter name from a raw query string into buf
// (capacity cap, at least 2), URL-decoded. The raw value is cut to cap - 1
// bytes before it is decoded. The first segment "name=..." decides.
// Returns 1 when such a segment exists (its value may be empty), else 0;
// buf always ends up terminated, empty when nothing was found.
int get_query_val(const char *qs, const char *name, char *buf, size_t cap);
// As get_query_val; *len gets the decoded length, which counts the zero
// bytes a %00 put into the value (so a caller can tell one was there).
int get_query_val_len(const char *qs, const char *name, char *buf, size_t cap,
                      size_t *len);
// The count parameter name asks for: its whole value, decoded, must be
// decimal digits (any number of them, leading zeros too); a number above
// max gives max. An absent or empty value, or any other byte in it (a
// sign, a space, a %00), gives fallback.
int get_query_count(const char *qs, const char *name, int max, int fallback);
