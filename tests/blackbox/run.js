#!/usr/bin/env node
'use strict';
// Black-box runner for plugin_disks: starts the program once per case with
// exactly the arguments and environment the case gives, and compares the
// bytes of standard output, standard error and the exit status.
//
//   node run.js --program <path> [--wine] [--fixtures <dir>] [--jobs N]
//               [--filter <text>] [--schemas <dir>] cases/*.json
//
// A folder given in place of a case file stands for its *.json files.
// --wine runs a Windows build under Wine. WINEPREFIX is taken from the
// environment (default: a folder "wineprefix" beside the program); the
// runner starts "wineserver -p" before the cases and "wineserver -k" after.
// --fixtures names a folder where the home trees are built once and kept
// for later runs; without it they go to a temporary folder removed at exit.
// --schemas names the folder of the reply schemas (docs/schema): every JSON
// reply, whatever the case expects of its bytes, must then also meet the
// schema of its kind (schemas.js), and a reply that does not fails its case.
//
// A case file is a JSON object:
//   { "texts": { NAME: TEXT, ... },   named texts, used as {text:NAME}
//     "defaults": { ... },             fields every case starts from
//     "cases": [ CASE, ... ] }
// A case:
//   name       what the case shows (unique within its file)
//   args       arguments after the program name (default none)
//   env        environment of the program; nothing else is inherited.
//              A value of null removes a variable the defaults set.
//   home       a fixture name (fixtures.js); sets USERPROFILE to its path
//              unless env sets USERPROFILE itself
//   only       "native" or "wine", with "reason" saying why
//   user       a user id: the program runs as that user (and group) when
//              the runner is root; as anyone else it runs as the runner
//   status     expected exit status (default 0)
//   stderr     expected standard error (default "")
//   stdout             the whole of standard output
//   starts_with        standard output begins with this
//   ends_with          standard output ends with this
//   contains           list: each must occur in standard output
//   not_contains       list: none may occur in standard output
//   occurrences        { TEXT: N }: TEXT occurs exactly N times
// At least one stdout expectation is required.
//
// Texts are byte strings: each character U+0000..U+00FF is one byte. In
// expectations these placeholders stand for the parts that vary:
//   {pid}       the process id (digits)
//   {utc}       a stamp YYYY-MM-DDTHH:MM:SSZ
//   {ms}        elapsed milliseconds (digits)
//   {n}         any unsigned number the platform decides (volume sizes)
//   {pct}       any percentage with one decimal (e.g. 19.3)
//   {name}      any JSON string's content (a name the platform's listing
//               order decides, such as which name of a hard-linked file
//               is met first)
//   {platform}  "linux" natively, "windows" under Wine
//   {sep}       the path separator as JSON writes it: / or \\
//   {home}      the case's home fixture path as JSON writes it
//   {home_fwd}  the same with forward slashes for backslashes (under Wine
//               Z:/tmp/x; natively the same as {home})
//   {home_unc}  under Wine only: the fixture as a network path,
//               \\fixtures\trees\NAME (the runner maps that share to the
//               fixture folder in the prefix's dosdevices/unc)
// In env values and args only {home}, {home_fwd}, {home_unc} and {sep} apply,
// unescaped (under Wine {home} is the Z:\ form of the path). Everywhere:
//   {text:NAME} the file's named text NAME
//   {rep:N:S}   S repeated N times (S without "}")
//   {fffd}      U+FFFD as its three UTF-8 bytes: what a reply writes in
//               place of each byte of a name that is not valid UTF-8;
//               {fffd:N} is N of them
//   {bytes:AA-BB}  every byte from AA to BB (hex), in order
//   {url:AA-BB}    the same bytes written as %AA escapes (lower-case hex)
// Env values and args are handed to the program as these bytes: a value
// with a character from U+0080 to U+00FF is started through bash and
// "env -i", since Node itself would write such a character as UTF-8.
// Linux refuses to start a program when one NAME=value string of its
// environment is longer than 131071 bytes, which bounds every env value.
// Under Wine, Wine's own lines on standard error ("wine: ...", debug
// channel lines) are dropped before the comparison.

