// The storage layer: the only code that calls the platform.
//
// Each backend (win32.cpp, posix.cpp, and fake.cpp for the tests) turns
// platform data into the plain records below. Nothing here decides what
// is listed, counted or sorted; that lives in src/json.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <time.h>

// "windows" or "linux": the platform the program was built for.
extern const char storage_platform[];
// Separator between a folder path and an entry name.
extern const char storage_sep;

// Prepares the process for writing a reply: raw bytes on standard output,
// and a reader that goes away must not end the process.
void storage_start(void);
// The reply is complete: flushes it and ends it, so that the reader sees
// end of file whatever of this process still runs (a thread stuck in a
// call to a dead file system keeps its process, and every descriptor the
// process holds, alive past the end of main). Standard input, output and
// error are not closed but made the null device, so that no later open
// takes their numbers. Called on every way out; calling it again does no
// harm.
void storage_end_reply(void);

long storage_pid(void);
// Seconds since 1970-01-01 UTC.
int64_t storage_time(void);
// Broken-down UTC time of t. Returns 1, or 0 when it cannot be converted.
int storage_gmtime(int64_t t, struct tm *out);
// A millisecond tick count; only differences of two readings mean anything.
uint64_t storage_ticks_ms(void);
// The home folder the breakdown lists, or NULL when the platform names none.
const char *storage_home(void);
// Whether path is absolute as this platform reads it (Linux: it begins
// with '/'; Windows: a drive letter, a colon and a separator, or a network
// or device path beginning with two backslashes). Looks at the text only.
int storage_path_absolute(const char *path);

// ---- drives ----------------------------------------------------------

// Where a drive list comes from; each source has its own listing rules.
enum {
  DRIVE_LETTERS = 1,      // drive roots such as C:\ with a drive type
  DRIVE_MOUNT_TABLE = 2,  // the mounted file systems of a mount table
};

// GetDriveTypeW's value for a root that is not usable.
enum { DRIVE_TYPE_NO_ROOT_DIR = 1 };

// One drive as the platform lists it, before any rule is applied.
struct drive_row {
  int kind;             // DRIVE_LETTERS or DRIVE_MOUNT_TABLE
  int drive_type;       // DRIVE_LETTERS: the platform's drive type, known
                        // once storage_probe has asked (asking may block)
  char device[256];     // root string, or the mount source
  char fstype[64];      // mount table: the file system type; else empty
  char mount[1024];     // root string, or the mount point
  uint64_t dev_id;      // mount table: device number
  int root_len;         // mount table: length of the mount's root path
  int bind;             // mount table: mounted with the bind option (a
                        // mount option mountinfo never shows)
  // Mount table: what the kernel shows of whether it may be written.
  int mount_ro;         // the mount's own options say "ro"
  int super_ro;         // the file system's (super block's) options say "ro"
  int emergency_ro;     // ... or "emergency_ro": the kernel stopped all
                        // writes to it after an error
};

// Calls fn for each drive in the platform's list order. Returns the number
// of rows visited; 0 when the list cannot be read.
typedef void (*drive_fn)(const drive_row *row, void *ctx);
int storage_each_drive(drive_fn fn, void *ctx);

struct space_info {
  uint64_t total;         // bytes
  uint64_t free;          // bytes free on the volume
  uint64_t avail;         // bytes free for the caller
  uint64_t inodes_total;
  uint64_t inodes_free;
  int has_inodes;
  int readonly;           // mounted read-only, where the platform tells
                          // (Linux: statvfs's ST_RDONLY; Windows: only
                          // through storage_probe with PROBE_NAME)
};

// Sizes of the volume that holds path. Returns 1, or 0 when unknown.
int storage_space(const char *path, space_info *out);
// The file system name of a listed drive into buf. Returns 1, or 0 when
// the platform cannot tell.
int storage_fs_name(const drive_row *row, char *buf, size_t cap);
// What the platform keeps of the errors a file system has found, where it
// keeps any: plain figures, judged by src/drives.
struct fs_errors {
  int has_count;        // the kernel keeps a count of its errors (Linux:
                        // ext2/3/4, /sys/fs/ext4/<device>/errors_count)
  uint64_t count;       // errors recorded since the last check that
                        // cleared them
  int64_t last_time;    // the last one's time, seconds since 1970-01-01
                        // UTC; 0: none told
  int has_dirty;        // Windows: the volume's dirty bit could be read
  int dirty;            // ... and is set: the file system found damage
                        // that a check must repair
};

