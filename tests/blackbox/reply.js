'use strict';
// Pieces of a reply as the program writes it, shared by the tools that
// compare replies from different runs.

// Splits standard output (a byte string, one character per byte) into its
// header lines, the status the host would send and the body. Returns null
// when there is no header block.
function splitReply(out) {
  const end = out.indexOf('\r\n\r\n');
  if (end < 0) return null;
  const headers = out.slice(0, end).split('\r\n').map((line) => {
    const colon = line.indexOf(':');
    return { name: line.slice(0, colon), value: line.slice(colon + 1).trim() };
  });
  let status = 200;
  for (const h of headers) {
    if (h.name.toLowerCase() === 'status') status = parseInt(h.value, 10);
  }
  return { headers, status, body: out.slice(end + 4) };
}

// A JSON body with what differs from run to run replaced: the process id,
// the stamp, the walk time, and the figures that follow a volume's free
// space (used, free and available bytes, inodes in use, and the
// percentages made from them); the same figures in a line of a metrics
// reply. Other bodies are returned unchanged.
function normaliseLive(body) {
  // A line of a metrics reply whose value moves with the free space, or
  // the walk's time.
  if (/^disks_(filesystem_(free_bytes|avail_bytes|files_free)|home_walk_seconds)[{ ]/.test(body)) {
    return body.replace(/ [0-9.]+$/, ' N');
  }
  if (!body.startsWith('{')) return body;
  let s = body.replace(/"(pid|scan_ms)":[0-9]+/g, '"$1":N').replace(/"utc":"[^"]*"/g, '"utc":"T"');
  if (s.startsWith('{"ok":true,"action":"mounts"')) {
    s = s.replace(/"(used_bytes|free_bytes|avail_bytes|inodes_used)":[0-9]+/g, '"$1":N')
      .replace(/"(pct|inodes_pct)":[0-9.]+/g, '"$1":P');
  } else if (s.startsWith('{"ok":true,"action":"dirs"')) {
    s = s.replace(/"(root_used_bytes|root_free_bytes)":[0-9]+/g, '"$1":N')
      .replace(/"root_pct":[0-9.]+/g, '"root_pct":P');
  }
  return s;
}

module.exports = { splitReply, normaliseLive };
