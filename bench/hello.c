// The cheapest useful program: a statically linked hello world, the floor
// for the start-up cost of one request.
#include <stdio.h>

int main(void) {
  fputs("hello, world\n", stdout);
  return 0;
}
