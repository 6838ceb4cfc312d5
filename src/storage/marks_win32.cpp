// The storage layer on Windows: marks of calls stuck in the system.
//
// A mark is a named event in the session's Local\ namespace, named after
// the user's SID and the key of what was asked, and created with the user
// as its owner. The name lives exactly as long as a handle to it is open,
// and the system closes every handle of a process when it ends, however
// it ends: nothing is left to clean up. The process left holding a stuck
// call does not terminate itself; it closes its reply and waits for the
// call, holding the mark until the call returns (marks_hold_to_end). Any
// process of the session may create any name; a request believes a mark
// only when the event's owner is its own user, which another user cannot
// set.

#include "storage/marks_win32.h"

#include <aclapi.h>
#include <sddl.h>
#include <stdio.h>

#include "storage/mark_key.h"
#include "storage/storage.h"

namespace {
// The user's SID, once: as a string for names and as itself for owners.
char sid_text[192];
BYTE sid_buf[SECURITY_MAX_SID_SIZE + 64];
PSID user_sid;

int know_user(void) {
  if (user_sid) return 1;
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return 0;
  DWORD len = 0;
  int ok = GetTokenInformation(token, TokenUser, sid_buf, sizeof sid_buf, &len);
  CloseHandle(token);
  if (!ok) return 0;
  PSID sid = ((TOKEN_USER *)sid_buf)->User.Sid;
  char *text = NULL;
  if (!ConvertSidToStringSidA(sid, &text)) return 0;
  snprintf(sid_text, sizeof sid_text, "%s", text);
  LocalFree(text);
  user_sid = sid;
  return 1;
}

void name_of(char kind, uint64_t dev, const char *path, char *name, size_t cap) {
  char key[MARK_KEY_LEN];
  mark_key(kind, dev, path, key);
  snprintf(name, cap, "Local\\plugin_disks.%s.%c.%s", sid_text, key[0], key + 2);
}

int owned_by_user(HANDLE h) {
  PSID owner = NULL;
  PSECURITY_DESCRIPTOR sd = NULL;
  if (GetSecurityInfo(h, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                      NULL, NULL, NULL, &sd) != ERROR_SUCCESS)
    return 0;
  int same = owner && EqualSid(owner, user_sid);
  LocalFree(sd);
  return same;
}

enum { MAX_WAITING = MAXIMUM_WAIT_OBJECTS };
HANDLE waiting_threads[MAX_WAITING];
HANDLE waiting_marks[MAX_WAITING];
int n_waiting;
}  // namespace

int mark_held(char kind, uint64_t dev, const char *path) {
  if (!know_user()) return 0;
  char name[320];
  name_of(kind, dev, path, name, sizeof name);
  HANDLE h = OpenEventA(READ_CONTROL | SYNCHRONIZE, FALSE, name);
  if (!h) return 0;
  int held = owned_by_user(h);
  CloseHandle(h);
  return held;
}

HANDLE mark_take(char kind, uint64_t dev, const char *path) {
  if (!know_user()) return NULL;
  char name[320];
  name_of(kind, dev, path, name, sizeof name);
  // The default access of the user's token; the owner set to the user
  // (the token's default owner may be a group such as Administrators).
  SECURITY_DESCRIPTOR sd;
  if (!InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorOwner(&sd, user_sid, FALSE))
    return NULL;
  SECURITY_ATTRIBUTES sa = {sizeof sa, &sd, FALSE};
  HANDLE h = CreateEventA(&sa, TRUE, FALSE, name);
  if (h && GetLastError() == ERROR_ALREADY_EXISTS && !owned_by_user(h)) {
    CloseHandle(h);  // someone else's name: ours cannot be marked
    return NULL;
  }
  return h;
}

void mark_until_ended(HANDLE thread, HANDLE mark) {
  if (n_waiting < MAX_WAITING) {
    waiting_threads[n_waiting] = thread;
    waiting_marks[n_waiting] = mark;
    n_waiting++;
  }
}

int marks_waiting(void) { return n_waiting > 0; }

void marks_hold_to_end(void) {
  storage_end_reply();
  while (n_waiting > 0) {
    DWORD r = WaitForMultipleObjects((DWORD)n_waiting, waiting_threads, FALSE,
                                     INFINITE);
    if (r >= WAIT_OBJECT_0 + (DWORD)n_waiting) break;
    int i = (int)(r - WAIT_OBJECT_0);
    CloseHandle(waiting_threads[i]);
    if (waiting_marks[i]) CloseHandle(waiting_marks[i]);  // the mark goes
    n_waiting--;
    waiting_threads[i] = waiting_threads[n_waiting];
    waiting_marks[i] = waiting_marks[n_waiting];
  }
  ExitProcess(0);
}
