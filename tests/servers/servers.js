'use strict';
// Runs the installed program behind lighttpd, Apache 2.4 and nginx with
// fcgiwrap, through the snippets the .deb installed in /etc, and compares
// every reply with the program run directly. Started by tests/servers/run
// (as root), which installs the .deb, owns the work folder, gives this
// script a /run of its own and stops whatever this script leaves running.
//
//   node servers.js <work folder> <program> [server ...]
//
// For each server, three times (the snippet as shipped, an open node, a
// node with a password):
//  - the installed snippet gets the operator's edit, in place: the home
//    folder set (and, for the node with a password, the password line
//    uncommented and set); as shipped it is left as it is. It is included
//    into the server's base configuration in this folder;
//  - the server is started in a session of its own on a free loopback port;
//  - each request of cases.json for that node goes through it, and the
//    reply (status, the program's header lines, body) must equal the
//    program's own output for the same request, run as www-data, allowing
//    pid, utc, scan_ms and live free-space figures to differ; headers the
//    server adds are recorded and must be among `may_add`;
//  - the ways around the snippet's path (cases.json "around") reach the
//    program's 401 on the node with a password or no program at all, and
//    /cgi-bin/plugin_disks (each base configuration enables the server's
//    stock CGI set-up) reaches nothing on any node; as shipped, with the
//    program moved away, the path answers the server's `removed` status;
//  - the dashboard is loaded through it in headless Chromium (not for the
//    snippet as shipped, whose folder breakdown is refused);
//  - with a password: the snippet is at the owner and mode the package
//    set, and the server is reloaded as its Debian unit does with the
//    password changed in it: it must live on and take the new one;
//  - the server is stopped, and none of the processes of its session may
//    be left; with a password, its config check must then pass the
//    password quoted and refuse it unquoted.

const fs = require('fs');
const net = require('net');
const http = require('http');
const path = require('path');
const { spawn, spawnSync } = require('child_process');
const fixtures = require('../blackbox/fixtures');
const { splitReply, normaliseLive } = require('../blackbox/reply');

const HERE = __dirname;
const REPO = path.resolve(HERE, '..', '..');
const DOC = path.join(REPO, 'docs', 'deploy.md');
const RUN_AS = ['--reuid=www-data', '--regid=www-data', '--clear-groups'];

// Headers a server may add to a reply; anything else it adds fails.
const MAY_ADD = ['date', 'server', 'content-length', 'transfer-encoding', 'connection', 'keep-alive',
  'accept-ranges'];

// Where the .deb puts each server's snippet, and the socket the nginx
// snippet names (Debian's fcgiwrap.socket; tests/servers/run gives this
// script a /run of its own).
const SOCKET = '/run/fcgiwrap.socket';

