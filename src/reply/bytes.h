// The reply stream and the byte helpers every reply is written with,
// whatever its format. Replies are streamed to the reply stream (standard
// output) piece by piece; results of writes are never looked at.
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

// Length of the well-formed UTF-8 sequence that begins at s (2 to 4
// bytes), or 0 when s does not begin one: a stray continuation byte, an
// overlong form, a surrogate, a value above U+10FFFF or a cut sequence.
// Every reply writes each byte that begins none as U+FFFD.
int utf8_seq_len(const unsigned char *s);
// Bounded copy into dst (capacity cap >= 1) that always terminates;
// NULL src gives the empty string.
void copy_str(char *dst, size_t cap, const char *src);
