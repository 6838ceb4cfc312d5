#!/usr/bin/env node
'use strict';
// Runs the program against file systems that stop answering and against
// mounts inside the home folder, from the cases of cases.json.
//
//   node run.js --program <native build> --hangfs <hangfs> --squat <squat> --work <dir>
//               [--program-readahead <native build, read-ahead always on>]
//               [--exe <windows build>] [--filter <text>] cases.json
//
// Must run as root inside a private mount namespace (tests/hang/run sees
// to that): every mount made here is made below --work.
//
// A native case runs the program chrooted into a fresh 64 MiB tmpfs with
// /proc mounted and /dev/null, so that its mount table holds that tmpfs
// ("/") and the case's own mounts only. A Wine case runs the .exe with a drive letter on
// the case's mounts. A case:
//   name       what it shows
//   wine       true: a Wine case
//   steps      in order, paths relative to the case's root (a native case)
//              or to its work folder (Wine); characters U+0080..U+00FF in
//              a path stand for single bytes:
//                { "dir": P }                   a folder (and its parents)
//                { "file": P, "size": N }       a file of N bytes
//                { "tmpfs": P, "size": "8m", "source": S,
//                  "repeat": N }                N mounts, {i} in P: 001...
//                { "bind": FROM, "to": P }
//                { "fuse": P, "hang": "none"|"statfs"|"all"|"others"|"dir",
//                  "answer_statfs": N, "answer": N,
//                  "fail": "readdir"|"lookup", "blocks": N }  a hangfs mount
//                { "chmod": P, "mode": "644" }
//                { "drive": "h", "to": P }      (Wine) drive letter H: on P
//   no_openat2 true: run as on a kernel without openat2 (before 5.6)
//   readahead  "always": the build whose read-ahead starts with the walk
//              (--program-readahead), not once the walk reads from a disk
//   env        the program's environment (nothing else is inherited)
//   user       natively: the user the program runs as (default root)
//   deadlines  how many times the program must wait its 1 s deadline: the
//              reply must end no sooner than that and within a margin after
//   stdout     the whole reply, with the placeholders of tests/blackbox
//              ({n}, {pct}, {pid}, {utc}, {ms}, {fffd}, {text:NAME}); or,
//              as there, starts_with, ends_with, contains, not_contains,
//              occurrences
//   left_while_held  how many processes of the program may be left while
//              the file systems hang (default: 1 with deadlines, else 0)
// After each case the held requests are answered (EIO) and nothing the
// program left behind may outlive that by more than a few seconds.
// Natively, a process of the program left behind has the null device on
// its standard input, output and error, never a descriptor of another
// file in their place.
//
// A case with "polls" makes the same request again and again, as a
// dashboard does, each time once the reply before has come:
//   polls         how many requests while the file systems hang
//   stall         true: the first reply waits for the walk's stall bound
//                 (5 s) as well as its deadlines
//   later_stdout  the reply of every request after the first (default
//                 stdout); where something hangs, their median must end
//                 within QUICK_MS of the same request made before anything
//                 was mounted (the median of a few); none may end as late
//                 as a deadline (under Wine: after a request that asks no
//                 drive, made right after it); natively, end of file must
//                 come with each
//   held          how many processes of the program are left after the
//                 last request (exactly); none may be left beyond it at any
//                 point. held_at_most: an upper bound instead
//   squat         { "mount": P, "user": U, "kind": K, "listen": L }:
//                 before the requests, a process of user U holds the name
//                 of the mark that says the drive at P (a mount of the
//                 case) is stuck (K "d", the default), or that the walk of
//                 the home folder /P is (K "w"); with L false it binds the
//                 name and never listens
//   extra_ms      more time the first reply may take (Wine's start)
//   healed_stdout then the file systems answer again (hangfs SIGUSR2);
//                 once nothing of the program is left, one more request
//                 must give this reply

const fs = require('fs');
const path = require('path');
const { spawn, spawnSync } = require('child_process');
const { expandMacros, checkStdout, checkWhole } = require('../blackbox/run.js');