// What the platform keeps of the errors of row's file system, into *out
// (zeroed first). Reads small files or asks the volume, so only asked for
// when a reply shows it; on Windows it may block as long as the volume
// does not answer (ask it through storage_probe). Returns 1 when anything
// was told, 0 when nothing is kept for it or it cannot be read.
int storage_fs_errors(const drive_row *row, fs_errors *out);

// What one drive answered to storage_probe.
struct drive_probe {
  int answered;       // 0: it had not answered when the deadline came
  int drive_type;     // DRIVE_LETTERS: the platform's drive type
  int space_ok;       // storage_space succeeded; space holds its sizes
  space_info space;
  int name_ok;        // storage_fs_name succeeded; fs_name holds the name
  char fs_name[64];
  int errors_ok;      // storage_fs_errors told something; errors holds it
  fs_errors errors;
};

// What storage_probe asks beyond the drive type and sizes.
enum {
  PROBE_NAME = 1,    // storage_fs_name (and, on Windows, the volume's
                     // read-only flag)
  PROBE_ERRORS = 2,  // storage_fs_errors
};

// Asks each of rows[0..n) for its drive type (drive letters),
// storage_space(row->mount) and what want (PROBE_* bits) names, once its
// sizes are told: all at once, each on its own, waiting for them
// deadline_ms in all. A drive that has not answered by then is given up
// (answered 0): whatever is still asking it is left behind, holds nothing
// of the reply's, and ends once the file system answers.
void storage_probe(const drive_row *const *rows, int n, int want,
                   int deadline_ms, drive_probe *out);

// To be called once the reply is written. When storage_probe left a call
// of this process's behind (Windows: a worker thread), the reply is ended
// (end of file) and the process stays only to hold that drive's mark until
// the call returns, then ends; otherwise it returns at once.
void storage_finish(void);

// The name to ask storage_space about for a home folder path. Returns 1,
// or 0 when the path names no volume the platform can query.
int storage_volume_of(const char *path, char *buf, size_t cap);

// ---- calls stuck across requests ---------------------------------------
//
// A call that a dead file system never answers stays stuck after the
// request that made it has replied. Whatever is left holding it holds a
// mark, keyed by what was asked, until the call ends; the mark goes with
// it, however it ends. Later requests of the same user find the mark at
// once and leave that drive or folder out instead of asking again. A mark
// held by another user is not believed: it can hide nothing.

// Whether asking row (device dev_id, path mount) for its sizes is stuck in
// a call of an earlier request. Returns at once.
int storage_drive_stuck(const drive_row *row);

// The device of the mount that holds path, judged from the text of the
// path and the mount table alone: nothing is asked of the file system.
// 0 when the platform keys its drives by path alone.
uint64_t storage_device_of(const char *path);

// ---- a walk that may stall -----------------------------------------------
//
// The folder walk runs on a thread of its own, so that a file system that
// stops answering cannot hold the reply: the caller watches it and may
// give up on it.

// Starts fn(arg) on a thread of its own. Returns 1, or 0 when no thread
// can be started (fn has not run).
int storage_walk_start(void (*fn)(void *), void *arg);
// Waits at most ms for the walk to end. Returns 1 once it has ended (and
// everything it wrote is visible to the caller), else 0.
int storage_walk_wait(int ms);
// Whether a walk of the folder path (on device dev) by an earlier request
// is stuck. Returns at once.
int storage_walk_stuck(uint64_t dev, const char *path);
// The walk has been given up and its reply written: ends the reply (the
// reader sees end of file), holds the walk's mark for dev and path, and
// whatever storage_probe left behind, until the walk ends, then ends the
// process. A real backend never returns; the test backend returns once the
// walk has ended.
void storage_walk_abandon(uint64_t dev, const char *path);

// ---- folders ---------------------------------------------------------

// The longest name a folder entry can have, in bytes of UTF-8: 255 UTF-16
// units on Windows, 255 bytes on Linux.
enum { NAME_MAX_BYTES = 765 };

struct dir_item {
  char name[NAME_MAX_BYTES + 1];  // the whole name
  uint64_t size;    // a file's size (its length, not the blocks it uses);
                    // 0 for the rest
  int is_dir;
  int is_link;      // a link, on a platform that marks links as such
  int is_mount;     // another mount begins here (a mount point on a
                    // platform whose mount points are no reparse points)
  // Windows marks links and much else with a reparse point; these say
  // what the platform said, and src/json decides what is a link.
  int is_reparse;           // FILE_ATTRIBUTE_REPARSE_POINT
  uint32_t reparse_tag;     // its tag as the platform gave it
  int recall_on_open;       // FILE_ATTRIBUTE_RECALL_ON_OPEN
  int recall_on_data_access;  // FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS
  int offline;              // FILE_ATTRIBUTE_OFFLINE
  // What a file takes and when it last changed; 0 for the rest. A backend
  // fills them only where the same listing call already gives them. For a
  // folder entry either the listing tells its own allocation and time here
  // or storage_dir_self tells them once it is open, never both.
  uint64_t disk_size;  // bytes allocated on the volume (blocks, or the
                       // listing's allocation size)
  uint64_t dev_id;     // with file_id, tells a file's hard links apart;
  uint64_t file_id;    // file_id 0: the platform did not tell
  uint32_t links;      // the file's hard link count; 0: not told
  int has_mtime;       // mtime below was told
  int64_t mtime;       // last modification, seconds since 1970-01-01 UTC
                       // (whatever the file system says, any value)
  int unreadable;      // the entry could not be looked at (Linux: its
                       // statx failed): handed out as a file of size 0
                       // whose facts above are all unknown
};