const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawn, spawnSync } = require('child_process');
const fixtures = require('./fixtures');
const schemas = require('./schemas');

function usage(msg) {
  if (msg) process.stderr.write(msg + '\n');
  process.stderr.write('usage: node run.js --program <path> [--wine] [--fixtures <dir>] ' +
    '[--jobs N] [--filter <text>] [--schemas <dir>] cases/*.json\n');
  process.exit(2);
}

function parseArgs(argv) {
  const o = { wine: false, jobs: 4, files: [], filter: null, program: null, fixtures: null, schemas: null };
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    const val = () => { if (i + 1 >= argv.length) usage('missing value for ' + a); return argv[++i]; };
    if (a === '--program') o.program = path.resolve(val());
    else if (a === '--wine') o.wine = true;
    else if (a === '--fixtures') o.fixtures = path.resolve(val());
    else if (a === '--jobs') o.jobs = Math.max(1, parseInt(val(), 10) || 1);
    else if (a === '--filter') o.filter = val();
    else if (a === '--schemas') o.schemas = path.resolve(val());
    else if (a.startsWith('--')) usage('unknown option ' + a);
    else if (fs.existsSync(a) && fs.statSync(a).isDirectory()) {
      for (const f of fs.readdirSync(a).filter((n) => n.endsWith('.json')).sort()) o.files.push(path.join(a, f));
    } else o.files.push(a);
  }
  if (!o.program) usage('--program is required');
  if (!o.files.length) usage('no case files');
  return o;
}

// ---------- texts and placeholders ----------

const VARYING = {
  pid: '[0-9]+',
  utc: '[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z',
  ms: '[0-9]+',
  n: '[0-9]+',
  pct: '[0-9]{1,3}\\.[0-9]',
  name: '(?:[^"\\\\]|\\\\.)*',
};

function expandMacros(s, texts, where) {
  for (let round = 0; round < 10; round++) {
    const next = s
      .replace(/\{text:([A-Za-z0-9_-]+)\}/g, (m, name) => {
        if (!(name in texts)) throw new Error(`${where}: unknown text ${name}`);
        return texts[name];
      })
      .replace(/\{rep:([0-9]+):([^}]*)\}/g, (m, n, str) => str.repeat(Number(n)))
      .replace(/\{fffd(?::([0-9]+))?\}/g, (m, n) => '\u00ef\u00bf\u00bd'.repeat(n ? Number(n) : 1))
      .replace(/\{(bytes|url):([0-9a-fA-F]{2})-([0-9a-fA-F]{2})\}/g, (m, kind, a, b) => byteRange(kind, a, b, where));
    if (next === s) return s;
    s = next;
  }
  throw new Error(`${where}: texts nest too deep`);
}

function byteRange(kind, a, b, where) {
  const from = parseInt(a, 16);
  const to = parseInt(b, 16);
  if (from > to) throw new Error(`${where}: empty byte range ${a}-${b}`);
  let out = '';
  for (let c = from; c <= to; c++) {
    out += kind === 'bytes' ? String.fromCharCode(c) : '%' + c.toString(16).padStart(2, '0');
  }
  return out;
}

function jsonEscape(s) {
  return JSON.stringify(s).slice(1, -1);
}

