// The query reader with random names, capacities and query strings.
//
// Properties: the buffer is always terminated within its capacity and
// nothing past the capacity is touched; a result of 0 leaves the buffer
// empty; the decoded value is never longer than the raw value; and the
// result and the value agree with a plain second reading of the same rules.

#include <fuzzer/FuzzedDataProvider.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "check.h"
#include "front/query.h"

namespace {

// At each segment start (the first byte, and the byte after every "&"
// that is not the last byte) the bytes there are compared with name and
// "=" (a name may itself hold "&"). *raw receives the bytes after "=" up
// to the next "&".
bool find_raw(const char *qs, const std::string &name, std::string *raw) {
  if (!qs) return false;
  std::string s(qs);
  std::string key = name + "=";
  size_t start = 0;
  for (;;) {
    if (s.compare(start, key.size(), key) == 0) {
      size_t vs = start + key.size();
      size_t ve = s.find('&', vs);
      *raw = s.substr(vs, ve == std::string::npos ? std::string::npos : ve - vs);
      return true;
    }
    size_t amp = s.find('&', start);
    if (amp == std::string::npos || amp + 1 >= s.size()) return false;
    start = amp + 1;
  }
}

std::string decode(const std::string &raw) {
  std::string out;
  for (size_t i = 0; i < raw.size();) {
    if (raw[i] == '%' && i + 2 < raw.size() &&
        check::hex_digit((unsigned char)raw[i + 1]) >= 0 && check::hex_digit((unsigned char)raw[i + 2]) >= 0) {
      out += (char)(check::hex_digit((unsigned char)raw[i + 1]) * 16 + check::hex_digit((unsigned char)raw[i + 2]));
      i += 3;
    } else if (raw[i] == '+') {
      out += ' ';
      i++;
    } else {
      out += raw[i++];
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  uint8_t flags = fdp.ConsumeIntegral<uint8_t>();
  // Capacities that matter most (the three callers' and the smallest),
  // then anything up to 300.
  static const size_t usual[] = {2, 3, 4, 32, 64, 256};
  size_t cap = (flags & 0x80) ? usual[(flags & 0x7f) % 6]
                              : 2 + fdp.ConsumeIntegralInRange<size_t>(0, 298);
  std::string name = fdp.ConsumeRandomLengthString(16);
  name = name.c_str();  // a name is a C string
  if (name.empty()) name = "pwd";
  bool null_qs = (flags & 0x40) && (flags & 0x20);
  std::string qs_s = fdp.ConsumeRemainingBytesAsString();
  qs_s = qs_s.c_str();
  const char *qs = null_qs ? nullptr : qs_s.c_str();

  // Exactly cap bytes on the heap, so a write past them is reported.
  char *buf = (char *)malloc(cap);
  memset(buf, 0xA5, cap);
  int got = get_query_val(qs, name.c_str(), buf, cap);

  const void *nul = memchr(buf, 0, cap);
  PROP(nul != nullptr, "cap %zu: value not terminated within the buffer", cap);
  PROP(got == 0 || got == 1, "result %d", got);
  PROP(got == 1 || buf[0] == '\0', "result 0 but the buffer holds \"%s\"", buf);

  std::string raw;
  bool found = find_raw(qs, name, &raw);
  PROP(found == (got == 1), "found %d, reader says %d (name \"%s\", qs \"%s\")",
       found, got, name.c_str(), qs ? qs : "(null)");
  if (found) {
    size_t seen = strlen(buf);
    PROP(seen <= raw.size(), "decoded %zu bytes from a raw value of %zu", seen,
         raw.size());
    std::string cut = raw.substr(0, cap - 1);
    std::string want = decode(cut);
    want = want.c_str();  // callers stop at a decoded NUL
    PROP(want == buf, "name \"%s\" cap %zu: value \"%s\", expected \"%s\"",
         name.c_str(), cap, buf, want.c_str());
  }
  free(buf);
  return 0;
}