// An open folder listing.
struct dir_iter {
  void *handle;
  dir_item first;   // the entry the platform gave when the listing opened
  int has_first;
  int failed;       // set once storage_dir_next has returned 0 for an
                    // error, not for the folder's end: entries are missing
};

// Opens a folder for listing. With parent NULL it opens the folder path
// (the root of a walk). Otherwise parent is an open listing and name the
// entry it last handed out through storage_dir_next; path is not looked at,
// so a folder opens whatever the length of its path. Links are never
// followed. Returns 1, or 0 when it cannot be listed.
int storage_dir_open(dir_iter *it, const dir_iter *parent, const char *name,
                     const char *path);
// The next entry into item. Returns 1, or 0 when no further entry can be
// had: at the folder's end, or on an error, which also sets it->failed.
int storage_dir_next(dir_iter *it, dir_item *item);
void storage_dir_close(dir_iter *it);
// What the open folder it itself takes and when it last changed, where the
// listing that handed it out did not tell: disk_size, has_mtime and mtime
// into *out (the rest left as they are). Costs a call on the platforms
// where it tells anything, so only asked for when a reply shows it.
// Returns 1, or 0 when there is nothing to tell.
int storage_dir_self(const dir_iter *it, dir_item *out);
// What the link item, the entry it handed out last, itself takes on the
// volume (never what it points to) and which file it is: disk_size,
// dev_id, file_id and links, where the listing did not tell them already
// (one call, so only asked for when a reply shows it). A link may have
// other names, as a file may. Left 0 where they cannot be told.
void storage_link_facts(const dir_iter *it, dir_item *item);

// ---- a folder below the home folder ---------------------------------

// Why a folder below the home folder, or the home folder itself, cannot be
// listed.
enum {
  BELOW_OK = 0,
  BELOW_MISSING = 1,     // a name on the way does not exist
  BELOW_NOT_DIR = 2,     // a name on the way is a file, not a folder
  BELOW_LINK = 3,        // a name on the way is a link or reparse point
  BELOW_MOUNT = 4,       // another mount begins on the way
  BELOW_UNREADABLE = 5,  // the home folder or a name on the way cannot be
                         // opened (permissions, errors)
};

// Opens for listing the folder rel below the folder home. rel is names
// separated by '/', none of them empty, "." or ".." (the caller checks).
// The home folder itself is opened as storage_dir_open opens a root (it
// may be a link or a mount point); below it no link is followed and no
// other mount entered at any step, and the folder checked is the folder
// opened. Returns BELOW_OK with it open (storage_dir_close closes it), or
// the reason it cannot be listed.
int storage_dir_open_below(dir_iter *it, const char *home, const char *rel);

// Opens the folder path for listing as storage_dir_open opens a root (it
// may be a link or a mount point). Returns BELOW_OK with it open, or why
// it cannot be: BELOW_MISSING (nothing is there, or a name on the way is
// missing or a file), BELOW_NOT_DIR (path names a file, or anything else
// that is no folder), BELOW_UNREADABLE (a folder that cannot be listed:
// permissions, errors).
int storage_dir_open_root(dir_iter *it, const char *path);

// ---- read-ahead --------------------------------------------------------
//
// A backend may warm its caches ahead of the walk: list folders and fetch
// sizes in the order the walk will ask for them, within the same bounds,
// so that the walk finds them in memory on a cold cache. It changes
// nothing the walk sees; a backend without it does nothing here.

// The walk of the folder root_path is about to start: it opens folders at
// most max_depth levels below it, goes into at most the first max_listed
// entries of the root and looks at most at max_entries entries in all.
// Once per process.
void storage_readahead_begin(const char *root_path, int max_depth,
                             int max_listed, uint64_t max_entries);
// The walk has finished: stop reading ahead. Returns at once, waiting for
// nothing still under way.
void storage_readahead_end(void);
