// Text at the edge of the Windows backend (win32.cpp).
#pragma once

// A text of the platform's into UTF-8 (out of capacity cap, terminated).
void text_up(const char *in, char *out, int cap);
// A UTF-8 path into the platform's text.
void text_down(const char *in, char *out, int cap);
