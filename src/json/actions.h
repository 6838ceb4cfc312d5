// The JSON API: dispatch and the three actions.
#pragma once

// Answers one JSON request for the raw query string qs. Returns 0.
int mode_json(const char *qs);

// Each writes one complete reply. stamp is the request's response stamp.
void action_info(const char *stamp);
void action_mounts(const char *stamp);
void action_dirs(const char *root, const char *stamp);
