// Drive calls the Windows backend's deadline probe shares (drives_win32.cpp).
#pragma once

#include <stddef.h>

// GetDriveTypeW of the root string root (UTF-8); DRIVE_TYPE_NO_ROOT_DIR
// when it cannot be asked.
int storage_drive_type(const char *root);
// The file system name of the volume whose root is root (UTF-8) into buf,
// and whether it is read-only into *readonly (when not NULL), from one
// GetVolumeInformationW. Returns 1, or 0 when it cannot be asked.
int storage_volume_name(const char *root, char *buf, size_t cap,
                        int *readonly);