// A pattern: a list of pieces, each literal text or a regular expression.
function compile(template, ctx) {
  const pieces = [];
  const re = /\{(pid|utc|ms|n|pct|name|platform|sep|home|home_fwd|home_unc)\}/g;
  let last = 0;
  let lit = '';
  for (let m; (m = re.exec(template));) {
    lit += template.slice(last, m.index);
    last = re.lastIndex;
    const k = m[1];
    if (k in VARYING) {
      if (lit) pieces.push({ lit });
      lit = '';
      pieces.push({ re: new RegExp(VARYING[k], 'y'), name: k });
    } else if (k === 'platform') lit += ctx.platform;
    else if (k === 'sep') lit += jsonEscape(ctx.sep);
    else if (k === 'home_unc') {
      if (ctx.homeUnc == null) throw new Error('{home_unc} used without a home fixture under Wine');
      lit += jsonEscape(ctx.homeUnc);
    } else if (k === 'home' || k === 'home_fwd') {
      if (ctx.home == null) throw new Error(`{${k}} used without a home fixture`);
      lit += jsonEscape(k === 'home' ? ctx.home : ctx.home.replace(/\\/g, '/'));
    }
  }
  lit += template.slice(last);
  if (lit) pieces.push({ lit });
  return pieces;
}

// Matches pieces at `pos`; returns { end } or { fail: offset in actual, want }.
function matchAt(pieces, actual, pos) {
  for (const p of pieces) {
    if (p.lit !== undefined) {
      let i = 0;
      while (i < p.lit.length && actual[pos + i] === p.lit[i]) i++;
      if (i < p.lit.length) return { fail: pos + i, want: p.lit.slice(i) };
      pos += p.lit.length;
    } else {
      p.re.lastIndex = pos;
      const m = p.re.exec(actual);
      if (!m) return { fail: pos, want: `{${p.name}}` };
      pos += m[0].length;
    }
  }
  return { end: pos };
}

function findAnywhere(pieces, actual) {
  let count = 0;
  let from = 0;
  for (let i = 0; i <= actual.length; i++) {
    if (i < from) continue;
    const r = matchAt(pieces, actual, i);
    if (r.end !== undefined) { count++; from = Math.max(r.end, i + 1); }
  }
  return count;
}

// Escaped view of a byte string for messages.
function show(s) {
  let out = '';
  for (const ch of s) {
    const c = ch.charCodeAt(0);
    if (ch === '\\') out += '\\\\';
    else if (ch === '\n') out += '\\n';
    else if (ch === '\r') out += '\\r';
    else if (ch === '\t') out += '\\t';
    else if (c < 0x20 || c >= 0x7f) out += '\\x' + c.toString(16).padStart(2, '0');
    else out += ch;
  }
  return out;
}

function around(s, at, before = 60, after = 60) {
  const a = Math.max(0, at - before);
  return (a > 0 ? '...' : '') + show(s.slice(a, at)) + ' >>>|' + show(s.slice(at, at + after)) +
    (at + after < s.length ? '...' : '');
}

// ---------- checks ----------

function checkWhole(label, template, actual, ctx) {
  const pieces = compile(template, ctx);
  const r = matchAt(pieces, actual, 0);
  if (r.end === actual.length) return null;
  if (r.end !== undefined) {
    return `${label}: ${actual.length - r.end} extra bytes at offset ${r.end}\n` +
      `    actual: ${around(actual, r.end)}`;
  }
  return `${label}: differs at offset ${r.fail} (of ${actual.length} bytes)\n` +
    `    expected there: ${show(r.want.slice(0, 80))}\n` +
    `    actual:         ${around(actual, r.fail)}\n` +
    `    expected whole: ${show(template.length > 600 ? template.slice(0, 600) + '...' : template)}\n` +
    `    actual whole:   ${show(actual.length > 600 ? actual.slice(0, 600) + '...' : actual)}`;
}

