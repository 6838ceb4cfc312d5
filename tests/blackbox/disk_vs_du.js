#!/usr/bin/env node
'use strict';
// The native detail reply against du on this machine:
//   node disk_vs_du.js <program> <fixtures dir>
// For each listed folder below: every entry whose total is whole has the
// disk_bytes that du -B1 -s gives for it when given every entry, in byte
// order of their names (du counts a hard-linked file once, in the first
// of its arguments that holds it), and so has each of its children (the
// largest entries directly inside it) that holds no hard-linked file; and
// the folder's disk total, when
// whole, is what du -B1 -s -c gives for every name in the folder, links
// included (du counts a link's own blocks). A total that is not whole
// must say why, with the reason given. And the same request without
// detail=1 gives the detail reply less its added fields, byte for byte.
// The expected values assume nothing: whatever the volume's blocks, du
// and the reply must agree.
//
// A listing marked "nobody" is made by that user (when this runs as root
// and the user can reach the fixtures): then a folder that may be read but
// not searched is unreadable, to the program as to du.

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

// Each fixture listed, sub folders of it, the entries that are not whole
// there with why, and who lists it.
const listings = [
  ['detail', '', { past: 'depth' }], ['detail', 'deep'], ['detail', 'links'],
  ['sizes', ''], ['sparse', ''], ['depth', '', { d1: 'depth' }], ['utf8-names', ''],
  ['link-blocks', ''], ['link-blocks', 'own'], ['linked-links', ''], ['shared', ''],
  ['unsearchable', ''],
  ['unsearchable', '', { shut: 'unreadable' }, 'nobody'],
];
const NOBODY = ['--reuid=65534', '--regid=65534', '--clear-groups'];

// Runs argv, as nobody when asked.
function run(argv, as, options) {
  const cmd = as === 'nobody' ? ['setpriv', ...NOBODY, ...argv] : argv;
  return spawnSync(cmd[0], cmd.slice(1), options);
}

function reply(home, query, as) {
  const r = run([program], as, { env: { USERPROFILE: home, QUERY_STRING: query }, encoding: 'latin1' });
  if (r.status !== 0) throw new Error(`${query}: exit status ${r.status}`);
  return splitReply(r.stdout).body;
}

// What du gives for each of paths (a path whose files were all counted
// under an earlier one has no line of its own: 0) and in all.
function du(paths, as) {
  const r = run(['du', '-B1', '-s', '-c', '--', ...paths], as, { encoding: 'utf8', env: { LC_ALL: 'C' } });
  const lines = r.stdout.trim().split('\n').map((l) => l.split('\t'));
  const of = new Map(lines.slice(0, -1).map(([n, p]) => [p, BigInt(n)]));
  return { ok: r.status === 0, sizes: paths.map((p) => of.get(p) || 0n), total: BigInt(lines[lines.length - 1][0]) };
}

const byBytes = (a, b) => Buffer.compare(Buffer.from(a), Buffer.from(b));

// The reply less every field detail=1 adds.
function withoutDetail(body) {
  return body
    .replace(/,"folder_bytes":[0-9]+,"folder_disk_bytes":[0-9]+,"folder_items":[0-9]+,"folder_partial":(null|"[a-z_]+")/, '')
    .replace(/,"children":\[[^\]]*\]/g, '')
    .replace(/,"disk_bytes":[0-9]+/g, '')
    .replace(/,"items":[0-9]+,"modified":(null|"[-0-9T:Z]+"),"partial":(null|"[a-z_]+")/g, '')
    .replace(/,"largest":\[.*\],"largest_partial":(null|"[a-z_]+"),"files":.*\]\}/, '}');
}

// Whether user as can reach the folder at all (it cannot below a folder
// closed to others, where the project may have been checked out).
function reachable(folder, as) {
  return !as || (process.getuid() === 0 && run(['test', '-x', folder], as).status === 0);
}

let failed = 0;
const fail = (msg) => { failed++; process.stdout.write('FAIL  ' + msg + '\n'); };
for (const [name, sub, partial = {}, as] of listings) {
  const home = fixtures.ensure(path.resolve(base), name);
  const folder = sub ? path.join(home, sub) : home;
  const q = 'action=dirs&root=home' + (sub ? '&sub=' + encodeURIComponent(sub) : '');
  const label = name + (sub ? ' sub=' + sub : '') + (as ? ' as ' + as : '');
  if (!reachable(folder, as)) {
    process.stdout.write(`skip  ${label}: ${as} cannot reach ${folder}\n`);
    continue;
  }
  const detailed = reply(home, q + '&detail=1', as);
  // The fixtures' sizes are far below 2^53: plain numbers hold them.
  const doc = JSON.parse(Buffer.from(detailed, 'latin1').toString('utf8'));
  const entries = [...doc.entries].sort((a, b) => byBytes(a.name, b.name));
  const each = du(entries.map((e) => e.path), as);
  let checked = 0;
  entries.forEach((e, i) => {
    const want = partial[e.name] || null;
    if (e.partial !== want) fail(`${label}: ${e.name} partial ${e.partial}, not ${want}`);
    if (e.partial !== null) return;
    if (BigInt(e.disk_bytes) !== each.sizes[i]) fail(`${label}: ${e.name} disk_bytes ${e.disk_bytes}, du ${each.sizes[i]}`);
    checked++;
    for (const c of e.children || []) {
      const p = path.join(e.path, c.name);
      // A linked file counts where the walk met it first in its entry.
      if (run(['find', p, '-type', 'f', '-links', '+1', '-print', '-quit'], as, { encoding: 'utf8' }).stdout) continue;
      const got = du([p], as).total;
      if (BigInt(c.disk_bytes) !== got) fail(`${label}: ${e.name}/${c.name} disk_bytes ${c.disk_bytes}, du ${got}`);
      checked++;
    }
  });
  // du too says when it could not read everything.
  const unreadable = Object.values(partial).includes('unreadable');
  if (unreadable && each.ok) fail(`${label}: du read everything, yet the reply says unreadable`);
  if (unreadable && doc.folder_partial !== 'unreadable') fail(`${label}: folder_partial ${doc.folder_partial}`);
  if (doc.folder_partial === null && !doc.truncated) {
    const names = fs.readdirSync(folder).sort(byBytes).map((n) => path.join(folder, n));
    const want = names.length ? du(names, as).total : 0n;
    if (BigInt(doc.folder_disk_bytes) !== want) fail(`${label}: folder_disk_bytes ${doc.folder_disk_bytes}, du ${want}`);
  }
  const plain = reply(home, q, as);
  if (normaliseLive(withoutDetail(detailed)) !== normaliseLive(plain)) {
    fail(`${label}: the reply without detail=1 is not the detail reply less its fields\n    ${plain}\n    ${withoutDetail(detailed)}`);
  }
  process.stdout.write(`ok    ${label}: ${checked} entries and children against du\n`);
}
process.stdout.write(failed ? `${failed} failed\n` : 'all agree with du\n');
process.exit(failed ? 1 : 0);
