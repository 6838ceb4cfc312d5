// The storage layer on Windows: marks of calls stuck in the system.
//
// A mark is a named event, named after the key of what was asked and
// created with the user as its owner. The name lives exactly as long as a
// handle to it is open, and the system closes every handle of a process
// when it ends, however it ends: nothing is left to clean up. The process
// left holding a stuck call does not terminate itself; it closes its reply
// and waits for the call, holding the mark until the call returns
// (marks_hold_to_end).
//
// A name in the session's Local\ namespace can be created by any process
// of the session, whatever its user: another user (a service, another
// application pool) could create our names first, and a stuck call of
// ours would then hold no mark, so that every later request would start
// it again. The marks therefore live in a private namespace of the user
// ("plugin_disks.<session>\<kind>.<key>"), whose boundary holds the
// user's SID. The rules relied on, as Microsoft documents them: "the
// caller must be within the specified boundary for the create operation
// to succeed" (only a process running as the user is within a boundary
// that holds the user's SID), and a namespace is identified by its name
// and boundary together, so one that another user creates under the same
// name is another namespace. Any process may open an existing namespace
// "unless the creator restricts access to the namespace" with its
// security descriptor: ours grants access to the user alone. The
// namespace is created or opened once per process, and its handle is kept
// to the process's end.
//
// Where there is no private namespace (Wine 8 has none:
// CreateBoundaryDescriptorW is a stub that returns NULL, and the other
// calls are not exported at all, so they are looked up, never imported),
// marks are taken as before in Local\, as
// "Local\plugin_disks.<user SID>.<kind>.<key>". Requests look in both
// places. Wherever a mark is found, it is believed only when the event's
// owner is the calling user, which another user cannot set: a mark of
// another user hides nothing.

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

// The user's private namespace: its alias, "" when it cannot be had.
char ns_alias[32];
int ns_tried;

typedef HANDLE(WINAPI *create_bd_fn)(LPCWSTR, ULONG);
typedef BOOL(WINAPI *add_sid_fn)(HANDLE *, PSID);
typedef HANDLE(WINAPI *create_ns_fn)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
typedef HANDLE(WINAPI *open_ns_fn)(LPVOID, LPCWSTR);

// The function name of kernel32, or NULL where the system has none.
void (*kernel32_fn(const char *name))(void) {
  return (void (*)(void))GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                        name);
}

// Creates or opens the user's private namespace for this session, once
// (the user must be known). Sets ns_alias on success; leaves it "" when
// the system has no private namespaces or any step fails.
void open_namespace(void) {
  if (ns_tried) return;
  ns_tried = 1;
  auto create_bd = (create_bd_fn)kernel32_fn("CreateBoundaryDescriptorW");
  auto add_sid = (add_sid_fn)kernel32_fn("AddSIDToBoundaryDescriptor");
  auto create_ns = (create_ns_fn)kernel32_fn("CreatePrivateNamespaceW");
  auto open_ns = (open_ns_fn)kernel32_fn("OpenPrivateNamespaceW");
  if (!create_bd || !add_sid || !create_ns || !open_ns) return;
  // The descriptor is a little of the process's heap, left to its end.
  HANDLE boundary = create_bd(L"plugin_disks", 0);
  if (!boundary || !add_sid(&boundary, user_sid)) return;
  DWORD session = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &session);
  char alias[sizeof ns_alias] = "";
  snprintf(alias, sizeof alias, "plugin_disks.%lu", (unsigned long)session);
  WCHAR walias[sizeof alias];
  for (size_t i = 0; i < sizeof alias; i++) walias[i] = (WCHAR)alias[i];
  // Owned by the user, and opened by the user alone.
  char sddl[2 * sizeof sid_text + 32];
  snprintf(sddl, sizeof sddl, "O:%sD:P(A;;GA;;;%s)", sid_text, sid_text);
  PSECURITY_DESCRIPTOR sd;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
          sddl, SDDL_REVISION_1, &sd, NULL))
    return;
  SECURITY_ATTRIBUTES sa = {sizeof sa, sd, FALSE};
  HANDLE ns = NULL;
  // Another of our processes may create it first (then it is opened), or
  // end and take it with it between the two calls (then again).
  for (int i = 0; i < 4 && !ns; i++) {
    ns = create_ns(&sa, boundary, walias);
    if (ns || GetLastError() != ERROR_ALREADY_EXISTS) break;
    ns = open_ns(boundary, walias);
  }
  LocalFree(sd);
  if (ns) snprintf(ns_alias, sizeof ns_alias, "%s", alias);  // kept open
}

// The names of a mark, the one to take first: in the user's private
// namespace when there is one, then in Local\. Returns how many (1 or 2).
int names_of(char kind, uint64_t dev, const char *path, char names[2][320]) {
  char key[MARK_KEY_LEN];
  mark_key(kind, dev, path, key);
  open_namespace();
  int n = 0;
  if (ns_alias[0])
    snprintf(names[n++], 320, "%s\\%c.%s", ns_alias, key[0], key + 2);
  snprintf(names[n++], 320, "Local\\plugin_disks.%s.%c.%s", sid_text, key[0],
           key + 2);
  return n;
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
  char names[2][320];
  int n = names_of(kind, dev, path, names);
  for (int i = 0; i < n; i++) {
    HANDLE h = OpenEventA(READ_CONTROL | SYNCHRONIZE, FALSE, names[i]);
    if (!h) continue;
    int held = owned_by_user(h);
    CloseHandle(h);
    if (held) return 1;
  }
  return 0;
}

HANDLE mark_take(char kind, uint64_t dev, const char *path) {
  if (!know_user()) return NULL;
  char names[2][320];
  int n = names_of(kind, dev, path, names);
  // The default access of the user's token; the owner set to the user
  // (the token's default owner may be a group such as Administrators).
  SECURITY_DESCRIPTOR sd;
  if (!InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorOwner(&sd, user_sid, FALSE))
    return NULL;
  SECURITY_ATTRIBUTES sa = {sizeof sa, &sd, FALSE};
  for (int i = 0; i < n; i++) {
    HANDLE h = CreateEventA(&sa, TRUE, FALSE, names[i]);
    if (h && GetLastError() == ERROR_ALREADY_EXISTS && !owned_by_user(h)) {
      CloseHandle(h);  // someone else's name: ours cannot be marked there
      h = NULL;
    }
    if (h) return h;
  }
  return NULL;
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