const SERVERS = {
  lighttpd: {
    snippet: '/etc/lighttpd/conf-available/50-plugin-disks.conf',
    // lighttpd reads its configuration again as www-data when it reloads.
    protect: { mode: 0o640, owner: 'root', group: 'www-data' },
    // lighttpd opens its logs again as www-data when it reloads.
    prepare(inst) {
      for (const name of ['lighttpd.log', 'access.log']) {
        const log = path.join(inst.dir, name);
        fs.writeFileSync(log, '');
        chownWww(log);
      }
    },
    start: (inst) => [['lighttpd', '/usr/sbin/lighttpd', ['-D', '-f', inst.conf]]],
    check: (inst) => ['/usr/sbin/lighttpd', ['-tt', '-f', inst.conf]],
    // What Debian's unit does on "systemctl reload lighttpd".
    reload: (inst, main) => ['/bin/kill', ['-' + unitReloadSignal('/lib/systemd/system/lighttpd.service'), String(main.sid)]],
    nolog: 'accesslog.filename',
    // A program that is gone (dpkg -r disables this snippet anyway): 404,
    // or mod_cgi's 500 while lighttpd's stat cache (about a second) still
    // holds the file.
    removed: [404, 500],
  },
  apache2: {
    snippet: '/etc/apache2/conf-available/plugin-disks.conf',
    protect: { mode: 0o600, owner: 'root', group: 'root' },
    start: (inst) => [['apache2', '/usr/sbin/apache2', ['-f', inst.conf, '-DFOREGROUND']]],
    check: (inst) => ['/usr/sbin/apache2', ['-t', '-f', inst.conf]],
    // Debian's unit reloads with "apachectl graceful", that is this.
    reload: (inst) => ['/usr/sbin/apache2', ['-f', inst.conf, '-k', 'graceful']],
    nolog: 'SetEnvIfExpr',
    removed: 404,
  },
  nginx: {
    snippet: '/etc/nginx/snippets/plugin-disks.conf',
    protect: { mode: 0o600, owner: 'root', group: 'root' },
    // fcgiwrap runs as www-data, as Debian's unit starts it (with its HOME,
    // which it hands on to the program); nginx's workers (www-data)
    // connect to its socket, which www-data may make in this /run.
    prepare(inst) {
      inst.socket = SOCKET;
      fs.rmSync(SOCKET, { force: true });
      for (const t of ['body', 'fastcgi', 'proxy', 'uwsgi', 'scgi']) {
        fs.mkdirSync(path.join(inst.dir, 'nginx-temp', t), { recursive: true });
      }
      // "include fastcgi_params" is relative to the configuration's folder.
      fs.symlinkSync('/etc/nginx/fastcgi_params', path.join(inst.dir, 'fastcgi_params'));
    },
    start: (inst) => [
      ['fcgiwrap', '/usr/bin/setpriv', [...RUN_AS, '/usr/bin/env', 'HOME=/var/www', '/usr/sbin/fcgiwrap', '-c', '2',
        '-p', inst.program, '-s', 'unix:' + inst.socket], () => fs.existsSync(inst.socket)],
      ['nginx', '/usr/sbin/nginx', ['-p', inst.dir, '-e', path.join(inst.dir, 'nginx.log'), '-c', inst.conf]],
    ],
    check: (inst) => ['/usr/sbin/nginx', ['-t', '-p', inst.dir, '-e', path.join(inst.dir, 'nginx.log'), '-c', inst.conf]],
    // Debian's unit reloads with "nginx -s reload".
    reload: (inst) => ['/usr/sbin/nginx', ['-p', inst.dir, '-e', path.join(inst.dir, 'nginx.log'), '-c', inst.conf, '-s', 'reload']],
    nolog: 'access_log off',
    // The snippet's guard, not fcgiwrap's 403.
    removed: 503,
  },
};

// The signal of a systemd unit's "ExecReload=/bin/kill -SIG $MAINPID".
function unitReloadSignal(unit) {
  const m = /^ExecReload=\S*kill -(?:s )?([A-Z0-9]+) \$MAINPID$/m.exec(fs.readFileSync(unit, 'utf8'));
  if (!m) throw new Error(unit + ': no ExecReload that sends a signal');
  return m[1].replace(/^SIG/, '');
}

// ---------- processes ----------

const sessions = [];

function chownWww(p) {
  const r = spawnSync('chown', ['www-data:www-data', p]);
  if (r.status !== 0) throw new Error('chown www-data ' + p + ' failed');
}

