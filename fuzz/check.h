// Independent checkers shared by the fuzz targets: a strict JSON reader
// that keeps a small tree of what it read, and the shape of a whole reply.
// Nothing here uses the plugin's own code, so a target can hold the plugin
// to what these say.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

// Reports a broken property and stops the run so libFuzzer keeps the input.
#define PROP(cond, ...)                                          \
  do {                                                           \
    if (!(cond)) {                                               \
      fprintf(stderr, "property failed: %s (%s:%d)\n", #cond,    \
              __FILE__, __LINE__);                               \
      fprintf(stderr, __VA_ARGS__);                              \
      fputc('\n', stderr);                                       \
      abort();                                                   \
    }                                                            \
  } while (0)

namespace check {

struct jvalue {
  enum kind_t { NUL, BOOL, NUM, STR, ARR, OBJ } kind = NUL;
  bool b = false;
  std::string text;  // a number's text as written, or a string's bytes
  std::vector<jvalue> items;
  std::vector<std::pair<std::string, jvalue>> members;

  const jvalue *get(const char *key) const {
    for (const auto &m : members)
      if (m.first == key) return &m.second;
    return nullptr;
  }
};

// Appends code point cp to out as UTF-8.
// The value of a hexadecimal digit of either case, or -1.
inline int hex_digit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

inline void put_utf8(std::string &out, uint32_t cp) {
  if (cp < 0x80) {
    out += (char)cp;
  } else if (cp < 0x800) {
    out += (char)(0xC0 | (cp >> 6));
    out += (char)(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += (char)(0xE0 | (cp >> 12));
    out += (char)(0x80 | ((cp >> 6) & 0x3F));
    out += (char)(0x80 | (cp & 0x3F));
  } else {
    out += (char)(0xF0 | (cp >> 18));
    out += (char)(0x80 | ((cp >> 12) & 0x3F));
    out += (char)(0x80 | ((cp >> 6) & 0x3F));
    out += (char)(0x80 | (cp & 0x3F));
  }
}

// A strict reader of RFC 8259 text, except that bytes of 0x80 and above
// inside strings are taken as they are (the plugin writes 8-bit names
// unchanged). No whitespace is accepted anywhere unless ws is set.
class reader {
 public:
  reader(const char *p, size_t n, bool ws = false)
      : p_(p), end_(p + n), ws_(ws) {}

  // One value covering all n bytes. On failure, why() says what broke.
  bool whole_value(jvalue *out) {
    skip_ws();
    if (!value(out, 0)) return false;
    skip_ws();
    if (p_ != end_) return fail("bytes after the value");
    return true;
  }
  // One string literal covering all n bytes.
  bool whole_string(std::string *out) {
    if (!string(out)) return false;
    if (p_ != end_) return fail("bytes after the string");
    return true;
  }
  const char *why() const { return why_; }
  size_t at(const char *start) const { return (size_t)(p_ - start); }

 private:
  const char *p_;
  const char *end_;
  bool ws_;
  const char *why_ = "";

  bool fail(const char *why) {
    why_ = why;
    return false;
  }
  void skip_ws() {
    if (!ws_) return;
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r'))
      p_++;
  }
  bool lit(const char *w) {
    size_t n = strlen(w);
    if ((size_t)(end_ - p_) < n || memcmp(p_, w, n) != 0) return fail("bad literal");
    p_ += n;
    return true;
  }
  static int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }
  bool hex4(uint32_t *v) {
    if (end_ - p_ < 4) return fail("short \\u escape");
    *v = 0;
    for (int i = 0; i < 4; i++) {
      int h = hex(p_[i]);
      if (h < 0) return fail("bad \\u escape");
      *v = *v * 16 + (uint32_t)h;
    }
    p_ += 4;
    return true;
  }
  bool string(std::string *out) {
    out->clear();
    if (p_ == end_ || *p_ != '"') return fail("string does not start with a quote");
    p_++;
    for (;;) {
      if (p_ == end_) return fail("unterminated string");
      unsigned char c = (unsigned char)*p_++;
      if (c == '"') return true;
      if (c < 0x20) return fail("raw control byte in a string");
      if (c != '\\') {
        *out += (char)c;
        continue;
      }
      if (p_ == end_) return fail("escape at the end");
      char e = *p_++;
      switch (e) {
        case '"': *out += '"'; break;
        case '\\': *out += '\\'; break;
        case '/': *out += '/'; break;
        case 'b': *out += '\b'; break;
        case 'f': *out += '\f'; break;
        case 'n': *out += '\n'; break;
        case 'r': *out += '\r'; break;
        case 't': *out += '\t'; break;
        case 'u': {
          uint32_t cp;
          if (!hex4(&cp)) return false;
          if (cp >= 0xDC00 && cp <= 0xDFFF) return fail("lone low surrogate");
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            uint32_t lo;
            if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u')
              return fail("lone high surrogate");
            p_ += 2;
            if (!hex4(&lo)) return false;
            if (lo < 0xDC00 || lo > 0xDFFF) return fail("bad surrogate pair");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          }
          put_utf8(*out, cp);
          break;
        }
        default:
          return fail("unknown escape");
      }
    }
  }
  bool digits() {
    const char *s = p_;
    while (p_ < end_ && *p_ >= '0' && *p_ <= '9') p_++;
    return p_ > s;
  }
  bool number(std::string *out) {
    const char *s = p_;
    if (p_ < end_ && *p_ == '-') p_++;
    if (p_ < end_ && *p_ == '0') {
      p_++;
    } else if (!(p_ < end_ && *p_ >= '1' && *p_ <= '9') || !digits()) {
      return fail("bad number");
    }
    if (p_ < end_ && *p_ == '.') {
      p_++;
      if (!digits()) return fail("bad fraction");
    }
    if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
      p_++;
      if (p_ < end_ && (*p_ == '+' || *p_ == '-')) p_++;
      if (!digits()) return fail("bad exponent");
    }
    out->assign(s, (size_t)(p_ - s));
    return true;
  }
  bool value(jvalue *v, int depth) {
    if (depth > 32) return fail("nested too deep");
    skip_ws();
    if (p_ == end_) return fail("value expected");
    switch (*p_) {
      case '{': {
        v->kind = jvalue::OBJ;
        p_++;
        skip_ws();
        if (p_ < end_ && *p_ == '}') return p_++, true;
        for (;;) {
          skip_ws();
          std::pair<std::string, jvalue> m;
          if (!string(&m.first)) return false;
          skip_ws();
          if (p_ == end_ || *p_++ != ':') return fail("colon expected");
          if (!value(&m.second, depth + 1)) return false;
          for (const auto &seen : v->members)
            if (seen.first == m.first) return fail("duplicate key");
          v->members.push_back(std::move(m));
          skip_ws();
          if (p_ == end_) return fail("unterminated object");
          char c = *p_++;
          if (c == '}') return true;
          if (c != ',') return fail("comma or brace expected");
        }
      }
      case '[': {
        v->kind = jvalue::ARR;
        p_++;
        skip_ws();
        if (p_ < end_ && *p_ == ']') return p_++, true;
        for (;;) {
          jvalue item;
          if (!value(&item, depth + 1)) return false;
          v->items.push_back(std::move(item));
          skip_ws();
          if (p_ == end_) return fail("unterminated array");
          char c = *p_++;
          if (c == ']') return true;
          if (c != ',') return fail("comma or bracket expected");
        }
      }
      case '"':
        v->kind = jvalue::STR;
        return string(&v->text);
      case 't':
        v->kind = jvalue::BOOL;
        v->b = true;
        return lit("true");
      case 'f':
        v->kind = jvalue::BOOL;
        return lit("false");
      case 'n':
        v->kind = jvalue::NUL;
        return lit("null");
      default:
        v->kind = jvalue::NUM;
        return number(&v->text);
    }
  }
};

