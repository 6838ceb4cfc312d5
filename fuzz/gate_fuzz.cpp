// The node password gate with random node passwords, X-Zem-Password and
// Authorization headers and query strings, each present or absent.
//
// Property: gate_admits agrees with a straightforward model of the rules
// written here: an open node admits all; otherwise the header, then a
// bearer token, then the decoded pwd parameter (first 255 raw bytes of its
// first occurrence) admit when equal to the password byte for byte.

#include <fuzzer/FuzzedDataProvider.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "check.h"
#include "front/gate.h"

namespace {

// The pwd parameter as the rules read it, or false when there is none.
bool model_pwd(const std::string &qs, std::string *out) {
  size_t start = 0;
  for (;;) {
    if (qs.compare(start, 4, "pwd=") == 0) break;
    size_t amp = qs.find('&', start);
    if (amp == std::string::npos || amp + 1 >= qs.size()) return false;
    start = amp + 1;
  }
  size_t vs = start + 4;
  size_t ve = qs.find('&', vs);
  std::string raw = qs.substr(vs, (ve == std::string::npos ? qs.size() : ve) - vs);
  if (raw.size() > 255) raw.resize(255);
  out->clear();
  for (size_t i = 0; i < raw.size();) {
    int hi, lo;
    if (raw[i] == '%' && i + 2 < raw.size() &&
        (hi = check::hex_digit((unsigned char)raw[i + 1])) >= 0 &&
        (lo = check::hex_digit((unsigned char)raw[i + 2])) >= 0) {
      *out += (char)(hi * 16 + lo);
      i += 3;
    } else {
      *out += raw[i] == '+' ? ' ' : raw[i];
      i++;
    }
  }
  *out = out->c_str();
  return true;
}

bool model_admits(const std::string *node, const std::string *header,
                  const std::string *auth, const std::string *qs) {
  if (!node || node->empty()) return true;
  if (header && *header == *node) return true;
  if (auth) {
    size_t i = 0;
    while (i < auth->size() && (*auth)[i] == ' ') i++;
    if (auth->compare(i, 7, "Bearer ") == 0) {
      i += 7;
      while (i < auth->size() && (*auth)[i] == ' ') i++;
      if (auth->substr(i) == *node) return true;
    }
  }
  std::string pwd;
  if (qs && !qs->empty() && model_pwd(*qs, &pwd) && pwd == *node) return true;
  return false;
}

// A value that is often the password itself, or the password dressed up
// the ways a client might send it.
std::string pick(FuzzedDataProvider &fdp, const std::string &node) {
  switch (fdp.ConsumeIntegralInRange<int>(0, 4)) {
    case 0: return node;
    case 1: return "Bearer " + node;
    case 2: return "pwd=" + node;
    default: {
      std::string s = fdp.ConsumeRandomLengthString(300);
      return s.c_str();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  uint8_t present = fdp.ConsumeIntegral<uint8_t>();
  std::string node = fdp.ConsumeRandomLengthString(64);
  node = node.c_str();
  std::string header = pick(fdp, node);
  std::string auth = pick(fdp, node);
  std::string qs;
  switch (fdp.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: qs = fdp.ConsumeRandomLengthString(200) + "pwd=" + node; break;
    case 1: qs = "pwd=" + fdp.ConsumeRandomLengthString(300); break;
    default: qs = fdp.ConsumeRemainingBytesAsString(); break;
  }
  qs = qs.c_str();

  const std::string *n = (present & 1) ? &node : nullptr;
  const std::string *h = (present & 2) ? &header : nullptr;
  const std::string *a = (present & 4) ? &auth : nullptr;
  const std::string *q = (present & 8) ? &qs : nullptr;
  int got = gate_admits(n ? n->c_str() : nullptr, h ? h->c_str() : nullptr,
                        a ? a->c_str() : nullptr, q ? q->c_str() : nullptr);
  bool want = model_admits(n, h, a, q);
  PROP((got != 0) == want,
       "gate says %d, rules say %d: password \"%s\", header \"%s\", "
       "authorization \"%s\", query \"%s\"",
       got, (int)want, n ? n->c_str() : "(unset)", h ? h->c_str() : "(unset)",
       a ? a->c_str() : "(unset)", q ? q->c_str() : "(unset)");
  return 0;
}
