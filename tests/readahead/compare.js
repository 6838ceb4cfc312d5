#!/usr/bin/env node
'use strict';
// The folder breakdown with read-ahead against the same breakdown without:
//
//   node compare.js --on <program> --off <program> --fixtures <dir>
//
// 1. Every black-box fixture tree (fixtures.js), the truncated ones among
//    them: the two programs' dirs replies must be the same bytes, less
//    scan_ms, utc and the volume's usage (other work writes to the disk
//    between the two runs).
// 2. A tree that changes while the walk runs: a second process keeps
//    adding, removing and renaming files and folders and turning folders
//    into links; every reply of <on> meanwhile must end with status 0,
//    write nothing to standard error and be a well-formed dirs reply.
//    Once the changes stop, both programs must again give the same bytes.
// Each run is given a generous time limit, only so that a hang fails the
// case instead of stopping the suite; no time is asserted.
//
// Prints one line per failed case and a count; exits non-zero on failure.

const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawn, spawnSync } = require('child_process');
const fixtures = require('../blackbox/fixtures');

function parseArgs(argv) {
  const o = {};
  for (let i = 0; i < argv.length; i += 2) o[argv[i].replace(/^--/, '')] = argv[i + 1];
  if (!o.on || !o.off || !o.fixtures) {
    process.stderr.write('usage: node compare.js --on <program> --off <program> --fixtures <dir>\n');
    process.exit(2);
  }
  return o;
}

const opts = parseArgs(process.argv.slice(2));
let passed = 0;
let failed = 0;
function fail(name, why) {
  failed++;
  process.stdout.write(`FAIL: ${name}: ${why}\n`);
}

// One dirs request of program with home as its home folder.
function dirs(program, home) {
  const r = spawnSync(program, [], {
    env: { PATH: '/usr/bin:/bin', USERPROFILE: home, QUERY_STRING: 'action=dirs&root=home' },
    encoding: 'latin1',
    timeout: 120000,
    maxBuffer: 64 * 1024 * 1024,
  });
  return { status: r.status, signal: r.signal, stdout: r.stdout || '', stderr: r.stderr || '', error: r.error };
}

function masked(reply) {
  return reply
    .replace(/"root_used_bytes":\d+,"root_free_bytes":\d+,"root_pct":[\d.]+/, '')
    .replace(/"scan_ms":\d+,"utc":"[^"]*"/, '');
}

// A dirs reply that is whole and well formed; returns why not, or ''.
function malformed(run) {
  if (run.error) return String(run.error);
  if (run.status !== 0) return `status ${run.status} signal ${run.signal}`;
  if (run.stderr) return 'standard error: ' + run.stderr.slice(0, 300);
  const at = run.stdout.indexOf('\r\n\r\n');
  if (at < 0) return 'no header block';
  let body;
  try {
    body = JSON.parse(Buffer.from(run.stdout.slice(at + 4), 'latin1').toString('utf8'));
  } catch (e) {
    return 'body is not JSON: ' + e.message;
  }
  if (body.ok !== true || body.action !== 'dirs') return 'not a dirs success reply';
  if (!Array.isArray(body.entries) || body.entries.length !== body.count) return 'count and entries disagree';
  if (body.count > 512) return 'more than 512 entries';
  for (let i = 1; i < body.entries.length; i++) {
    if (body.entries[i - 1].bytes < body.entries[i].bytes) return 'entries out of order';
  }
  return '';
}

function same(name, home) {
  const on = dirs(opts.on, home);
  const off = dirs(opts.off, home);
  for (const [which, run] of [['on', on], ['off', off]]) {
    const why = malformed(run);
    if (why) return fail(name, `${which}: ${why}`);
  }
  const a = masked(on.stdout);
  const b = masked(off.stdout);
  if (a !== b) {
    let i = 0;
    while (i < a.length && a[i] === b[i]) i++;
    return fail(name, `replies differ at byte ${i}: on ...${JSON.stringify(a.slice(i, i + 80))}` +
      ` off ...${JSON.stringify(b.slice(i, i + 80))}`);
  }
  passed++;
}

// ---- 1. the fixture trees ------------------------------------------------
const base = path.resolve(opts.fixtures);
// A home that does not exist is refused before any walk (the black-box
// cases of tests/readahead/run check that refusal with read-ahead on):
// nothing to compare.
for (const name of fixtures.names()) {
  const home = fixtures.ensure(base, name);
  if (fs.existsSync(home)) same('fixture ' + name, home);
}

// ---- 2. a tree that changes during the walk -------------------------------
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'plugin-readahead.'));
const home = path.join(work, 'home');
fs.mkdirSync(home);
// 40 folders of 3 levels with 60 files each: about 7500 entries.
for (let d = 0; d < 40; d++) {
  let p = path.join(home, 'd' + d);
  for (let lv = 0; lv < 3; lv++) {
    p = path.join(p, 'l' + lv);
    fs.mkdirSync(p, { recursive: true });
    for (let f = 0; f < 60; f++) fs.writeFileSync(path.join(p, 'f' + f), 'x'.repeat(f));
  }
}

// The changer: a separate process, so that its file-system calls run while
// the program's walk and helpers run.
const changer = spawn(process.execPath, ['-e', `
  const fs = require('fs'), path = require('path');
  const home = process.argv[1];
  let n = 0;
  const stop = Date.now() + 60000;
  function step() {
    for (let k = 0; k < 50; k++, n++) {
      const d = path.join(home, 'd' + (n % 40));
      const deep = path.join(d, 'l0', 'l1');
      try {
        switch (n % 6) {
          case 0: fs.mkdirSync(path.join(d, 'new' + n), { recursive: true });
                  fs.writeFileSync(path.join(d, 'new' + n, 'a'), 'abc'); break;
          case 1: fs.rmSync(path.join(d, 'new' + (n - 1)), { recursive: true, force: true }); break;
          case 2: fs.renameSync(path.join(deep, 'l2'), path.join(deep, 'moved'));
                  fs.renameSync(path.join(deep, 'moved'), path.join(deep, 'l2')); break;
          case 3: fs.renameSync(path.join(deep, 'l2'), path.join(d, 'aside'));
                  fs.symlinkSync('../..', path.join(deep, 'l2'));
                  fs.unlinkSync(path.join(deep, 'l2'));
                  fs.renameSync(path.join(d, 'aside'), path.join(deep, 'l2')); break;
          case 4: fs.writeFileSync(path.join(deep, 'grow' + (n % 7)), 'y'.repeat(n % 5000)); break;
          case 5: fs.rmSync(path.join(deep, 'grow' + ((n + 3) % 7)), { force: true }); break;
        }
      } catch (e) { /* a race with itself is fine: the next step goes on */ }
    }
    if (Date.now() < stop && !fs.existsSync(path.join(home, '..', 'stop'))) setImmediate(step);
  }
  step();
`, home], { stdio: 'ignore' });

let runs = 0;
for (; runs < 30; runs++) {
  const why = malformed(dirs(opts.on, home));
  if (why) {
    fail(`changing tree, run ${runs + 1}`, why);
    break;
  }
}
fs.writeFileSync(path.join(work, 'stop'), '');
const waitExit = () => new Promise((resolve) => {
  if (changer.exitCode !== null || changer.signalCode !== null) resolve();
  else changer.on('exit', resolve);
});
waitExit().then(() => {
  if (runs === 30) passed++;
  same('changing tree, once it stops', home);
  fs.rmSync(work, { recursive: true, force: true });
  process.stdout.write(`${passed} passed, ${failed} failed\n`);
  process.exit(failed ? 1 : 0);
});