// A reply split into its header lines and its body.
struct reply {
  std::vector<std::string> headers;  // without their CR LF
  std::string body;
};

// A reply is header lines, each "Name: value" ended by CR LF, then an empty
// line (CR LF), then a body that ends in one LF. Returns an empty string
// when out holds the split reply, else what is wrong.
inline std::string split_reply(const std::string &raw, reply *out) {
  size_t pos = 0;
  out->headers.clear();
  for (;;) {
    size_t crlf = raw.find("\r\n", pos);
    if (crlf == std::string::npos) return "header block not closed by an empty line";
    std::string line = raw.substr(pos, crlf - pos);
    pos = crlf + 2;
    if (line.empty()) break;
    if (line.find('\r') != std::string::npos || line.find('\n') != std::string::npos)
      return "bare CR or LF inside a header line";
    size_t colon = line.find(": ");
    if (colon == std::string::npos || colon == 0) return "header line is not Name: value";
    for (size_t i = 0; i < colon; i++) {
      char c = line[i];
      if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-'))
        return "bad header name";
    }
    out->headers.push_back(line);
  }
  if (out->headers.empty()) return "no header lines";
  out->body = raw.substr(pos);
  if (out->body.empty() || out->body.back() != '\n') return "body does not end in LF";
  // A second header block in the body would mean a second reply.
  if (out->body.find("\r\n\r\n") != std::string::npos) return "a second header block";
  return "";
}

inline bool has_header(const reply &r, const char *line) {
  for (const auto &h : r.headers)
    if (h == line) return true;
  return false;
}

// A percentage as the plugin writes it: digits, a point, one digit, and
// at most 100.0.
inline bool is_pct_text(const std::string &t) {
  size_t dot = t.find('.');
  if (dot == std::string::npos || dot == 0 || dot + 2 != t.size()) return false;
  for (size_t i = 0; i < t.size(); i++)
    if (i != dot && (t[i] < '0' || t[i] > '9')) return false;
  if (dot > 1 && t[0] == '0') return false;
  return strtod(t.c_str(), nullptr) <= 100.0;
}

// A non-negative integer without sign, fraction or leading zero.
inline bool is_uint_text(const std::string &t) {
  if (t.empty() || (t.size() > 1 && t[0] == '0')) return false;
  for (char c : t)
    if (c < '0' || c > '9') return false;
  return t.size() <= 20;
}

// The input with each byte outside a well-formed UTF-8 sequence replaced.
inline std::string utf8_model(const std::string &in) {
  std::string out;
  size_t i = 0;
  while (i < in.size()) {
    unsigned char c = (unsigned char)in[i];
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    bool ok = len > 0 && i + (size_t)len <= in.size();
    for (int k = 1; ok && k < len; k++) {
      unsigned char d = (unsigned char)in[i + (size_t)k];
      ok = (d & 0xC0) == 0x80;
      cp = (cp << 6) | (d & 0x3F);
    }
    static const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
    ok = ok && cp >= least[len] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    if (ok) {
      out.append(in, i, (size_t)len);
      i += (size_t)len;
    } else {
      out += "\xef\xbf\xbd";
      i++;
    }
  }
  return out;
}

}  // namespace check
