#!/usr/bin/env node
'use strict';
// The detail reply's files by type and by age against find's own account
// of the same trees:
//   node kinds_vs_find.js [--wine] <program> <fixtures dir>
// For each fixture below, find lists every file the walk counts (down to
// level 9, never through a link or onto another file system) with its
// inode, size, blocks and time; from that alone the rows are made again:
// the type of each name by the extension rule, the band of each time
// measured from the reply's own utc, each name's size in its rows, what a
// file takes on disk (find's blocks) once, in the rows of the name that
// holds it (the entry named first, and in it the name whose type comes
// first), the twelve largest types and then the others. The reply's
// "types", "ages" and files' totals must be those, and so must the metrics
// reply's age and type series. With --wine the program is a Windows build
// run under Wine (WINEPREFIX from the environment, made when missing), on
// the same trees: both builds must give the same rows.

const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');
const fixtures = require('./fixtures');
const { splitReply } = require('./reply');

const args = process.argv.slice(2);
const wine = args[0] === '--wine';
if (wine) args.shift();
const [program, base] = args;
if (!program || !base) {
  process.stderr.write('usage: node kinds_vs_find.js [--wine] <program> <fixtures dir>\n');
  process.exit(2);
}
const TREES = ['kinds', 'detail', 'shared', 'sizes', 'utf8-names', 'depth'];
const BANDS = ['day', 'week', 'month', 'year', 'older', 'unknown'];
const DAY = 86400;

// ---- the program, natively or under Wine ------------------------------

