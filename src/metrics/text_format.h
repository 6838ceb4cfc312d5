// Pieces of a reply in Prometheus's text exposition format (0.0.4), written
// to the reply stream like every other reply.
#pragma once

#include <stdint.h>

// The header block: the format's content type, then the same two lines as
// every JSON reply and the empty line. CR LF ends each line.
void metrics_header(void);
// "# HELP name help" and "# TYPE name gauge". help holds no backslash and
// no line feed.
void metrics_family(const char *name, const char *help);
// The same with "# TYPE name counter".
void metrics_counter_family(const char *name, const char *help);
// s as a label value with its quotation marks: the text a JSON reply gives
// for s (valid UTF-8 unchanged, U+FFFD for each byte that begins no
// well-formed sequence), with \ " and line feed escaped as \\ \" \n.
void metrics_label_value(const char *s);
// Whether a and b give the same label value.
int metrics_label_equal(const char *a, const char *b);
// " VALUE" and the line feed that end a sample.
void metrics_value(uint64_t v);
// A duration in milliseconds as seconds, with three decimals.
void metrics_seconds(long long ms);