const DEADLINE_MS = 1000;
const MARGIN_MS = 900;       // start, the reply and a busy machine; under a deadline, to tell one from two
const WINE_MARGIN_MS = 2500; // Wine starts its own processes first
const SETTLE_MS = 5000;      // for what is left behind to end once released
const EXIT_MS = 2000;        // for a request's process to end after its reply, on a busy machine
const STALL_MS = 5000;       // the walk's bound of no progress (WALK_STALL_MS)
const QUICK_MS = 100;        // a later poll against one with nothing hung
const WINE_QUICK_MS = 400;   // the same under Wine, whose start varies more

function parseArgs(argv) {
  const o = { files: [] };
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    if (['--program', '--program-readahead', '--exe', '--hangfs', '--no-openat2', '--squat', '--work', '--filter'].includes(a)) o[a.slice(2)] = argv[++i];
    else o.files.push(a);
  }
  if (!o.program || !o.hangfs || !o.work || !o.files.length) {
    process.stderr.write('usage: node run.js --program P --hangfs H --work DIR [--exe E] cases.json\n');
    process.exit(2);
  }
  return o;
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const bytes = (s) => Buffer.from(s, 'latin1');

// Runs a command whose arguments may hold raw bytes (as U+0080..U+00FF),
// through bash's $'...' quoting; throws when it fails.
function sh(argv) {
  const quote = (s) => "$'" + [...bytes(s)].map((b) =>
    (b >= 0x20 && b < 0x7f && b !== 0x27 && b !== 0x5c) ? String.fromCharCode(b)
      : '\\x' + b.toString(16).padStart(2, '0')).join('') + "'";
  const r = spawnSync('bash', ['-c', argv.map(quote).join(' ')], { encoding: 'latin1' });
  if (r.status !== 0) throw new Error(`${argv.join(' ')}: ${r.stderr || r.status}`);
}

// Processes for which match(exe, cmdline, pid) holds (the chrooted copy,
// or the .exe under the run's own Wine prefix), with their states; zombies
// are done and not counted.
function leftBehind(match) {
  const out = [];
  for (const pid of fs.readdirSync('/proc')) {
    if (!/^[0-9]+$/.test(pid)) continue;
    try {
      const stat = fs.readFileSync(`/proc/${pid}/stat`, 'latin1');
      const state = stat.slice(stat.lastIndexOf(')') + 2).split(' ')[0];
      if (state === 'Z') continue;
      let exe = '';
      try { exe = fs.readlinkSync(`/proc/${pid}/exe`); } catch (e) { /* a kernel thread */ }
      const cmd = fs.readFileSync(`/proc/${pid}/cmdline`, 'latin1');
      if (match(exe, cmd, pid)) out.push(`${pid} ${state}`);
    } catch (e) { /* ended meanwhile */ }
  }
  return out;
}

class Case {
  constructor(c, o, dir) {
    this.c = c;
    this.o = o;
    this.dir = dir;
    this.root = c.wine ? dir : path.join(dir, 'root');
    this.fuses = [];
  }

  at(p) { return Buffer.concat([bytes(this.root + '/'), bytes(p)]); }

  async setUp() {
    fs.mkdirSync(this.root, { recursive: true });
    if (!this.c.wine) {
      sh(['mount', '-t', 'tmpfs', '-o', 'size=64m', 'tmpfs', this.root]);
      const program = this.c.readahead === 'always' ? this.o['program-readahead'] : this.o.program;
      if (!program) throw new Error('no --program-readahead for a read-ahead case');
      fs.copyFileSync(program, path.join(this.root, 'plugin_disks'));
      fs.chmodSync(path.join(this.root, 'plugin_disks'), 0o755);
      fs.mkdirSync(path.join(this.root, 'dev'));
      sh(['mknod', '-m', '666', path.join(this.root, 'dev', 'null'), 'c', '1', '3']);
      fs.mkdirSync(path.join(this.root, 'proc'));
      sh(['mount', '-t', 'proc', 'proc', path.join(this.root, 'proc')]);
    }
    // A request made before anything is mounted: what a later poll is
    // held against. Wine's server is ended after it, to read the drive
    // letters of the steps when it starts again.
    if (this.c.polls) this.baseline = await this.timeRequests();
    if (this.c.polls && this.c.wine) spawnSync('wineserver', ['-k'], { env: { ...process.env, ...this.o.wineEnv } });
    for (const s of this.c.steps || []) await this.step(s);
    // Wine's server reads the drive letters when it starts. Its first
    // process starts the prefix's services, which takes seconds on a busy
    // machine: done here, so that the first request's time is the program's.
    if (this.c.wine) {
      const env = { ...process.env, ...this.o.wineEnv };
      spawnSync('wineserver', ['-p'], { env, stdio: 'ignore' });
      const r = spawnSync('wine', ['cmd', '/c', 'exit'], { env, stdio: 'ignore', timeout: 120000 });
      if (r.status !== 0) throw new Error(`Wine did not start: ${r.error || r.status}`);
    }
  }