const prefix = process.env.WINEPREFIX || path.join(path.dirname(path.resolve(program)), 'kinds-wineprefix');
const wineEnv = () => ({ WINEPREFIX: prefix, WINEDEBUG: '-all', LANG: 'C.UTF-8', PATH: process.env.PATH || '/usr/bin:/bin' });
if (wine) {
  fs.mkdirSync(prefix, { recursive: true });
  spawnSync('wineserver', ['-p'], { env: wineEnv(), stdio: 'ignore' });
  // The first start makes the prefix; Wine's services keep any pipe they
  // inherit open, so it writes to a file.
  const log = path.join(prefix, 'kinds-start.log');
  const fd = fs.openSync(log, 'w');
  const r = spawnSync('wine', ['cmd', '/c', 'exit'], { env: wineEnv(), stdio: ['ignore', fd, fd] });
  fs.closeSync(fd);
  if (r.status !== 0) {
    process.stderr.write('wine does not start:\n' + fs.readFileSync(log, 'latin1'));
    process.exit(2);
  }
}
const winPath = (p) => 'Z:' + p.replace(/\//g, '\\');

function reply(home, query) {
  let r;
  if (!wine) {
    r = spawnSync(program, [], { env: { USERPROFILE: home, QUERY_STRING: query }, encoding: 'latin1' });
  } else {
    r = spawnSync('wine', ['cmd', '/c', `set USERPROFILE=${winPath(home)}&& ${winPath(path.resolve(program))}`],
      { env: Object.assign(wineEnv(), { QUERY_STRING: query }), encoding: 'latin1' });
  }
  if (r.status !== 0) throw new Error(`${query}: exit status ${r.status}`);
  return Buffer.from(splitReply(r.stdout).body, 'latin1').toString('utf8');
}

// ---- the rows, made again from find ------------------------------------

// The type of a name's bytes: { rank, text }, rank 0 no extension, 1 an
// extension, 2 none that is a type (longer than 16 bytes, or not UTF-8).
function typeOf(name) {
  const i = name.lastIndexOf(0x2e);
  if (i <= 0 || i === name.length - 1) return { rank: 0, text: '' };
  const ext = Buffer.from(name.subarray(i + 1));
  if (ext.length > 16) return { rank: 2, text: null };
  const text = ext.toString('utf8');
  if (!Buffer.from(text, 'utf8').equals(ext)) return { rank: 2, text: null };
  for (let k = 0; k < ext.length; k++) if (ext[k] >= 0x41 && ext[k] <= 0x5a) ext[k] += 0x20;
  return { rank: 1, text: ext.toString('utf8') };
}
const typeCmp = (a, b) => a.rank - b.rank || (a.rank === 1 ? Buffer.compare(Buffer.from(a.text), Buffer.from(b.text)) : 0);

function bandOf(now, mtime) {
  if (mtime >= now) return 0;
  const age = now - mtime;
  return age < DAY ? 0 : age < 7 * DAY ? 1 : age < 30 * DAY ? 2 : age < 365 * DAY ? 3 : 4;
}

// Every file the walk counts below home: its names (entry, type), size,
// blocks and time, one record per name, grouped by inode.
function files(home) {
  const r = spawnSync('find', [home, '-mindepth', '1', '-maxdepth', '9', '-xdev', '-type', 'f',
    '-printf', '%i %s %b %T@ %P\\0'], { encoding: 'latin1', maxBuffer: 1 << 26 });
  if (r.status !== 0) throw new Error('find failed: ' + r.stderr);
  const byInode = new Map();
  for (const rec of r.stdout.split('\0').filter(Boolean)) {
    const m = /^(\d+) (\d+) (\d+) (\d+)(?:\.\d+)? (.*)$/s.exec(rec);
    const rel = Buffer.from(m[5], 'latin1');
    const slash = rel.indexOf(0x2f), last = rel.lastIndexOf(0x2f);
    const name = { entry: slash < 0 ? rel : rel.subarray(0, slash), type: typeOf(rel.subarray(last + 1)) };
    const f = byInode.get(m[1]) || { size: Number(m[2]), disk: Number(m[3]) * 512, mtime: Number(m[4]), names: [] };
    f.names.push(name);
    byInode.set(m[1], f);
  }
  return [...byInode.values()];
}

function expected(home, now) {
  const types = new Map(), ages = BANDS.map((age) => ({ age, files: 0, bytes: 0, disk_bytes: 0 }));
  const row = (t) => {
    const key = t.rank === 2 ? 'odd' : 't' + t.text;
    if (!types.has(key)) types.set(key, { t, files: 0, bytes: 0, disk_bytes: 0 });
    return types.get(key);
  };
  for (const f of files(home)) {
    const band = ages[bandOf(now, f.mtime)];
    for (const n of f.names) {
      row(n.type).files++;
      row(n.type).bytes += f.size;
      band.files++;
      band.bytes += f.size;
    }
    // Held by the entry named first, and in it by the name whose type
    // comes first.
    const holder = f.names.reduce((a, b) => {
      const c = Buffer.compare(a.entry, b.entry);
      return c < 0 || (c === 0 && typeCmp(a.type, b.type) <= 0) ? a : b;
    });
    row(holder.type).disk_bytes += f.disk;
    band.disk_bytes += f.disk;
  }
  const all = [...types.values()];
  const ranked = all.filter((r) => r.t.rank < 2).sort((a, b) =>
    b.disk_bytes - a.disk_bytes || b.bytes - a.bytes || typeCmp(a.t, b.t));
  const out = ranked.slice(0, 12).map((r) => ({ type: r.t.text, files: r.files, bytes: r.bytes, disk_bytes: r.disk_bytes, exact: true }));
  const rest = all.filter((r) => !ranked.slice(0, 12).includes(r));
  if (rest.some((r) => r.files)) {
    const sum = (k) => rest.reduce((s, r) => s + r[k], 0);
    out.push({ type: null, files: sum('files'), bytes: sum('bytes'), disk_bytes: sum('disk_bytes'), exact: true });
  }
  return { types: out, ages };
}

// ---- the comparison ---------------------------------------------------

let failed = 0;
const fail = (msg) => { failed++; process.stdout.write('FAIL  ' + msg + '\n'); };
const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);
try {
  for (const name of TREES) {
    const home = fixtures.ensure(path.resolve(base), name);
    const doc = JSON.parse(reply(home, 'action=dirs&root=home&detail=1'));
    const want = expected(home, Math.floor(Date.parse(doc.utc) / 1000));
    const label = `${name} (${doc.platform})`;
    if (!same(doc.types, want.types)) fail(`${label}: types\n    reply: ${JSON.stringify(doc.types)}\n    find:  ${JSON.stringify(want.types)}`);
    if (!same(doc.ages, want.ages)) fail(`${label}: ages\n    reply: ${JSON.stringify(doc.ages)}\n    find:  ${JSON.stringify(want.ages)}`);
    const total = (k) => want.ages.reduce((s, a) => s + a[k], 0);
    if (!same([doc.files, doc.files_bytes, doc.files_disk_bytes], [total('files'), total('bytes'), total('disk_bytes')])) {
      fail(`${label}: files ${doc.files}, ${doc.files_bytes}, ${doc.files_disk_bytes}`);
    }
    if (doc.files_partial !== doc.folder_partial) fail(`${label}: files_partial ${doc.files_partial}, folder_partial ${doc.folder_partial}`);
    if (doc.files_bytes !== doc.folder_bytes) fail(`${label}: files_bytes ${doc.files_bytes}, folder_bytes ${doc.folder_bytes}`);
    // The metrics reply of the same tree: the bands, and the ten largest
    // types (a band may move between the two runs only at its edge, which
    // none of these files is near).
    const metrics = reply(home, 'action=metrics&root=home');
    const series = new Map(metrics.split('\n').filter((l) => /^disks_home_(age|type)_/.test(l))
      .map((l) => [l.slice(0, l.lastIndexOf(' ')), Number(l.slice(l.lastIndexOf(' ') + 1))]));
    const seen = new Map();
    for (const a of want.ages) {
      seen.set(`disks_home_age_files{age="${a.age}"}`, a.files);
      seen.set(`disks_home_age_bytes{age="${a.age}"}`, a.bytes);
      seen.set(`disks_home_age_disk_bytes{age="${a.age}"}`, a.disk_bytes);
    }
    for (const t of want.types.filter((r) => r.type !== null).slice(0, 10)) {
      const label2 = `{type=${JSON.stringify(t.type)}}`;
      seen.set(`disks_home_type_files${label2}`, t.files);
      seen.set(`disks_home_type_bytes${label2}`, t.bytes);
      seen.set(`disks_home_type_disk_bytes${label2}`, t.disk_bytes);
    }
    if (!same([...series].sort(), [...seen].sort())) {
      fail(`${label}: metrics\n    reply: ${JSON.stringify([...series])}\n    find:  ${JSON.stringify([...seen])}`);
    }
    process.stdout.write(`ok    ${label}: ${want.types.length} type rows, ${total('files')} files in six bands, as find counts them\n`);
  }
} finally {
  if (wine) spawnSync('wineserver', ['-k'], { env: wineEnv(), stdio: 'ignore' });
}
process.stdout.write(failed ? `${failed} failed\n` : 'all agree with find\n');
process.exit(failed ? 1 : 0);
