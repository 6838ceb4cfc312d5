// Drive calls the Windows backend's deadline probe shares (drives_win32.cpp).
#pragma once

// GetDriveTypeW of the root string root (UTF-8); DRIVE_TYPE_NO_ROOT_DIR
// when it cannot be asked.
int storage_drive_type(const char *root);
