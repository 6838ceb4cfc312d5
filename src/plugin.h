// Constants shared by the whole program.
#pragma once

#define PLUGIN_NAME "plugin_disks"
#define PLUGIN_VERSION "1.0.2"

enum {
  MAX_DEPTH = 8,              // deepest level whose folders the walk opens
  MAX_SCAN_ENTRIES = 120000,  // entries one breakdown may look at
  MAX_DIR_ENTRIES = 512,      // records in the folder listing
  MAX_MOUNTS = 256,           // records in a drive table
  MAX_SUB_BYTES = 1024,       // longest folder path below home (sub=)
};

// How long a drive that may hang is waited for, once per pass over the
// drives. A healthy network file system answers in milliseconds; one that
// has not answered in a second is treated as failed, so that a request
// still ends in about two seconds, well within the dashboard's 5 s poll.
enum { PROBE_DEADLINE_MS = 1000 };
