// Pieces every JSON reply is written with. Replies are streamed to the
// reply stream (standard output) piece by piece; results of writes are
// never looked at.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

// The stream replies go to: standard output unless a test points it
// elsewhere.
extern FILE *reply_stream;
FILE *reply_out(void);

void out_bytes(const char *s, size_t n);
// Writes a string literal without measuring it at run time.
#define OUT_LIT(lit) out_bytes(lit, sizeof(lit) - 1)
void out_fmt(const char *fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The three content header lines and the empty line: 107 bytes.
void json_header(void);
// s as a JSON string literal; NULL writes "".
void json_str(const char *s);
// Length of the well-formed UTF-8 sequence that begins at s (2 to 4
// bytes), or 0 when s does not begin one: a stray continuation byte, an
// overlong form, a surrogate, a value above U+10FFFF or a cut sequence.
// Every reply writes each byte that begins none as U+FFFD.
int utf8_seq_len(const unsigned char *s);
// dir, sep and name as one JSON string literal: the joined text as
// json_str would write it, without joining it anywhere first.
void json_path(const char *dir, char sep, const char *name);
// Bounded copy into dst (capacity cap >= 1) that always terminates;
// NULL src gives the empty string.
void copy_str(char *dst, size_t cap, const char *src);
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
// The stamp for the current time.
void make_stamp(char *buf);
