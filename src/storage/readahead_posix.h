// Read-ahead of the folder walk on Linux (readahead_posix.cpp), as the
// folder listing of posix.cpp sees it.
#pragma once

// Opens the folder at path below the open folder dirfd with openat2: never
// through a link, never into another mount (refused with EXDEV at the
// mount point, before the mounted file system is asked anything), and with
// beneath never out of dirfd. Returns the descriptor, or -1 with errno set
// (ENOSYS before Linux 5.6). The walk and its read-ahead both open so.
int open_folder_in(int dirfd, const char *path, int beneath);

// Called each time the walk opens a folder: starts the helpers once the
// walk is seen reading from the disk. Cheap when there is nothing to do.
void readahead_poll(void);

// The walk about to begin lists the open folder fd, which stays open
// while it runs: the helpers then work beneath fd rather than opening the
// root path again, which might meanwhile lead elsewhere. -1 forgets it.
void readahead_root_fd(int fd);