  // How long Wine takes now to start the program and end its reply, the
  // same way as a request but asking nothing of any drive (--version).
  async timeStart() {
    const p = this.run(['--version']);
    const r = await p.complete;
    await Promise.race([p.exited, sleep(EXIT_MS)]);
    return r.complete;
  }

  // The median time of a few requests, to their reply's end.
  async timeRequests() {
    const times = [];
    for (let i = 0; i < 5; i++) {
      const p = this.run();
      times.push((await p.complete).complete);
      await p.eof;
    }
    times.sort((a, b) => a - b);
    return times[2];
  }

  async step(s) {
    const where = (p) => this.root + '/' + p;
    if (s.dir !== undefined) fs.mkdirSync(this.at(s.dir), { recursive: true });
    else if (s.file !== undefined) fs.writeFileSync(this.at(s.file), Buffer.alloc(s.size, 'y'));
    else if (s.tmpfs !== undefined) {
      // "repeat": N mounts N of them, {i} in the path standing for 001, 002, ...
      for (let i = 1; i <= (s.repeat || 1); i++) {
        const p = s.tmpfs.replace('{i}', String(i).padStart(3, '0'));
        fs.mkdirSync(this.at(p), { recursive: true });
        sh(['mount', '-t', 'tmpfs', '-o', `size=${s.size || '8m'}`, s.source || 'tmpfs', where(p)]);
      }
    } else if (s.bind !== undefined) sh(['mount', '--bind', where(s.bind), where(s.to)]);
    else if (s.chmod !== undefined) sh(['chmod', s.mode, where(s.chmod)]);
    else if (s.fuse !== undefined) await this.mountFuse(s);
    else if (s.drive !== undefined) {
      const link = path.join(this.o.prefix, 'dosdevices', `${s.drive}:`);
      fs.rmSync(link, { force: true });
      fs.symlinkSync(where(s.to), link);
      this.drive = link;
    } else throw new Error('unknown step ' + JSON.stringify(s));
  }

  async mountFuse(s) {
    fs.mkdirSync(this.at(s.fuse), { recursive: true });
    const args = [this.root + '/' + s.fuse, '--hang', s.hang || 'none'];
    if (s.answer_statfs !== undefined) args.push('--answer-statfs', String(s.answer_statfs));
    if (s.answer !== undefined) args.push('--answer', String(s.answer));
    if (s.fail !== undefined) args.push('--fail', s.fail);
    if (s.blocks !== undefined) args.push('--blocks', String(s.blocks));
    // Wine's server checks every file it opens with statfs: spared, the
    // hang reaches the program itself. A home on the mount is looked at by
    // every Wine process as it starts: only the program is held then.
    if (this.c.wine) args.push('--spare', 'wineserver');
    if (this.c.wine && (this.c.env || {}).USERPROFILE !== undefined) args.push('--only', 'plugin_disks');
    const fsProc = spawn(this.o.hangfs, args, { stdio: ['ignore', 'pipe', 'inherit'] });
    this.fuses.push(fsProc);
    await new Promise((resolve, reject) => {
      let got = '';
      fsProc.stdout.on('data', (d) => { got += d; if (got.includes('ready')) resolve(); });
      fsProc.on('exit', (code) => reject(new Error(`hangfs ended (${code}) before it was ready`)));
    });
  }