// The live processes of session `sid` (zombies are gone already).
function sessionProcs(sid) {
  const out = [];
  for (const pid of fs.readdirSync('/proc')) {
    if (!/^[0-9]+$/.test(pid)) continue;
    let stat;
    try {
      stat = fs.readFileSync(`/proc/${pid}/stat`, 'latin1');
    } catch (e) {
      continue;
    }
    const f = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
    if (Number(f[3]) === sid && f[0] !== 'Z') {
      let cmd = '';
      try { cmd = fs.readFileSync(`/proc/${pid}/cmdline`, 'latin1').replace(/\0/g, ' ').trim(); } catch (e) { /* gone */ }
      out.push({ pid: Number(pid), cmd });
    }
  }
  return out;
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// Each start entry: a label, the command, its arguments, and optionally a
// test that it is ready (the last entry is ready when its port answers).

// Starts cmd in a session of its own; the session id is its pid, and is
// written down so that the shell wrapper can end it if this script dies.
function startSession(work, cmd, args, log) {
  const fd = fs.openSync(log, 'a');
  const child = spawn(cmd, args, { detached: true, stdio: ['ignore', fd, fd], env: { PATH: '/usr/sbin:/usr/bin:/sbin:/bin' } });
  fs.closeSync(fd);
  const s = { sid: child.pid, cmd, exited: false };
  child.on('exit', () => { s.exited = true; });
  sessions.push(s);
  fs.appendFileSync(path.join(work, 'sessions'), child.pid + '\n');
  return s;
}

// SIGTERM to every process of the session, then SIGKILL to what is left.
// Returns the processes still there after both (none, normally).
async function stopSession(s) {
  for (const sig of ['SIGTERM', 'SIGKILL']) {
    for (const p of sessionProcs(s.sid)) {
      try { process.kill(p.pid, sig); } catch (e) { /* gone */ }
    }
    for (let i = 0; i < 50 && sessionProcs(s.sid).length; i++) await sleep(100);
    if (!sessionProcs(s.sid).length) return { sig, left: [] };
  }
  return { sig: 'SIGKILL', left: sessionProcs(s.sid) };
}

async function stopAll() {
  const left = [];
  while (sessions.length) {
    const s = sessions.pop();
    const r = await stopSession(s);
    left.push(...r.left);
  }
  return left;
}

function freePort() {
  return new Promise((resolve, reject) => {
    const srv = net.createServer();
    srv.once('error', reject);
    srv.listen(0, '127.0.0.1', () => {
      const { port } = srv.address();
      srv.close(() => resolve(port));
    });
  });
}

function canConnect(port) {
  return new Promise((resolve) => {
    const sock = net.connect(port, '127.0.0.1');
    sock.once('connect', () => { sock.destroy(); resolve(true); });
    sock.once('error', () => resolve(false));
  });
}

async function waitUntil(test, what, s, logs) {
  for (let i = 0; i < 150; i++) {
    if (await test()) return;
    if (s.exited) break;
    await sleep(100);
  }
  throw new Error(`${what} did not come up${s.exited ? ' (it exited)' : ''}\n` + readLogs(logs));
}

function readLogs(files) {
  return files.filter((f) => fs.existsSync(f))
    .map((f) => `--- ${f}\n${fs.readFileSync(f, 'utf8').split('\n').slice(-30).join('\n')}`).join('\n');
}

// ---------- configurations ----------

// The operator's edit of a snippet as shipped: the one line that sets
// USERPROFILE to "" gets the home folder; with a password, the one
// commented-out ZEM_PASSWORD line is uncommented and set, quoted as the
// guide says ("...", with \" and, for Apache and nginx, \\), or left
// unquoted when `opts.unquoted` is set (what each config check must
// refuse); `opts.nolog` uncomments the one line holding it (the access
// log left out).
function operatorEdit(shipped, where, home, password, opts = {}) {
  const lines = shipped.split('\n');
  const one = (test, what) => {
    const at = lines.map((l, i) => (test(l) ? i : -1)).filter((i) => i >= 0);
    if (at.length !== 1) throw new Error(`${where}: ${at.length} lines ${what}, expected one`);
    return at[0];
  };
  const server = Object.keys(SERVERS).find((k) => SERVERS[k].snippet === where);
  const h = one((l) => !/^\s*#/.test(l) && l.includes('USERPROFILE') && l.includes('""'), 'set USERPROFILE to ""');
  lines[h] = lines[h].replace('""', () => quote(home, server));
  if (password) {
    const p = one((l) => /^\s*#/.test(l) && l.includes('ZEM_PASSWORD') && l.includes('"change-me"'), 'set ZEM_PASSWORD commented out');
    lines[p] = lines[p].replace('#', '').replace('"change-me"', () => (opts.unquoted ? password : quote(password, server)));
  }
  if (opts.nolog) {
    const n = one((l) => /^\s*#/.test(l) && l.includes(opts.nolog), `holding ${opts.nolog} commented out`);
    lines[n] = lines[n].replace('#', '');
  }
  return lines.join('\n');
}

// A value in double quotes as each server reads it: Apache and nginx
// read \" and \\ as escapes; lighttpd only \", and a value ending in \
// cannot be written for it (its config check refuses it).
function quote(value, server) {
  if (server === 'lighttpd') return '"' + value.replace(/"/g, '\\"') + '"';
  return '"' + value.replace(/[\\"]/g, (c) => '\\' + c) + '"';
}

// Lines of the block of docs/deploy.md marked "server-config: <server>"
// that the snippet, edited as the guide says, does not hold.
function docLinesMissing(doc, server, edited) {
  const m = new RegExp('<!-- server-config: ' + server + ' -->\\n```[^\\n]*\\n([\\s\\S]*?)```').exec(doc);
  if (!m) return [`docs/deploy.md has no block marked "server-config: ${server}"`];
  const have = new Set(edited.split('\n'));
  return m[1].split('\n').filter((l) => l.trim() && !have.has(l)).map((l) => 'not in the snippet: ' + JSON.stringify(l));
}

// ---------- replies ----------

function request(port, target, headers) {
  return new Promise((resolve, reject) => {
    const req = http.request({ host: '127.0.0.1', port, path: target, headers, agent: false }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => {
        const raw = [];
        for (let i = 0; i < res.rawHeaders.length; i += 2) {
          raw.push({ name: res.rawHeaders[i], value: res.rawHeaders[i + 1] });
        }
        resolve({ status: res.statusCode, message: res.statusMessage, headers: raw,
          body: Buffer.concat(chunks).toString('latin1') });
      });
    });
    req.setTimeout(30000, () => req.destroy(new Error('no reply in 30 s')));
    req.on('error', reject);
    req.end();
  });
}

// The program run directly with the environment a CGI server gives it for
// the request: the raw query string, the two password headers, and the
// variables the configuration sets.
function direct(program, target, headers, vars) {
  const q = target.indexOf('?');
  const env = Object.assign({ QUERY_STRING: q < 0 ? '' : target.slice(q + 1) }, vars);
  for (const [k, v] of Object.entries(headers)) {
    env['HTTP_' + k.toUpperCase().replace(/-/g, '_')] = v;
  }
  const r = spawnSync('/usr/bin/setpriv', [...RUN_AS, program], { env, encoding: 'latin1' });
  if (r.status !== 0 || r.stderr) throw new Error(`direct run failed: status ${r.status} ${r.stderr}`);
  const reply = splitReply(r.stdout);
  if (!reply) throw new Error('direct run wrote no header block');
  reply.headers = reply.headers.filter((h) => h.name.toLowerCase() !== 'status');
  return reply;
}

function firstDifference(a, b) {
  let i = 0;
  while (i < a.length && a[i] === b[i]) i++;
  return `at byte ${i}: server ${JSON.stringify(a.slice(i, i + 60))}, program ${JSON.stringify(b.slice(i, i + 60))}`;
}

function compare(c, got, want) {
  const errs = [];
  if (got.status !== c.status) errs.push(`status ${got.status}, expected ${c.status}`);
  if (got.status !== want.status) errs.push(`status ${got.status}, the program's ${want.status}`);
  const added = [];
  const byName = new Map();
  for (const h of got.headers) {
    const k = h.name.toLowerCase();
    if (!byName.has(k)) byName.set(k, []);
    byName.get(k).push(h.value);
  }
  for (const h of want.headers) {
    const k = h.name.toLowerCase();
    const vals = byName.get(k) || [];
    if (vals.length !== 1 || vals[0] !== h.value) {
      errs.push(`header ${h.name}: server sent ${JSON.stringify(vals)}, program wrote ${JSON.stringify(h.value)}`);
    }
    byName.delete(k);
  }
  for (const h of got.headers) {
    if (!byName.has(h.name.toLowerCase())) continue;
    added.push(/^(date|content-length)$/i.test(h.name) ? h.name : `${h.name}: ${h.value}`);
    if (!MAY_ADD.includes(h.name.toLowerCase())) errs.push(`server added header ${h.name}: ${h.value}`);
  }
  const a = normaliseLive(got.body);
  const b = normaliseLive(want.body);
  if (a !== b) errs.push(`body differs ${firstDifference(a, b)}`);
  return { errs, added };
}

// ---------- the dashboard in Chromium ----------

async function dashboard(browser, port, node, password, expect) {
  const page = await browser.newPage();
  const problems = [];
  const replies = [];
  page.on('pageerror', (e) => problems.push('page error: ' + e.message));
  // The browser's own request for /favicon.ico fails on every server; the
  // replies of the program are checked one by one below.
  page.on('console', (m) => {
    if (m.type() === 'error' && !/^Failed to load resource/.test(m.text())) problems.push('console error: ' + m.text());
  });
  page.on('response', (r) => {
    const u = new URL(r.url());
    if (u.pathname === '/plugin_disks') replies.push(`${r.status()} ${u.search}`);
  });
  try {
    const q = node === 'locked' ? '?pwd=' + encodeURIComponent(password) : '';
    await page.goto(`http://127.0.0.1:${port}/plugin_disks${q}`);
    const want = { mounts: expect.mounts, rows: expect.rows };
    const end = Date.now() + 15000;
    let seen;
    for (;;) {
      seen = await page.evaluate(() => ({
        mounts: document.querySelectorAll('#mounts .mnt').length,
        rows: [...document.querySelectorAll('#rows td.nm')].map((td) => td.textContent),
        count: document.getElementById('kCount').textContent,
        note: document.getElementById('dirNote').textContent,
      }));
      if (seen.mounts === want.mounts && JSON.stringify(seen.rows) === JSON.stringify(want.rows)) break;
      if (Date.now() > end) {
        problems.push(`dashboard never showed ${want.mounts} drives and rows ${JSON.stringify(want.rows)}: ` +
          JSON.stringify(seen));
        break;
      }
      await sleep(50);
    }
    if (seen.count !== String(want.mounts)) problems.push(`filesystems tile shows ${seen.count}, expected ${want.mounts}`);
    const bad = replies.filter((r) => !r.startsWith('200 '));
    if (bad.length) problems.push('replies other than 200: ' + bad.join(', '));
    return { problems, replies };
  } finally {
    await page.close();
  }
}

// ---------- around the snippet ----------

// A reply the program wrote: its JSON, or its header lines (no server
// sends these two of its own).
function fromProgram(got) {
  const has = (n, v) => got.headers.some((h) => h.name.toLowerCase() === n && h.value === v);
  return got.body.startsWith('{"ok":') || (has('cache-control', 'no-store') && has('x-content-type-options', 'nosniff'));
}

// Every way around the snippet's path (cases.json "around"): on the node
// with a password each must be the program's own 401 or reach no program
// at all; the "unreachable" ones must reach nothing on any node.
async function around(ctx, inst, node, vars, result) {
  const id = `${inst.server} (${node} node): `;
  for (const target of ctx.around.unreachable) {
    const got = await request(inst.port, target, {});
    const errs = [];
    if (got.status !== 403 && got.status !== 404) errs.push(`status ${got.status}, expected 403 or 404`);
    if (fromProgram(got)) errs.push('the reply is the program\'s: ' + got.body.slice(0, 80));
    report(id + `${target} reaches nothing (${got.status})`, errs, result);
  }
  if (node !== 'locked') return;
  const refused = direct(inst.program, '?action=mounts', {}, vars);
  for (const target of ctx.around.locked) {
    const got = await request(inst.port, target, {});
    const errs = [];
    if (got.status === 401) {
      if (got.body !== refused.body) errs.push('a 401 that is not the program\'s refusal: ' + got.body.slice(0, 80));
    } else if (got.status < 300 || fromProgram(got)) {
      errs.push(`status ${got.status}: ${fromProgram(got) ? 'the program answered' : 'not refused'}: ${got.body.slice(0, 80)}`);
    }
    report(id + `${target} is refused or reaches nothing (${got.status})`, errs, result);
  }
}

// With the program gone (dpkg -r), the path answers `kind.removed`, never
// the program and never a bare 403.
async function programRemoved(inst, kind, result) {
  const aside = inst.program + '.aside';
  fs.renameSync(inst.program, aside);
  let got;
  try {
    got = await request(inst.port, '/plugin_disks?action=info', {});
  } finally {
    fs.renameSync(aside, inst.program);
  }
  const allowed = [].concat(kind.removed);
  const ok = allowed.includes(got.status) && !fromProgram(got);
  const errs = ok ? [] : [`status ${got.status}, expected ${allowed.join(' or ')}: ${got.body.slice(0, 120)}`];
  report(`${inst.server}: with the program removed, /plugin_disks answers ${allowed.join(' or ')}`, errs, result,
    ok && got.status === 503 ? ` (${JSON.stringify(got.body.trim())})` : ` (${got.status})`);
}

// The snippet's owner and mode as the package set them: away from other
// local users, readable by what reads it on reload.
function protection(file) {
  const st = fs.statSync(file);
  const name = (db, id) => {
    const line = fs.readFileSync(db, 'utf8').split('\n').find((l) => l.split(':')[2] === String(id));
    return line ? line.split(':')[0] : String(id);
  };
  return { mode: st.mode & 0o7777, owner: name('/etc/passwd', st.uid), group: name('/etc/group', st.gid) };
}
const showProtection = (p) => `${p.owner}:${p.group} ${p.mode.toString(8).padStart(4, '0')}`;

// Runs a command of the server's (config check, reload) with a bounded time.
function runTool([cmd, args]) {
  const r = spawnSync(cmd, args, { encoding: 'utf8', timeout: 30000, env: { PATH: '/usr/sbin:/usr/bin:/sbin:/bin' } });
  return { status: r.status, out: ((r.stdout || '') + (r.stderr || '')).trim() };
}

// The password header's reply status, asked until `want` comes or 15 s
// pass: a reload lets the old workers finish first.
async function statusWith(port, password, want) {
  let got;
  for (let i = 0; i < 150; i++) {
    got = (await request(port, '/plugin_disks?action=info', { 'X-Zem-Password': password })).status;
    if (got === want) break;
    await sleep(100);
  }
  return got;
}

// Passwords the servers read differently: a backslash inside, and one at
// the end, which lighttpd cannot be given (its config check says so).
const BACKSLASHED = ['back\\slash', 'ends\\'];
const writable = (server, password) => !(server === 'lighttpd' && password.endsWith('\\'));

// A reload as the server's Debian unit does it, with the password changed
// in the protected snippet: the server must live on and use the new one.
// Then the same with each of BACKSLASHED, written as the guide says.
async function reload(ctx, inst, kind, main, result) {
  let old = ctx.password;
  for (const next of [ctx.password + ' 2', ...BACKSLASHED]) {
    const id = `${inst.server} (locked node): reload with the snippet at ${showProtection(kind.protect)}, password ${JSON.stringify(next)}`;
    const errs = [];
    fs.writeFileSync(kind.snippet, operatorEdit(ctx.shipped[inst.server], kind.snippet, ctx.home, next, { nolog: kind.nolog }));
    if (!writable(inst.server, next)) {
      const c = runTool(kind.check(inst));
      report(`${inst.server}: the config check refuses a password ending in \\`, c.status !== 0 ? [] : [`status 0: ${c.out}`], result,
        ` (status ${c.status})`);
      continue;
    }
    const cmd = kind.reload(inst, main);
    const r = runTool(cmd);
    if (r.status !== 0) errs.push(`${cmd[0]} ${cmd[1].join(' ')}: status ${r.status} ${r.out}`);
    const now = await statusWith(inst.port, next, 200).catch((e) => String(e));
    if (now !== 200) errs.push(`the new password gives ${now}, expected 200`);
    const before = await statusWith(inst.port, old, 401).catch((e) => String(e));
    if (before !== 401) errs.push(`the old password gives ${before}, expected 401`);
    if (main.exited) errs.push(`${main.label} exited`);
    report(id, errs, result, ` (${cmd[0].split('/').pop()} ${cmd[1].slice(-2).join(' ')})`);
    old = next;
  }
}

// With the snippet's no-log line, the access log (read once the server
// has stopped and flushed it) holds lines, and none with pwd=, though the
// dashboard was opened with ?pwd=: not in a request line, and not in the
// Referer of the browser's own request for /favicon.ico (the page asks
// for no referrer), which the combined format logs.
function accessLog(inst, result) {
  const log = path.join(inst.dir, 'access.log');
  const lines = fs.existsSync(log) ? fs.readFileSync(log, 'latin1').split('\n').filter(Boolean) : [];
  const requestLine = (l) => (/"([A-Z]+ [^"]*)"/.exec(l) || ['', ''])[1];
  const errs = [];
  if (!lines.length) errs.push('the access log is empty or missing');
  if (!lines.some((l) => requestLine(l).includes('/favicon.ico'))) errs.push('no request for /favicon.ico was logged');
  errs.push(...lines.filter((l) => l.includes('pwd=')).slice(0, 3).map((l) => 'logged: ' + l));
  report(`${inst.server} (locked node): the snippet's no-log line and the page's referrer policy keep pwd= out of the access log`,
    errs, result, ` (${lines.length} lines logged)`);
}

// The config check refuses the password written without quotes; with the
// guide's quotes it passes.
function unquoted(ctx, inst, kind, result) {
  const id = `${inst.server}: the config check`;
  try {
    fs.writeFileSync(kind.snippet, operatorEdit(ctx.shipped[inst.server], kind.snippet, ctx.home, ctx.password));
    const good = runTool(kind.check(inst));
    report(`${id} passes the quoted password`, good.status === 0 ? [] : [`status ${good.status}: ${good.out}`], result);
    fs.writeFileSync(kind.snippet, operatorEdit(ctx.shipped[inst.server], kind.snippet, ctx.home, ctx.password, { unquoted: true }));
    const bad = runTool(kind.check(inst));
    const said = bad.out.split('\n').filter((l) => !/syntax is ok|test failed|^\s*$/i.test(l)).slice(0, 2).join(' / ').slice(0, 200);
    report(`${id} refuses it unquoted`, bad.status !== 0 ? [] : [`status 0: ${bad.out}`], result, ` (status ${bad.status}: ${said})`);
  } finally {
    fs.writeFileSync(kind.snippet, ctx.shipped[inst.server]);
  }
}

// ---------- main ----------

async function runInstance(ctx, server, node) {
  const { work, program, password } = ctx;
  const dir = path.join(work, `${server}-${node}`);
  fs.mkdirSync(path.join(dir, 'htdocs'), { recursive: true, mode: 0o755 });
  const inst = { server, dir, program, conf: path.join(dir, server + '.conf') };
  const kind = SERVERS[server];
  if (kind.prepare) kind.prepare(inst);
  inst.port = await freePort();
  const pw = node === 'locked' ? password : '';
  const result = { server, node, port: inst.port, failed: 0, added: new Set(), statuses: new Set() };

  const sitePath = kind.snippet;
  const shipped = ctx.shipped[server];
  if (node === 'locked') {
    const have = protection(sitePath);
    const want = kind.protect;
    report(`${server}: the package keeps the snippet ${showProtection(want)}`,
      showProtection(have) === showProtection(want) ? [] : [`it is ${showProtection(have)}`], result);
  }
  // With a password, the snippet's line that keeps pwd= out of the access
  // log is uncommented too.
  fs.writeFileSync(sitePath, node === 'shipped' ? shipped
    : operatorEdit(shipped, sitePath, ctx.home, pw, { nolog: node === 'locked' && kind.nolog }));
  const base = fs.readFileSync(path.join(HERE, server + '.conf'), 'utf8');
  fs.writeFileSync(inst.conf, base.replace(/@WORK@/g, dir).replace(/@PORT@/g, String(inst.port)).replace(/@SITE@/g, sitePath));

  const log = path.join(dir, 'output.log');
  const logs = [log, ...fs.readdirSync(dir).filter((f) => f.endsWith('.log')).map((f) => path.join(dir, f)),
    path.join(dir, server + '.log')];
  const mine = [];
  for (const [label, cmd, args, ready] of kind.start(inst)) {
    const s = startSession(work, cmd, args, log);
    s.label = label;
    mine.push(s);
    if (ready) await waitUntil(async () => ready(), label, s, logs);
  }
  await waitUntil(() => canConnect(inst.port), server, mine[mine.length - 1], logs);

  // As shipped, USERPROFILE is set empty: fcgiwrap's own HOME must not
  // take its place.
  const vars = { ZEM_PASSWORD: pw, USERPROFILE: node === 'shipped' ? '' : ctx.home };
  const fill = (v) => v.replace('{password}', password).replace('{password_url}', encodeURIComponent(password))
    .replace('{password_plus}', encodeURIComponent(password).replace(/%20/g, '+'));
  for (const c of ctx.cases.filter((x) => x.node === node)) {
    const headers = {};
    for (const [k, v] of Object.entries(c.headers || {})) headers[k] = fill(v);
    const target = fill(c.target);
    const id = `${server} (${node} node): ${c.name}`;
    let errs;
    try {
      const got = await request(inst.port, target, headers);
      const want = direct(program, target, headers, vars);
      const r = compare(c, got, want);
      if (c.error && !got.body.includes(`"error":"${c.error}"`)) r.errs.push(`the reply is not the ${c.error} refusal`);
      errs = r.errs;
      r.added.forEach((h) => result.added.add(h));
      result.statuses.add(`${got.status} ${got.message}`);
    } catch (e) {
      errs = [String(e && e.stack || e)];
    }
    report(id, errs, result);
  }

  try {
    await around(ctx, inst, node, vars, result);
    if (node === 'shipped') await programRemoved(inst, kind, result);
  } catch (e) {
    report(`${server} (${node} node): around the snippet`, [String(e && e.stack || e)], result);
  }

  const id = `${server} (${node} node): dashboard in Chromium`;
  if (node !== 'shipped') {
    try {
      const d = await dashboard(ctx.browser, inst.port, node, password, ctx.expect);
      report(id, d.problems, result, ` (${d.replies.length} replies: ${d.replies.join(', ')})`);
    } catch (e) {
      report(id, [String(e && e.stack || e)], result);
    }
  }

  if (node === 'locked') {
    try {
      await reload(ctx, inst, kind, mine[mine.length - 1], result);
    } catch (e) {
      report(`${server} (locked node): reload`, [String(e && e.stack || e)], result);
    }
  }

  for (const s of mine.reverse()) {
    const r = await stopSession(s);
    sessions.splice(sessions.indexOf(s), 1);
    const leftId = `${server} (${node} node): ${s.label} stopped, no process left`;
    const errs = r.left.map((p) => `left running: ${p.pid} ${p.cmd}`);
    report(leftId, errs, result, r.sig === 'SIGKILL' ? ' (needed SIGKILL)' : '');
  }
  if (node === 'locked') {
    accessLog(inst, result);
    unquoted(ctx, inst, kind, result);
  }
  return result;
}

function report(id, errs, result, extra = '') {
  if (!errs.length) {
    process.stdout.write(`ok    ${id}${extra}\n`);
    return;
  }
  result.failed++;
  process.stdout.write(`FAIL  ${id}\n`);
  for (const e of errs) process.stdout.write('    ' + String(e).replace(/\n/g, '\n    ') + '\n');
}

async function main() {
  const [work, programSrc, ...only] = process.argv.slice(2);
  if (!work || !programSrc) {
    process.stderr.write('usage: node servers.js <work folder> <program> [server ...]\n');
    process.exit(2);
  }
  const data = JSON.parse(fs.readFileSync(path.join(HERE, 'cases.json'), 'utf8'));
  const servers = only.length ? only : Object.keys(SERVERS);
  for (const s of servers) if (!SERVERS[s]) throw new Error('unknown server ' + s);

  // The servers run the installed program as www-data: the home fixture
  // goes where www-data can read it.
  const program = programSrc;
  const home = fixtures.ensure(path.join(work, 'fixtures'), 'sizes');
  const shipped = {};
  const doc = fs.readFileSync(DOC, 'utf8');
  let failed = 0;
  for (const s of servers) {
    shipped[s] = fs.readFileSync(SERVERS[s].snippet, 'utf8');
    let errs;
    try {
      errs = docLinesMissing(doc, s, operatorEdit(shipped[s], SERVERS[s].snippet, '/home/alice', 'change-me'));
    } catch (e) {
      errs = [String(e && e.message || e)];
    }
    const r = { failed: 0 };
    report(`${s}: the block of docs/deploy.md is the installed snippet, edited as it says`, errs, r);
    failed += r.failed;
  }

  // What the dashboard must show: the drives and the home folder's entries
  // as the program itself lists them for www-data.
  const vars = { ZEM_PASSWORD: '', USERPROFILE: home };
  const mounts = JSON.parse(direct(program, '?action=mounts', {}, vars).body);
  const dirs = JSON.parse(direct(program, '?action=dirs&root=home', {}, vars).body);
  // The page shows memory file systems apart from the drives, and counts
  // only the drives in its tiles.
  const memory = ['tmpfs', 'devtmpfs', 'ramfs', 'rootfs', 'hugetlbfs'];
  const drives = mounts.mounts.filter((m) => !memory.includes(m.fstype));
  const expect = { mounts: drives.length, rows: dirs.entries.map((e) => e.name) };

  const { chromium } = require('playwright-core');
  const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const ctx = { work, program, home, password: data.password, cases: data.cases, around: data.around, shipped, browser, expect };
  const results = [];
  try {
    for (const server of servers) {
      for (const node of ['shipped', 'open', 'locked']) {
        let r;
        try {
          r = await runInstance(ctx, server, node);
        } catch (e) {
          r = { server, node, failed: 1, added: new Set(), statuses: new Set() };
          report(`${server} (${node} node): start`, [String(e && e.message || e)], { failed: 0 });
        }
        failed += r.failed;
        results.push(r);
      }
    }
  } finally {
    for (const s of servers) fs.writeFileSync(SERVERS[s].snippet, shipped[s]);
    await browser.close();
    const left = await stopAll();
    for (const p of left) {
      failed++;
      process.stdout.write(`FAIL  left running: ${p.pid} ${p.cmd}\n`);
    }
  }
  process.stdout.write('\nWhat each server did to the replies:\n');
  for (const r of results) {
    process.stdout.write(`  ${r.server} (${r.node} node): statuses ${[...r.statuses].sort().join(', ') || '-'}; ` +
      `headers added: ${[...r.added].join(', ') || 'none'}\n`);
  }
  process.stdout.write(failed ? `\n${failed} failed\n` : '\nall passed\n');
  process.exit(failed ? 1 : 0);
}

process.on('SIGINT', () => { stopAll().then(() => process.exit(130)); });
process.on('SIGTERM', () => { stopAll().then(() => process.exit(143)); });
main().catch(async (e) => {
  process.stderr.write(String(e && e.stack || e) + '\n');
  await stopAll();
  process.exit(1);
});
