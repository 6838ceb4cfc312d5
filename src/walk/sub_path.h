// The sub parameter of the dirs action: a folder below the home folder.
#pragma once

#include <stddef.h>

// What check_sub found.
enum {
  SUB_OK = 0,
  SUB_INVALID = 1,   // not a plain relative path of names
  SUB_TOO_LONG = 2,  // more than MAX_SUB_BYTES bytes
};

// Checks the decoded sub value val of len bytes (len counts any zero byte
// a %00 put in it) and writes its normal form into norm (capacity cap, at
// least MAX_SUB_BYTES + 1): the same names with one trailing '/' dropped.
// A valid value is names separated by '/', with no empty name, no "." or
// "..", no backslash, no colon and no zero byte, the same rule on every
// platform. Any other name is taken byte for byte: one that ends in a dot
// or a space, or is made only of dots ("..."), names the folder of exactly
// that name, which Windows too opens as it is by its long path. Returns SUB_OK, SUB_INVALID or SUB_TOO_LONG; norm is empty
// unless SUB_OK.
int check_sub(const char *val, size_t len, char *norm, size_t cap);