  // Starts the program (with args, Wine only); resolves with its reply
  // and when the reply was complete (its last LF) and when its end of file
  // came, in ms.
  run(args = []) {
    // Taken before the process starts: once started, it may run its clock
    // for a while on a busy machine before this process runs again.
    const start = process.hrtime.bigint();
    let child;
    if (this.c.wine) {
      // Wine sets USERPROFILE itself: a case's own goes through cmd.
      const home = (this.c.env || {}).USERPROFILE;
      const exe = 'Z:' + this.o.exe.replace(/\//g, '\\');
      const argv = home === undefined ? [this.o.exe, ...args]
        : ['cmd', '/c', `set USERPROFILE=${home}&& ${[exe, ...args].join(' ')}`];
      child = spawn('wine', argv, {
        env: { ...this.c.env, ...this.o.wineEnv }, stdio: ['ignore', 'pipe', 'ignore'],
      });
    } else {
      const chroot = ['/usr/sbin/chroot', this.root, '/plugin_disks'];
      if (this.c.user) chroot.splice(1, 0, `--userspec=${this.c.user}`);
      if (this.c.no_openat2) chroot.unshift(this.o['no-openat2']);
      child = spawn(chroot[0], chroot.slice(1), {
        env: this.c.env || {}, stdio: ['ignore', 'pipe', 'pipe'],
      });
    }
    const ms = () => Number(process.hrtime.bigint() - start) / 1e6;
    const out = [];
    const r = { complete: null, eof: null };
    this.child = child;
    const exited = new Promise((resolve) => child.on('exit', () => resolve(true)));
    return {
      exited,
      complete: new Promise((resolve) => {
        child.stdout.on('data', (d) => {
          out.push(d);
          const all = Buffer.concat(out);
          if (r.complete === null && all.length && all[all.length - 1] === 0x0a) {
            r.complete = ms();
            resolve(r);
          }
        });
        child.stdout.on('end', () => {
          r.eof = ms();
          r.stdout = Buffer.concat(out).toString('latin1');
          if (r.complete === null) r.complete = r.eof;
          resolve(r);
        });
      }),
      eof: new Promise((resolve) => child.stdout.on('end', () => resolve(r))),
      stderr: child.stderr ? new Promise((resolve) => {
        const err = [];
        child.stderr.on('data', (d) => err.push(d));
        child.stderr.on('end', () => resolve(Buffer.concat(err).toString('latin1')));
      }) : Promise.resolve(''),
      output: () => Buffer.concat(out).toString('latin1'),
    };
  }

  release() { for (const f of this.fuses) if (f.exitCode === null) f.kill('SIGUSR1'); }

  // Held requests answered, and none held from then on.
  heal() { for (const f of this.fuses) if (f.exitCode === null) f.kill('SIGUSR2'); }

  // A process of another user (or of this one) that holds the name of the
  // mark of kind for the mount at p: "\0plugin_disks/<uid>/<kind>/<hash>",
  // the hash of the mount's device and path as the program computes it.
  async squat(p, user, kind, listens) {
    const where = this.root + '/' + p;
    let dev = null;
    for (const line of fs.readFileSync('/proc/self/mountinfo', 'latin1').split('\n')) {
      const f = line.split(' ');
      if (f[4] === where) {
        const [major, minor] = f[2].split(':').map(BigInt);
        dev = (major << 32n) | minor;
      }
    }
    if (dev === null) throw new Error('squat: no mount at ' + where);
    const devBytes = Buffer.alloc(8);
    devBytes.writeBigUInt64LE(dev);
    const pathBytes = bytes('/' + p);
    const fnv = (h, buf) => {
      for (const b of buf) h = ((h ^ BigInt(b)) * 1099511628211n) & 0xffffffffffffffffn;
      return h;
    };
    const h1 = fnv(fnv(14695981039346656037n, devBytes), pathBytes);
    const h2 = fnv(fnv(0x6a09e667f3bcc909n, pathBytes), devBytes);
    const hex = (h) => h.toString(16).padStart(16, '0');
    const name = `plugin_disks/${process.geteuid()}/${kind}/${hex(h1)}${hex(h2)}`;
    const args = user === 'root' ? [] : [`--reuid=${user}`, '--regid=nogroup', '--clear-groups'];
    const proc = spawn('setpriv', [...args, this.o.squat, name, ...(listens ? [] : ['--no-listen'])],
      { stdio: ['ignore', 'pipe', 'inherit'] });
    this.squatter = proc;
    await new Promise((resolve, reject) => {
      proc.stdout.on('data', (d) => { if (String(d).includes('ready')) resolve(); });
      proc.on('exit', (code) => reject(new Error(`the squatter ended (${code})`)));
    });
  }

  // The processes of leftovers() whose standard input, output or error is
  // anything but the null device (a closed descriptor included), and still
  // so a moment later: a process that is ending has closed them all.
  async notNullStd(left) {
    const bad = this.badStd(left);
    if (!bad.length) return bad;
    await sleep(300);
    return this.badStd(this.leftovers()).filter((b) => bad.includes(b));
  }

  badStd(left) {
    const bad = [];
    for (const l of left) {
      const pid = l.split(' ')[0];
      for (const fd of [0, 1, 2]) {
        let st = null;
        try { st = fs.statSync(`/proc/${pid}/fd/${fd}`); } catch (e) { /* closed, or ended */ }
        if (!fs.existsSync(`/proc/${pid}`)) break;
        if (!st || !st.isCharacterDevice() || st.rdev !== 259) bad.push(`${pid} fd ${fd}`);  // 1:3
      }
    }
    return bad;
  }

  // Processes this case's program left behind. Under Wine, those of the
  // run's own prefix: another run's .exe on the machine is none of them.
  leftovers() {
    if (this.c.wine) {
      const prefix = 'WINEPREFIX=' + this.o.prefix;
      return leftBehind((exe, cmd, pid) => cmd.split('\0')[0].endsWith('plugin_disks.exe') &&
        fs.readFileSync(`/proc/${pid}/environ`, 'latin1').split('\0').includes(prefix));
    }
    const own = path.join(this.root, 'plugin_disks');
    return leftBehind((exe) => exe === own || exe === own + ' (deleted)');
  }

  // What is left once request p is over: its own process is waited for
  // first (a process may still be ending, running, when the end of file of
  // its reply comes), then processes past `most` get a moment to end (under
  // Wine, the .exe that cmd started, which cannot be waited for here). A
  // process held by a file system stays past both: it is counted.
  async leftAfter(p, most) {
    await Promise.race([p.exited, sleep(EXIT_MS)]);
    let left = this.leftovers();
    for (let i = 0; i < EXIT_MS / 100 && left.length > most; i++) {
      await sleep(100);
      left = this.leftovers();
    }
    return left;
  }

  async tearDown() {
    if (this.squatter && this.squatter.exitCode === null) {
      this.squatter.kill('SIGKILL');
      await Promise.race([new Promise((r) => this.squatter.on('exit', r)), sleep(SETTLE_MS)]);
    }
    this.release();
    if (this.c.wine) spawnSync('wineserver', ['-k'], { env: { ...process.env, ...this.o.wineEnv } });
    for (const f of this.fuses) {
      if (f.exitCode === null) f.kill('SIGTERM');
      for (let i = 0; i < 50 && f.exitCode === null; i++) await sleep(100);
      if (f.exitCode === null) f.kill('SIGKILL');
      for (let i = 0; i < 50 && f.exitCode === null; i++) await sleep(100);
    }
    if (this.drive) fs.rmSync(this.drive, { force: true });
    spawnSync('umount', ['-R', '-l', this.root]);
    fs.rmSync(this.dir, { recursive: true, force: true });
  }
}

// The case's expectations of standard output, with its texts expanded.
function expectations(c, texts) {
  const x = (t) => expandMacros(t, texts, c.name);
  const e = {};
  for (const k of ['stdout', 'starts_with', 'ends_with']) if (c[k] !== undefined) e[k] = x(c[k]);
  for (const k of ['contains', 'not_contains']) if (c[k]) e[k] = c[k].map(x);
  if (c.occurrences) e.occurrences = Object.fromEntries(Object.entries(c.occurrences).map(([t, n]) => [x(t), n]));
  return e;
}

async function runCase(c, o, dir, texts) {
  const errs = [];
  const k = new Case(c, o, dir);
  try {
    await k.setUp();
    const p = k.run();
    const r = await p.complete;
    const deadlines = c.deadlines || 0;
    const margin = c.wine ? WINE_MARGIN_MS : MARGIN_MS;
    if (r.complete < deadlines * DEADLINE_MS - 50) {
      errs.push(`the reply ended after ${r.complete.toFixed(0)} ms, before ${deadlines} deadline(s) were waited`);
    }
    if (r.complete > deadlines * DEADLINE_MS + margin) {
      errs.push(`the reply ended after ${r.complete.toFixed(0)} ms, later than ${deadlines} deadline(s) and ${margin} ms`);
    }
    if (!c.wine) {
      // Nothing left behind holds the reply open: end of file comes with it.
      const eof = await Promise.race([p.eof, sleep(margin).then(() => null)]);
      if (!eof) errs.push('no end of file once the reply was written');
      const allowed = c.left_while_held !== undefined ? c.left_while_held : (deadlines ? 1 : 0);
      const helpers = await k.leftAfter(p, allowed);
      if (helpers.length > allowed) {
        errs.push(`${helpers.length} processes left while held: ${helpers.join(', ')}`);
      }
      const bad = await k.notNullStd(helpers);
      if (bad.length) errs.push(`left behind without the null device on standard input, output or error: ${bad.join(', ')}`);
    }
    // Under Wine the process itself waits for its blocked thread, holding
    // its mark, and with it the end of file; once the file system answers
    // again (a worker asks it more than once), both must come promptly.
    if (c.wine) k.heal();
    else k.release();
    const eof = await Promise.race([p.eof, sleep(SETTLE_MS).then(() => null)]);
    if (!eof) errs.push(`no end of file ${SETTLE_MS} ms after the file systems were released`);
    const stdout = eof ? eof.stdout : p.output();
    errs.push(...checkStdout(expectations(c, texts), stdout,
      { platform: c.wine ? 'windows' : 'linux', sep: c.wine ? '\\' : '/' }));
    const stderr = await Promise.race([p.stderr, sleep(1000).then(() => '')]);
    if (stderr) errs.push('standard error: ' + stderr);
    let left = k.leftovers();
    for (let i = 0; i < SETTLE_MS / 100 && left.length; i++) {
      await sleep(100);
      left = k.leftovers();
    }
    if (left.length) errs.push(`still running ${SETTLE_MS} ms after release: ${left.join(', ')}`);
  } catch (e) {
    errs.push(String(e && e.stack || e));
  } finally {
    await k.tearDown();
  }
  return errs;
}

// A dashboard's polls (see "polls" at the top).
async function runPolls(c, o, dir, texts) {
  const errs = [];
  const k = new Case(c, o, dir);
  const opts = { platform: c.wine ? 'windows' : 'linux', sep: c.wine ? '\\' : '/' };
  const margin = c.wine ? WINE_MARGIN_MS : MARGIN_MS;
  const quick = c.wine ? WINE_QUICK_MS : QUICK_MS;
  const most = c.held_at_most !== undefined ? c.held_at_most : c.held;
  const later = [];  // how long the requests after the first took
  // One request: its reply checked whole, end of file checked natively.
  // Returns the request, for what it left behind to be counted.
  const poll = async (label, expected, first) => {
    const p = k.run();
    const r = await p.complete;
    if (first) {
      const wait = (c.deadlines || 0) * DEADLINE_MS + (c.stall ? STALL_MS : 0);
      if (r.complete < wait - 50) errs.push(`${label}: the reply ended after ${r.complete.toFixed(0)} ms, before ${wait} ms`);
      if (r.complete > wait + margin + (c.extra_ms || 0)) errs.push(`${label}: the reply ended after ${r.complete.toFixed(0)} ms, later than ${wait} + ${margin + (c.extra_ms || 0)} ms`);
    } else {
      later.push(r.complete);
    }
    // Under Wine the process that holds a stuck call keeps the reply open
    // (see the Wine cases above): there end of file is awaited only for a
    // while, so that a request that holds nothing has ended before the
    // processes are counted.
    const eof = await Promise.race([p.eof, sleep(margin).then(() => null)]);
    if (!c.wine && !eof) errs.push(`${label}: no end of file once the reply was written`);
    const stdout = eof ? eof.stdout : p.output();
    const e = checkWhole(label, expandMacros(expected, texts, c.name), stdout, opts);
    if (e) errs.push(e);
    // None after the first waits a deadline: one that did would end no
    // sooner than the first reply's own lower bound, whatever the load;
    // under Wine, than that after Wine's start, which a busy machine can
    // stretch to a second: a request that asks no drive, made right after,
    // measures it. Their median is checked against the request with
    // nothing hung below, so that one poll slowed by a busy machine does
    // not decide.
    if (!first) {
      const start = c.wine ? await k.timeStart() : 0;
      if (r.complete > start + DEADLINE_MS - 50) {
        errs.push(`${label}: the reply ended after ${r.complete.toFixed(0)} ms` +
          (c.wine ? `, ${(r.complete - start).toFixed(0)} ms after one that asked no drive` : ''));
      }
    }
    return p;
  };
  try {
    await k.setUp();
    if (c.squat) await k.squat(c.squat.mount, c.squat.user, c.squat.kind || 'd', c.squat.listen !== false);
    for (let i = 1; i <= c.polls; i++) {
      const p = await poll(`request ${i}`, i === 1 ? c.stdout : (c.later_stdout || c.stdout), i === 1);
      const left = await k.leftAfter(p, most);
      if (left.length > most) errs.push(`after request ${i}: ${left.length} processes left: ${left.join(', ')}`);
      const bad = c.wine ? [] : await k.notNullStd(left);
      if (bad.length) errs.push(`after request ${i}: left behind without the null device on standard input, output or error: ${bad.join(', ')}`);
    }
    // The lower median: of two polls, the quicker.
    later.sort((a, b) => a - b);
    const median = later.length ? later[Math.floor((later.length - 1) / 2)] : 0;
    // Only where something hangs: asking a healthy FUSE mount has its own
    // cost, which the request with nothing mounted does not pay.
    if (later.length && (c.deadlines || c.stall) && median > k.baseline + quick) {
      errs.push(`the later requests ended after ${median.toFixed(0)} ms (median), more than ${quick} ms after one with nothing hung (${k.baseline.toFixed(0)} ms)`);
    }
    const left = k.leftovers();
    if (c.held_at_most === undefined && left.length !== c.held) {
      errs.push(`after the last request: ${left.length} processes left, not ${c.held}: ${left.join(', ')}`);
    }
    if (c.healed_stdout !== undefined) {
      k.heal();
      let now = k.leftovers();
      for (let i = 0; i < SETTLE_MS / 100 && now.length; i++) {
        await sleep(100);
        now = k.leftovers();
      }
      if (now.length) errs.push(`still running ${SETTLE_MS} ms after the file systems answered: ${now.join(', ')}`);
      const p = await poll('the request once healed', c.healed_stdout, false);
      now = await k.leftAfter(p, 0);
      if (now.length) errs.push(`left after the request once healed: ${now.join(', ')}`);
    }
  } catch (e) {
    errs.push(String(e && e.stack || e));
  } finally {
    await k.tearDown();
  }
  return errs;
}

async function main() {
  const o = parseArgs(process.argv.slice(2));
  if (process.getuid() !== 0) throw new Error('tests/hang must run as root');
  fs.rmSync(o.work, { recursive: true, force: true });
  fs.mkdirSync(o.work, { recursive: true });
  let passed = 0;
  let failed = 0;
  let n = 0;
  for (const file of o.files) {
    const data = JSON.parse(fs.readFileSync(file, 'utf8'));
    for (const c of data.cases) {
      if (o.filter && !c.name.includes(o.filter)) continue;
      if (c.wine && !o.exe) {
        process.stdout.write(`skip  ${c.name} (no --exe)\n`);
        continue;
      }
      if (c.wine && !o.prefix) await startWine(o);
      const errs = await (c.polls ? runPolls : runCase)(c, o, path.join(o.work, String(n++)), data.texts || {});
      if (errs.length) {
        failed++;
        process.stdout.write(`FAIL  ${c.name}\n    ${errs.join('\n    ')}\n`);
      } else {
        passed++;
        process.stdout.write(`ok    ${c.name}\n`);
      }
    }
  }
  process.stdout.write(`${passed} passed, ${failed} failed\n`);
  process.exit(failed ? 1 : 0);
}

// A Wine prefix of the hang cases' own, and its server started inside this
// mount namespace, where the cases' mounts are.
async function startWine(o) {
  o.prefix = path.join(o.work, 'wineprefix');
  o.wineEnv = { WINEPREFIX: o.prefix, WINEDEBUG: '-all', LANG: 'C.UTF-8', PATH: process.env.PATH };
  const env = { ...process.env, ...o.wineEnv };
  const r = spawnSync('wine', ['cmd', '/c', 'exit'], { env, stdio: 'ignore', timeout: 120000 });
  spawnSync('wineserver', ['-k'], { env });
  if (r.status !== 0) throw new Error('the Wine prefix could not be made');
}

main().catch((e) => {
  process.stderr.write(String(e && e.stack || e) + '\n');
  process.exit(1);
});
