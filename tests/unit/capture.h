// Captures what the reply writers produce.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "json/writer.h"

// Runs fn with the reply stream pointed at memory and returns the bytes.
template <typename Fn>
std::string capture_reply(Fn fn) {
  char *data = nullptr;
  size_t size = 0;
  FILE *mem = open_memstream(&data, &size);
  reply_stream = mem;
  fn();
  fclose(mem);
  reply_stream = nullptr;
  std::string out(data, size);
  free(data);
  return out;
}

// The body of a reply: what follows the empty line of the header block.
inline std::string body_of(const std::string &reply) {
  size_t at = reply.find("\r\n\r\n");
  return at == std::string::npos ? reply : reply.substr(at + 4);
}