function checkStdout(c, out, ctx) {
  const errs = [];
  if (c.stdout !== undefined) {
    const e = checkWhole('stdout', c.stdout, out, ctx);
    if (e) errs.push(e);
  }
  if (c.starts_with !== undefined) {
    const r = matchAt(compile(c.starts_with, ctx), out, 0);
    if (r.end === undefined) {
      errs.push(`stdout does not start as expected: differs at offset ${r.fail}\n` +
        `    expected there: ${show(r.want.slice(0, 80))}\n    actual: ${around(out, r.fail)}`);
    }
  }
  if (c.ends_with !== undefined) {
    const pieces = compile(c.ends_with, ctx);
    let ok = false;
    for (let i = out.length; i >= 0 && !ok; i--) {
      if (matchAt(pieces, out, i).end === out.length) ok = true;
    }
    if (!ok) {
      errs.push(`stdout does not end with ${show(c.ends_with)}\n` +
        `    actual end: ${show(out.slice(-120))}`);
    }
  }
  for (const t of c.contains || []) {
    if (findAnywhere(compile(t, ctx), out) === 0) {
      errs.push(`stdout lacks ${show(t)}\n    actual: ${show(out.length > 600 ? out.slice(0, 600) + '...' : out)}`);
    }
  }
  for (const t of c.not_contains || []) {
    if (findAnywhere(compile(t, ctx), out) > 0) errs.push(`stdout holds ${show(t)}, which it must not`);
  }
  for (const [t, n] of Object.entries(c.occurrences || {})) {
    const got = findAnywhere(compile(t, ctx), out);
    if (got !== n) errs.push(`stdout holds ${show(t)} ${got} times, expected ${n}`);
  }
  return errs;
}

// ---------- running ----------

