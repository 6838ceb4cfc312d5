#pragma once

#include "storage/storage.h"

// Parses one line of /proc/self/mountinfo (without its line feed) into row
// as a DRIVE_MOUNT_TABLE row, decoding the \NNN octal escapes of the paths
// and names. The line is modified. Returns 1, or 0 when it does not parse.
int parse_mountinfo_line(char *line, drive_row *row);
