#!/usr/bin/env node
'use strict';
// The native mounts reply against df on this machine:
//   node mounts_vs_df.js <program>
// The same mount points as "df -B1", the same sizes and inode counts, the
// reply's own arithmetic (used + free = total, the percentages) and its
// order (largest first, ties by mount path bytes). Then the dirs reply's
// root usage for a folder against "df -B1 <folder>".
//
// df runs right before and right after the program. Totals must match
// exactly; used and available bytes and used inodes move while other work
// writes to the disk, so they must lie between the two df readings. A round
// that fails only because the disk moved too much is tried again, up to 5
// rounds.

const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');

const program = process.argv[2];
if (!program) {
  process.stderr.write('usage: node mounts_vs_df.js <program>\n');
  process.exit(2);
}

function run(file, args, env) {
  const r = spawnSync(file, args, { env, encoding: 'latin1' });
  if (r.error) throw r.error;
  return r;
}

// Lines of "target n n ..."; the target may hold spaces, the numbers not.
function table(args, cols) {
  const r = run('df', args, { PATH: process.env.PATH || '/usr/bin:/bin', LC_ALL: 'C' });
  if (r.status !== 0) throw new Error('df ' + args.join(' ') + ' failed: ' + r.stderr);
  const rows = new Map();
  for (const line of r.stdout.split('\n').slice(1)) {
    if (!line.trim()) continue;
    const parts = line.trim().split(/\s+/);
    const nums = parts.splice(parts.length - cols, cols);
    rows.set(parts.join(' '), nums.map((x) => (x === '-' ? null : BigInt(x))));
  }
  return rows;
}

function snapshot() {
  const rows = table(['-B1', '--output=target,size,used,avail,itotal,iused'], 5);
  const sizes = new Map();
  const inodes = new Map();
  for (const [k, v] of rows) {
    sizes.set(k, v.slice(0, 3));
    inodes.set(k, v.slice(3));
  }
  return { sizes, inodes };
}

function pct(n, d) {
  if (d === 0n) return '0.0';
  let v = (Number(n) * 100.0) / Number(d);
  if (v < 0) v = 0;
  if (v > 100) v = 100;
  return v.toFixed(1);
}

function between(v, a, b) {
  const lo = a < b ? a : b;
  const hi = a < b ? b : a;
  return v >= lo && v <= hi;
}

function cmpBytes(a, b) {
  return Buffer.compare(Buffer.from(a, 'latin1'), Buffer.from(b, 'latin1'));
}

