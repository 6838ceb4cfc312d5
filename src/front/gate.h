#pragma once

// Decides whether a request may pass a node password. node_pwd is the node
// password (NULL or empty: the node is open); header, auth and qs are the
// X-Zem-Password header, the Authorization header and the raw query string,
// each NULL when absent. Returns 1 to admit, 0 to refuse.
int gate_admits(const char *node_pwd, const char *header, const char *auth,
                const char *qs);

// The node password gate: reads the environment and returns when the
// request may go on; otherwise writes the 401 reply and ends the process
// with status 0.
void node_gate(void);
