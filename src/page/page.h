#pragma once

// Writes the dashboard reply: its header block and the whole document.
// The direct-open line is written only when embedded is 0.
void write_page(int embedded);