// Returns { hard: [...], moved: [...] }: hard errors never go away on retry.
function round() {
  const hard = [];
  const moved = [];
  const before = snapshot();
  const r = run(program, [], { QUERY_STRING: 'action=mounts' });
  const after = snapshot();

  if (r.status !== 0) hard.push(`exit status ${r.status}`);
  if (r.stderr !== '') hard.push(`stderr not empty: ${JSON.stringify(r.stderr)}`);
  const at = r.stdout.indexOf('\r\n\r\n');
  if (at < 0) return { hard: hard.concat('no header block'), moved };
  let reply;
  try {
    // Keep numbers exactly as written: quote every one before parsing.
    const body = r.stdout.slice(at + 4).replace(/(":)([0-9]+(?:\.[0-9]+)?)([,}])/g, '$1"$2"$3');
    reply = JSON.parse(body);
  } catch (e) {
    return { hard: hard.concat('body is not JSON: ' + e.message), moved };
  }
  const mounts = reply.mounts || [];
  if (Number(reply.count) !== mounts.length) hard.push(`count ${reply.count} but ${mounts.length} listed`);

  const want = [...before.sizes.keys()].sort();
  const got = mounts.map((m) => m.mount).sort();
  if (JSON.stringify(want) !== JSON.stringify(got)) {
    const wantAfter = [...after.sizes.keys()].sort();
    (JSON.stringify(wantAfter) === JSON.stringify(want) ? hard : moved).push(
      `mount points differ:\n    df:     ${want.join(' ')}\n    plugin: ${got.join(' ')}`);
  }

  for (const m of mounts) {
    const a = before.sizes.get(m.mount);
    const b = after.sizes.get(m.mount);
    const total = BigInt(m.total_bytes);
    const used = BigInt(m.used_bytes);
    const free = BigInt(m.free_bytes);
    const avail = BigInt(m.avail_bytes);
    const where = `mount ${m.mount}`;
    if (used + free !== total) hard.push(`${where}: used ${used} + free ${free} != total ${total}`);
    if (m.pct !== pct(used, used + avail)) hard.push(`${where}: pct ${m.pct}, expected ${pct(used, used + avail)}`);
    if (!a || !b) continue;
    if (total !== a[0] || total !== b[0]) {
      (a[0] === b[0] ? hard : moved).push(`${where}: total ${total}, df says ${a[0]} / ${b[0]}`);
    }
    if (!between(used, a[1], b[1])) moved.push(`${where}: used ${used}, df says ${a[1]} then ${b[1]}`);
    if (!between(avail, a[2], b[2])) moved.push(`${where}: avail ${avail}, df says ${a[2]} then ${b[2]}`);

    const ia = before.inodes.get(m.mount);
    const ib = after.inodes.get(m.mount);
    if (!ia || !ib) continue;
    const itotal = ia[0] || 0n;
    const hasInodes = itotal > 0n;
    const iused = BigInt(m.inodes_used);
    if (m.has_inodes !== hasInodes) hard.push(`${where}: has_inodes ${m.has_inodes}, df -i total ${itotal}`);
    if (BigInt(m.inodes_total) !== itotal) hard.push(`${where}: inodes_total ${m.inodes_total}, df -i says ${itotal}`);
    if (hasInodes) {
      if (!between(iused, ia[1] || 0n, ib[1] || 0n)) {
        moved.push(`${where}: inodes_used ${iused}, df -i says ${ia[1]} then ${ib[1]}`);
      }
      if (m.inodes_pct !== pct(iused, itotal)) hard.push(`${where}: inodes_pct ${m.inodes_pct}, expected ${pct(iused, itotal)}`);
    } else if (m.inodes_pct !== '0.0') {
      hard.push(`${where}: inodes_pct ${m.inodes_pct} without inodes`);
    }
  }

  for (let i = 1; i < mounts.length; i++) {
    const p = mounts[i - 1];
    const q = mounts[i];
    const tp = BigInt(p.total_bytes);
    const tq = BigInt(q.total_bytes);
    if (tp < tq || (tp === tq && cmpBytes(p.mount, q.mount) > 0)) {
      hard.push(`order: ${p.mount} (${tp}) listed before ${q.mount} (${tq})`);
    }
  }
  return { hard, moved };
}

// The dirs reply for a small home folder: its root usage is the usage of
// the file system that holds the folder.
function dirsRound(home) {
  const hard = [];
  const moved = [];
  const dfArgs = ['-B1', '--output=target,size,used,avail', home];
  const before = [...table(dfArgs, 3).values()][0];
  const r = run(program, [], { QUERY_STRING: 'action=dirs&root=home', USERPROFILE: home });
  const after = [...table(dfArgs, 3).values()][0];
  if (r.status !== 0) hard.push(`dirs: exit status ${r.status}`);
  const m = /"root_total_bytes":([0-9]+),"root_used_bytes":([0-9]+),"root_free_bytes":([0-9]+),"root_pct":([0-9.]+)/.exec(r.stdout);
  if (!m) return { hard: hard.concat('dirs: no root usage in ' + JSON.stringify(r.stdout)), moved };
  const [total, used, free] = m.slice(1, 4).map(BigInt);
  if (used + free !== total) hard.push(`dirs: used ${used} + free ${free} != total ${total}`);
  if (total !== before[0] || total !== after[0]) {
    (before[0] === after[0] ? hard : moved).push(`dirs: root_total_bytes ${total}, df says ${before[0]} / ${after[0]}`);
  }
  if (!between(used, before[1], after[1])) moved.push(`dirs: root_used_bytes ${used}, df says ${before[1]} then ${after[1]}`);
  const pcts = [pct(used, used + before[2]), pct(used, used + after[2])];
  if (!pcts.includes(m[4])) moved.push(`dirs: root_pct ${m[4]}, expected ${pcts.join(' or ')}`);
  return { hard, moved };
}

function settle(label, fn) {
  let last;
  for (let attempt = 1; attempt <= 5; attempt++) {
    last = fn();
    if (last.hard.length === 0 && last.moved.length === 0) {
      process.stdout.write(`ok    ${label}\n`);
      return true;
    }
    if (last.hard.length) break;
    process.stdout.write(`      ${label}: round ${attempt}, the disk moved, trying again\n`);
  }
  process.stdout.write(`FAIL  ${label}\n`);
  for (const e of [...last.hard, ...last.moved]) process.stdout.write('    ' + e + '\n');
  return false;
}

const home = fs.mkdtempSync(path.join(os.tmpdir(), 'plugin_disks-df-'));
fs.writeFileSync(path.join(home, 'f'), 'x');
let passed = 0;
let failed = 0;
for (const [label, fn] of [
  ['mounts agree with df', round],
  ['dirs root usage agrees with df', () => dirsRound(home)],
]) {
  if (settle(label, fn)) passed++; else failed++;
}
fs.rmSync(home, { recursive: true, force: true });
process.stdout.write(`${passed} passed, ${failed} failed\n`);
process.exit(failed ? 1 : 0);