function winPath(p) {
  return 'Z:' + p.replace(/\//g, '\\');
}

function wineNoise(line) {
  return /^wine: /.test(line) || /^wineserver: /.test(line) ||
    /^[0-9a-f]{4}:(err|fixme|warn|trace):/.test(line) ||
    /^Could not find Wine Gecko/.test(line) || /^Could not find Wine Mono/.test(line);
}

function filterWineStderr(s) {
  const lines = s.split('\n');
  const kept = [];
  for (let i = 0; i < lines.length; i++) {
    const l = lines[i].replace(/\r$/, '');
    if (wineNoise(l)) continue;
    kept.push(lines[i]);
  }
  return kept.join('\n');
}

// Starts `file` through bash and "env -i" with the arguments and the
// environment read from standard input as NUL-ended byte strings, so that
// every byte from 0x01 to 0xFF reaches the program as it is. That standard
// input is a socket, which bash takes for a remote shell's: --norc keeps
// it from reading the user's start-up files.
const RAW_START = 'a=(); while IFS= read -r -d "" x; do a+=("$x"); done; exec env -i "${a[@]}" </dev/null';

function needsRawBytes(args, env) {
  const all = [...args, ...Object.keys(env), ...Object.values(env)];
  for (const s of all) {
    if (/[^\u0000-\u00ff]/.test(s)) throw new Error('a character above U+00FF in args or env: ' + show(s.slice(0, 80)));
    if (s.includes('\u0000')) throw new Error('a NUL byte cannot be in args or env');
  }
  return all.some((s) => /[\u0080-\u00ff]/.test(s));
}

function runProcess(file, args, env, user) {
  return new Promise((resolve) => {
    let child;
    const as = user !== undefined && process.getuid() === 0 ? { uid: user, gid: user } : {};
    if (needsRawBytes(args, env)) {
      if (Object.keys(env).some((k) => k.includes('='))) throw new Error('"=" in a variable name');
      if (file.includes('=')) throw new Error('"=" in the program path');
      const items = [...Object.entries(env).map(([k, v]) => `${k}=${v}`), file, ...args];
      child = spawn('/bin/bash', ['--norc', '--noprofile', '-c', RAW_START], { env: {}, stdio: ['pipe', 'pipe', 'pipe'], ...as });
      child.stdin.on('error', () => {});
      child.stdin.end(Buffer.from(items.map((x) => x + '\0').join(''), 'latin1'));
    } else {
      child = spawn(file, args, { env, stdio: ['ignore', 'pipe', 'pipe'], ...as });
    }
    const out = [];
    const err = [];
    child.stdout.on('data', (d) => out.push(d));
    child.stderr.on('data', (d) => err.push(d));
    child.on('error', (e) => resolve({ status: -1, signal: null, stdout: '', stderr: String(e) }));
    child.on('close', (status, signal) => resolve({
      status, signal,
      stdout: Buffer.concat(out).toString('latin1'),
      stderr: Buffer.concat(err).toString('latin1'),
    }));
  });
}

function substituteInput(s, ctx) {
  return s.replace(/\{home_unc\}/g, () => {
    if (ctx.homeUnc == null) throw new Error('{home_unc} used without a home fixture under Wine');
    return ctx.homeUnc;
  }).replace(/\{home(_fwd)?\}/g, (m, fwd) => {
    if (ctx.homeArg == null) throw new Error(m + ' used without a home fixture');
    return fwd ? ctx.homeArg.replace(/\\/g, '/') : ctx.homeArg;
  }).replace(/\{sep\}/g, ctx.sep);
}

class Runner {
  constructor(opts) {
    this.o = opts;
    this.platform = opts.wine ? 'windows' : 'linux';
    this.sep = opts.wine ? '\\' : '/';
    if (opts.fixtures) {
      this.fixtureBase = opts.fixtures;
      this.ownFixtures = false;
      fs.mkdirSync(this.fixtureBase, { recursive: true });
    } else {
      this.fixtureBase = fs.mkdtempSync(path.join(os.tmpdir(), 'plugin_disks-bb-'));
      this.ownFixtures = true;
    }
    this.schemas = opts.schemas ? schemas.load(opts.schemas) : null;
    this.validated = new Map(); // reply kind -> replies that met its schema
    if (opts.wine) {
      this.winePrefix = process.env.WINEPREFIX ||
        path.join(path.dirname(opts.program), 'wineprefix');
      this.wineBin = process.env.WINE || 'wine';
    }
  }

  wineEnv() {
    const env = {
      WINEPREFIX: this.winePrefix,
      WINEDEBUG: '-all',
      PATH: process.env.PATH || '/usr/bin:/bin',
      // Wine reads Unix file names in the charset of the Unix locale: a
      // UTF-8 one, as on any current system, gives the program the names'
      // real characters.
      LANG: 'C.UTF-8',
    };
    return env;
  }

  startWine() {
    fs.mkdirSync(this.winePrefix, { recursive: true });
    spawnSync('wineserver', ['-p'], { env: this.wineEnv(), stdio: 'ignore' });
    // The first start creates the prefix and prints its own messages. Wine
    // leaves service processes running that keep any pipe they inherit open,
    // so this start writes to a file, never to a pipe.
    const log = path.join(this.fixtureBase, 'wine-start.log');
    const fd = fs.openSync(log, 'w');
    const r = spawnSync(this.wineBin, ['cmd', '/c', 'exit'], { env: this.wineEnv(), stdio: ['ignore', fd, fd] });
    fs.closeSync(fd);
    if (r.status !== 0) {
      process.stderr.write('wine does not start:\n' + fs.readFileSync(log, 'latin1') + '\n');
      process.exit(2);
    }
  }

  // Wine serves \\SERVER\SHARE from the link dosdevices/unc/SERVER/SHARE:
  // \\fixtures\trees is made to name the folder of the home trees.
  uncShare(treesDir) {
    const link = path.join(this.winePrefix, 'dosdevices', 'unc', 'fixtures', 'trees');
    let current = null;
    try { current = fs.readlinkSync(link); } catch (e) { /* not there yet */ }
    if (current !== treesDir) {
      fs.mkdirSync(path.dirname(link), { recursive: true });
      const tmp = `${link}.tmp-${process.pid}`;
      fs.rmSync(tmp, { force: true });
      fs.symlinkSync(treesDir, tmp);
      fs.renameSync(tmp, link);
    }
    return '\\\\fixtures\\trees';
  }

  stopWine() {
    spawnSync('wineserver', ['-k'], { env: this.wineEnv(), stdio: 'ignore' });
  }

  async runCase(c) {
    const ctx = { platform: this.platform, sep: this.sep, home: null, homeArg: null, homeUnc: null };
    if (c.home) {
      const p = fixtures.ensure(this.fixtureBase, c.home);
      ctx.homeArg = this.o.wine ? winPath(p) : p;
      ctx.home = ctx.homeArg;
      if (this.o.wine) ctx.homeUnc = this.uncShare(path.dirname(p)) + '\\' + path.basename(p);
    }
    const env = {};
    const caseEnv = Object.assign({}, c.env);
    if (c.home && !('USERPROFILE' in caseEnv)) caseEnv.USERPROFILE = '{home}';
    let userprofile; // undefined: leave as is; null: remove; string: set
    for (const [k, v] of Object.entries(caseEnv)) {
      if (k === 'USERPROFILE' && this.o.wine) {
        userprofile = v === null ? null : substituteInput(String(v), ctx);
        continue;
      }
      if (v === null) continue;
      env[k] = substituteInput(String(v), ctx);
    }
    const args = (c.args || []).map((a) => substituteInput(a, ctx));

    let res;
    if (!this.o.wine) {
      res = await runProcess(this.o.program, args, env, c.user);
    } else {
      const wenv = Object.assign({}, env, this.wineEnv());
      if (userprofile === undefined) {
        res = await runProcess(this.wineBin, [this.o.program, ...args], wenv);
      } else {
        // Wine sets USERPROFILE itself; cmd's "set" gives the program another
        // one (or none). No space may stand before "&&".
        if (args.length) throw new Error('args together with USERPROFILE are not supported under Wine');
        if (/[&|<>^"%]/.test(userprofile || '')) throw new Error('USERPROFILE value unsafe for cmd: ' + userprofile);
        const line = `set USERPROFILE=${userprofile || ''}&& ${winPath(this.o.program)}`;
        res = await runProcess(this.wineBin, ['cmd', '/c', line], wenv);
      }
      res.stderr = filterWineStderr(res.stderr);
    }

    const errs = [];
    const wantStatus = c.status === undefined ? 0 : c.status;
    if (res.status !== wantStatus) {
      errs.push(`exit status ${res.status}${res.signal ? ' (signal ' + res.signal + ')' : ''}, expected ${wantStatus}`);
    }
    const e = checkWhole('stderr', c.stderr === undefined ? '' : c.stderr, res.stderr, ctx);
    if (e) errs.push(e);
    errs.push(...checkStdout(c, res.stdout, ctx));
    if (this.schemas) {
      const v = this.schemas.check(res.stdout);
      if (v && v.errors.length) errs.push('reply does not meet its schema:\n    ' + v.errors.join('\n    '));
      else if (v) this.validated.set(v.kind, (this.validated.get(v.kind) || 0) + 1);
    }
    return errs;
  }

  cleanup() {
    if (this.ownFixtures) fs.rmSync(this.fixtureBase, { recursive: true, force: true });
  }
}

const EXPECT_KEYS = ['stdout', 'starts_with', 'ends_with', 'contains', 'not_contains', 'occurrences'];
const KNOWN_KEYS = new Set(['name', 'args', 'env', 'home', 'only', 'reason', 'user', 'status', 'stderr', ...EXPECT_KEYS]);

function loadCases(files) {
  const all = [];
  for (const f of files) {
    const where = path.basename(f);
    let doc;
    try {
      doc = JSON.parse(fs.readFileSync(f, 'utf8'));
    } catch (e) {
      throw new Error(`${f}: ${e.message}`);
    }
    const texts = doc.texts || {};
    const defaults = doc.defaults || {};
    const seen = new Set();
    for (const raw of doc.cases || []) {
      const c = Object.assign({}, defaults, raw);
      c.env = Object.assign({}, defaults.env, raw.env);
      const id = `${where}: ${c.name}`;
      if (!c.name) throw new Error(`${where}: a case has no name`);
      if (seen.has(c.name)) throw new Error(`${id}: duplicate name`);
      seen.add(c.name);
      for (const k of Object.keys(c)) if (!KNOWN_KEYS.has(k)) throw new Error(`${id}: unknown field ${k}`);
      if (!EXPECT_KEYS.some((k) => c[k] !== undefined)) throw new Error(`${id}: no stdout expectation`);
      if (c.only && !['native', 'wine'].includes(c.only)) throw new Error(`${id}: only must be native or wine`);
      if (c.only && !c.reason) throw new Error(`${id}: "only" needs a "reason"`);
      if (c.user !== undefined && c.only !== 'native') throw new Error(`${id}: "user" is for native cases`);
      if (c.home && !fixtures.has(c.home)) throw new Error(`${id}: unknown fixture ${c.home}`);
      const x = (s) => expandMacros(s, texts, id);
      for (const k of ['stdout', 'starts_with', 'ends_with', 'stderr']) if (typeof c[k] === 'string') c[k] = x(c[k]);
      for (const k of ['contains', 'not_contains']) if (c[k]) c[k] = c[k].map(x);
      if (c.occurrences) {
        c.occurrences = Object.fromEntries(Object.entries(c.occurrences).map(([k, v]) => [x(k), v]));
      }
      if (c.args) c.args = c.args.map(x);
      for (const [k, v] of Object.entries(c.env)) if (typeof v === 'string') c.env[k] = x(v);
      c.id = id;
      all.push(c);
    }
  }
  return all;
}

async function main() {
  const o = parseArgs(process.argv.slice(2));
  let cases;
  try {
    cases = loadCases(o.files);
  } catch (e) {
    process.stderr.write('bad case file: ' + e.message + '\n');
    process.exit(2);
  }
  const here = o.wine ? 'wine' : 'native';
  if (o.filter) cases = cases.filter((c) => c.id.includes(o.filter));
  const skipped = cases.filter((c) => c.only && c.only !== here);
  cases = cases.filter((c) => !c.only || c.only === here);

  const r = new Runner(o);
  if (o.wine) r.startWine();
  let passed = 0;
  let failed = 0;
  const results = new Array(cases.length);
  let next = 0;
  let printed = 0;
  const flush = () => {
    while (printed < cases.length && results[printed]) {
      const c = cases[printed];
      const errs = results[printed];
      if (errs.length === 0) {
        passed++;
        process.stdout.write(`ok    ${c.id}\n`);
      } else {
        failed++;
        process.stdout.write(`FAIL  ${c.id}\n`);
        for (const e of errs) process.stdout.write('    ' + e.replace(/\n/g, '\n    ') + '\n');
      }
      printed++;
    }
  };
  async function worker() {
    while (next < cases.length) {
      const i = next++;
      try {
        results[i] = await r.runCase(cases[i]);
      } catch (e) {
        results[i] = ['runner error: ' + (e && e.stack || e)];
      }
      flush();
    }
  }
  try {
    await Promise.all(Array.from({ length: o.jobs }, worker));
  } finally {
    if (o.wine) r.stopWine();
    r.cleanup();
  }
  flush();
  for (const c of skipped) process.stdout.write(`skip  ${c.id} (${c.only} only: ${c.reason})\n`);
  if (r.schemas) {
    const kinds = [...r.validated].sort().map(([k, n]) => `${k} ${n}`).join(', ');
    process.stdout.write(`JSON replies that met their schema: ${kinds || 'none'}\n`);
  }
  process.stdout.write(`${passed} passed, ${failed} failed\n`);
  process.exit(failed ? 1 : 0);
}

// Other runners (tests/hang) compare replies the same way.
module.exports = { expandMacros, checkWhole, checkStdout };

if (require.main === module) main();
