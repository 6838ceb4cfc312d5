#pragma once

// Decides whether a request may pass a node password. node_pwd is the node
// password (NULL or empty: the node is open); header, auth and qs are the
// X-Zem-Password header, the Authorization header and the raw query string,
// each NULL when absent. Returns 1 to admit, 0 to refuse.
int gate_admits(const char *node_pwd, const char *header, const char *auth,
                const char *qs);

// The node password gate over the environment. Returns 1 when the request
// may go on; otherwise writes the 401 reply and returns 0, and the run ends.
int node_gate(void);

// The 401 reply, written in one piece.
void write_gate_refusal(void);
