// Pieces every JSON reply is written with, on the reply stream
// (reply/bytes.h).
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "reply/bytes.h"

// The three content header lines and the empty line: 107 bytes.
void json_header(void);
// s as a JSON string literal; NULL writes "".
void json_str(const char *s);
// dir, sep and name as one JSON string literal: the joined text as
// json_str would write it, without joining it anywhere first.
void json_path(const char *dir, char sep, const char *name);
// 100 * n / d as a double clamped to 0..100; 0 when d is 0.
double pct_of(uint64_t n, uint64_t d);

// The response stamp: t as "%Y-%m-%dT%H:%M:%SZ" into buf (40 bytes), or
// "1970-01-01T00:00:00Z" when it cannot be formatted.
enum { STAMP_CAP = 40 };
void format_stamp(int64_t t, char *buf);
// A file system's time t as a stamp of the same form, clamped to
// 1970-01-01T00:00:00Z .. 9999-12-31T23:59:59Z; worked out here, so any
// value gives the same valid stamp on every platform.
void format_clamped_stamp(int64_t t, char *buf);
// The stamp for the current time; returns that time, in seconds.
int64_t make_stamp(char *buf);
