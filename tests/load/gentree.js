#!/usr/bin/env node
// Makes the home-like tree the load test serves, and prints what the
// folder breakdown must report for it.
//
//   node tests/load/gentree.js DIR [ENTRIES]
//
// DIR must not exist yet. ENTRIES (default 15000) is roughly how many
// entries the tree gets. Layout: project folders with wide node_modules,
// a cache of hashed buckets, document folders, a chain of nested folders,
// a folder with spaces and non-ASCII letters in its name, an empty folder,
// a few sparse files of 1 to 6 GiB (apparent size only), and links to a
// folder, a file and nowhere, which the breakdown leaves out.
//
// Standard output: one JSON object,
//   { "root": DIR, "entries": N, "files": N, "folders": N, "links": N,
//     "sparse_bytes": N, "expect": [ {name, path, bytes, is_dir}, ... ] }
// where expect is the top-level listing in the breakdown's order (bytes
// descending, then name in byte order): apparent sizes of the regular
// files beneath each entry, links skipped.
'use strict';

const fs = require('fs');
const path = require('path');

const root = process.argv[2];
const target = Number(process.argv[3] || 15000);
if (!root || !Number.isInteger(target) || target < 500 || target > 100000) {
  process.stderr.write('usage: gentree.js DIR [ENTRIES 500..100000]\n');
  process.exit(2);
}
const rootAbs = path.resolve(root);
fs.mkdirSync(rootAbs); // fails when DIR exists: never writes into a used folder

const GiB = 1024 * 1024 * 1024;
const zeros = Buffer.alloc(16384); // larger than any small file below
const stats = { entries: 0, files: 0, folders: 0, links: 0, sparse_bytes: 0 };
const totals = new Map(); // top-level name -> { bytes, is_dir }

// Deterministic sizes: a small linear congruential sequence.
let seed = 12345;
function nextSize(limit) {
  seed = (seed * 1103515245 + 12345) & 0x7fffffff;
  return seed % limit;
}

function topOf(rel) { return rel.split('/')[0]; }

function addFolder(rel) {
  fs.mkdirSync(path.join(rootAbs, rel));
  stats.entries++; stats.folders++;
  if (!rel.includes('/')) totals.set(rel, { bytes: 0, is_dir: true });
}

function addFile(rel, size) {
  fs.writeFileSync(path.join(rootAbs, rel), zeros.subarray(0, size));
  stats.entries++; stats.files++;
  const top = topOf(rel);
  if (!totals.has(top)) totals.set(top, { bytes: 0, is_dir: false });
  totals.get(top).bytes += size;
}

function addSparse(rel, size) {
  const fd = fs.openSync(path.join(rootAbs, rel), 'wx');
  try { fs.ftruncateSync(fd, size); } finally { fs.closeSync(fd); }
  stats.entries++; stats.files++; stats.sparse_bytes += size;
  const top = topOf(rel);
  if (!totals.has(top)) totals.set(top, { bytes: 0, is_dir: false });
  totals.get(top).bytes += size;
}

function addLink(rel, to) {
  fs.symlinkSync(to, path.join(rootAbs, rel));
  stats.entries++; stats.links++;
}

// Share of the target for each part of the tree.
const modulesPerProject = Math.max(4, Math.round(target * 0.45 / 6 / 11));
const buckets = Math.max(4, Math.round(target * 0.30 / 101));
const docFolders = Math.max(2, Math.round(target * 0.15 / 41));

// Six projects: src with a few files, node_modules with packages of ten files.
addFolder('projects');
for (let p = 0; p < 6; p++) {
  const proj = 'projects/app' + p;
  addFolder(proj);
  addFolder(proj + '/src');
  for (let f = 0; f < 12; f++) addFile(proj + '/src/mod' + f + '.js', 200 + nextSize(3000));
  addFile(proj + '/package.json', 300 + nextSize(400));
  addFolder(proj + '/node_modules');
  for (let m = 0; m < modulesPerProject; m++) {
    const mod = proj + '/node_modules/pkg' + m;
    addFolder(mod);
    for (let f = 0; f < 10; f++) addFile(mod + '/f' + f + '.js', nextSize(4096));
  }
}

// A cache of hashed buckets, 100 small files each.
addFolder('.cache');
addFolder('.cache/store');
for (let b = 0; b < buckets; b++) {
  const dir = '.cache/store/' + b.toString(16).padStart(2, '0');
  addFolder(dir);
  for (let f = 0; f < 100; f++) addFile(dir + '/' + (b * 100 + f).toString(36), nextSize(2048));
}

// Documents: folders of forty files, and a link to one of them.
addFolder('Documents');
for (let d = 0; d < docFolders; d++) {
  const dir = 'Documents/folder' + d;
  addFolder(dir);
  for (let f = 0; f < 40; f++) addFile(dir + '/note' + f + '.txt', nextSize(4096));
}
addLink('Documents/latest', 'folder0/note0.txt');

// A chain of nested folders seven levels deep, two files on each level.
addFolder('deep');
let chain = 'deep';
for (let level = 2; level <= 8; level++) {
  chain += '/d' + level;
  addFolder(chain);
  addFile(chain + '/a.bin', 1000 * level);
  addFile(chain + '/b.bin', 7 * level);
}

// A folder whose name needs care in JSON and in a URL.
addFolder('My Música "archive"');
for (let f = 0; f < 25; f++) addFile('My Música "archive"/track ' + f + '.flac', 1000 + nextSize(4000));

// Sparse big files: apparent size only, no blocks written.
addFolder('Videos');
addSparse('Videos/holiday.mkv', 3 * GiB);
addSparse('Videos/talk.mp4', 1 * GiB + 12345);
addSparse('disk-image.iso', 6 * GiB);
addFile('.bashrc', 3771);
addFolder('Empty');

// Links at the top: left out of the breakdown.
addLink('projects-link', 'projects');
addLink('bashrc-link', '.bashrc');
addLink('dangling', 'no-such-entry');

const expect = [...totals.entries()]
  .map(([name, t]) => ({ name, path: path.join(rootAbs, name), bytes: t.bytes, is_dir: t.is_dir }))
  .sort((a, b) => (a.bytes !== b.bytes ? b.bytes - a.bytes
    : Buffer.compare(Buffer.from(a.name), Buffer.from(b.name))));

process.stdout.write(JSON.stringify({ root: rootAbs, ...stats, expect }) + '\n');
