#!/usr/bin/env node
'use strict';
// The native detail reply against du on this machine:
//   node disk_vs_du.js <program> <fixtures dir>
// For each listed folder below: every entry whose total is whole has the
// disk_bytes "du -B1 -s" gives for it, and so has each of its children
// (the largest entries directly inside it), and the folder's disk total, when
// whole, is what "du -B1 -s -c" gives for all its entries together (du,
// too, counts a hard-linked file once). And the same request without
// detail=1 gives the detail reply less its added fields, byte for byte.
// The expected values assume nothing: whatever the volume's blocks, du
// and the reply must agree.

const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');
const fixtures = require('./fixtures');
const { splitReply, normaliseLive } = require('./reply');

const [program, base] = process.argv.slice(2);
if (!program || !base) {
  process.stderr.write('usage: node disk_vs_du.js <program> <fixtures dir>\n');
  process.exit(2);
}

// Each fixture listed, and sub folders of it.
const listings = [
  ['detail', ''], ['detail', 'deep'], ['detail', 'links'],
  ['sizes', ''], ['sparse', ''], ['depth', ''], ['utf8-names', ''],
];

function reply(home, query) {
  const r = spawnSync(program, [], { env: { USERPROFILE: home, QUERY_STRING: query }, encoding: 'latin1' });
  if (r.status !== 0) throw new Error(`${query}: exit status ${r.status}`);
  return splitReply(r.stdout).body;
}

// du's allocated bytes for paths (one total, links counted once).
function du(paths) {
  const r = spawnSync('du', ['-B1', '-s', '-c', '--', ...paths], { encoding: 'utf8', env: { LC_ALL: 'C' } });
  if (r.status !== 0) throw new Error('du failed: ' + r.stderr);
  const lines = r.stdout.trim().split('\n');
  return BigInt(lines[lines.length - 1].split('\t')[0]);
}

// The reply less every field detail=1 adds.
function withoutDetail(body) {
  return body
    .replace(/,"folder_bytes":[0-9]+,"folder_disk_bytes":[0-9]+,"folder_items":[0-9]+,"folder_partial":(null|"[a-z_]+")/, '')
    .replace(/,"disk_bytes":[0-9]+/g, '')
    .replace(/,"items":[0-9]+,"modified":(null|"[-0-9T:Z]+"),"partial":(null|"[a-z_]+")/g, '')
    .replace(/,"children":\[[^\]]*\]/g, '')
    .replace(/,"largest":\[.*\],"largest_partial":(null|"[a-z_]+")\}/, '}');
}

let failed = 0;
const fail = (msg) => { failed++; process.stdout.write('FAIL  ' + msg + '\n'); };
for (const [name, sub] of listings) {
  const home = fixtures.ensure(path.resolve(base), name);
  const q = 'action=dirs&root=home' + (sub ? '&sub=' + encodeURIComponent(sub) : '');
  const label = name + (sub ? ' sub=' + sub : '');
  const detailed = reply(home, q + '&detail=1');
  // The fixtures' sizes are far below 2^53: plain numbers hold them.
  const doc = JSON.parse(Buffer.from(detailed, 'latin1').toString('utf8'));
  let checked = 0;
  for (const e of doc.entries) {
    // A hard-linked file counts where the walk met it first; the folder's
    // total below checks those.
    if (e.partial !== null || (!e.is_dir && fs.statSync(e.path).nlink > 1)) continue;
    const want = du([e.path]);
    if (BigInt(e.disk_bytes) !== want) fail(`${label}: ${e.name} disk_bytes ${e.disk_bytes}, du ${want}`);
    checked++;
    for (const c of e.children || []) {
      const p = path.join(e.path, c.name);
      if (!c.is_dir && fs.statSync(p).nlink > 1) continue;
      const got = du([p]);
      if (BigInt(c.disk_bytes) !== got) fail(`${label}: ${e.name}/${c.name} disk_bytes ${c.disk_bytes}, du ${got}`);
      checked++;
    }
  }
  if (doc.folder_partial === null && !doc.truncated) {
    const want = doc.entries.length ? du(doc.entries.map((e) => e.path)) : 0n;
    if (BigInt(doc.folder_disk_bytes) !== want) fail(`${label}: folder_disk_bytes ${doc.folder_disk_bytes}, du ${want}`);
  }
  const plain = reply(home, q);
  if (normaliseLive(withoutDetail(detailed)) !== normaliseLive(plain)) {
    fail(`${label}: the reply without detail=1 is not the detail reply less its fields\n    ${plain}\n    ${withoutDetail(detailed)}`);
  }
  process.stdout.write(`ok    ${label}: ${checked} entries and children against du\n`);
}
process.stdout.write(failed ? `${failed} failed\n` : 'all agree with du\n');
process.exit(failed ? 1 : 0);
