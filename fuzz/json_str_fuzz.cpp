// json_str over random byte strings.
//
// Property: what it writes is exactly one JSON string literal, read by a
// strict reader, and valid UTF-8: it decodes back to the bytes it was
// given with every byte that is not part of a well-formed UTF-8 sequence
// replaced by U+FFFD (a model below, written apart from the program's
// rule: it decodes code points and checks their ranges). An absent
// string is "".

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "check.h"
#include "json/writer.h"

static std::string written(const char *s) {
  char *mem = nullptr;
  size_t len = 0;
  FILE *f = open_memstream(&mem, &len);
  reply_stream = f;
  json_str(s);
  reply_stream = nullptr;
  fclose(f);
  std::string out(mem, len);
  free(mem);
  return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool absent_checked = false;
  if (!absent_checked) {
    absent_checked = true;
    std::string none = written(nullptr);
    PROP(none == "\"\"", "absent string written as %s", none.c_str());
  }
  std::string in((const char *)data, size);
  in = in.c_str();  // json_str takes a C string
  std::string out = written(in.c_str());

  check::reader r(out.data(), out.size());
  std::string back;
  PROP(r.whole_string(&back), "not one JSON string (%s at byte %zu): %s",
       r.why(), r.at(out.data()), out.c_str());
  std::string want = check::utf8_model(in);
  PROP(back == want, "decodes to %zu bytes, expected %zu", back.size(), want.size());
  // Nothing but the escapes that must be there: a plain input comes out
  // as itself between quotes.
  bool plain = want == in;
  for (unsigned char c : in)
    if (c < 0x20 || c == '"' || c == '\\') plain = false;
  PROP(!plain || out == "\"" + in + "\"", "plain input altered: %s", out.c_str());
  return 0;
}
