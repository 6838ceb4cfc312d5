// Read-ahead of the folder walk on Linux (readahead_posix.cpp), as the
// folder listing of posix.cpp sees it.
#pragma once

// Called each time the walk opens a folder: starts the helpers once the
// walk is seen reading from the disk. Cheap when there is nothing to do.
void readahead_poll(void);
