#!/usr/bin/env node
// Local stand-in for the plugin host, Node.js standard
// library only. It runs the plugin once per request, CGI-style, on two
// routes, and serves a small hub page that frames the dashboard.
//
//   node host/server.js [--port N] [--plugin PATH] [--password PW] [--home DIR]
//
//   --port      port on 127.0.0.1 (default: $PORT, else 8460; 0 picks a free one)
//   --plugin    the plugin program (default: build/plugin_disks under the repo root;
//               a relative path given here is taken from the current folder)
//   --password  the node password, passed to the plugin as ZEM_PASSWORD
//               (default: $ZEM_PASSWORD; unset or empty: an open node)
//   --home      the home folder, passed as USERPROFILE and HOME
//               (default: this process's USERPROFILE, else HOME)
//
// Routes:
//   GET /plugin_disks?...          direct route: the plugin with the raw query string
//   GET /plugins?plugin=disks&...  hub proxy route: the same plugin; the hub's own
//                                  parameters plugin, node and id are taken out and
//                                  every other parameter reaches the plugin raw, in
//                                  order. There is one node (this machine), so node
//                                  and id select nothing and are otherwise ignored.
//   GET / or /hub                  the hub page: frames the dashboard through the
//                                  hub route, with a light/dark switch
'use strict';

const fs = require('fs');
const http = require('http');
const path = require('path');
const { spawn } = require('child_process');

const REPO = path.resolve(__dirname, '..');
const PLUGIN_NAME = 'disks';
const RUN_TIMEOUT_MS = 60000;
const MAX_OUTPUT = 64 * 1024 * 1024;

function parseArgs(argv) {
  const opts = {};
  for (let i = 0; i < argv.length; i++) {
    const m = /^--(port|plugin|password|home)(?:=(.*))?$/.exec(argv[i]);
    if (!m) {
      if (argv[i] === '--help' || argv[i] === '-h') opts.help = true;
      else throw new Error('unknown argument: ' + argv[i]);
      continue;
    }
    let v = m[2];
    if (v === undefined) {
      if (i + 1 >= argv.length) throw new Error('--' + m[1] + ' needs a value');
      v = argv[++i];
    }
    opts[m[1]] = v;
  }
  return opts;
}

// The query string after the first "?", raw (never decoded); '' when none.
function rawQuery(url) {
  const at = url.indexOf('?');
  return at < 0 ? '' : url.slice(at + 1);
}

// Decoded name of one raw "name=value" pair, for matching only.
function pairName(pair) {
  const eq = pair.indexOf('=');
  const raw = (eq < 0 ? pair : pair.slice(0, eq)).replace(/\+/g, ' ');
  try { return decodeURIComponent(raw); } catch (e) { return raw; }
}

// The plugin's answer as { status, headers, body }, or null when its output
// has no header block. Header lines end in CR LF (a bare LF is tolerated);
// an empty line ends the block.
function parseCgi(out) {
  let end = out.indexOf('\r\n\r\n');
  let sep = 4;
  const lf = out.indexOf('\n\n');
  if (lf >= 0 && (end < 0 || lf < end)) { end = lf; sep = 2; }
  if (end < 0) return null;
  const head = out.slice(0, end).toString('latin1');
  let status = 200;
  let reason;
  const headers = [];
  for (const line of head.split(/\r?\n/)) {
    const colon = line.indexOf(':');
    if (colon <= 0) return null;
    const name = line.slice(0, colon).trim();
    const value = line.slice(colon + 1).trim();
    if (name.toLowerCase() === 'status') {
      const m = /^(\d{3})(?:\s+(.*))?$/.exec(value);
      if (!m) return null;
      status = Number(m[1]);
      reason = m[2];
    } else {
      headers.push([name, value]);
    }
  }
  return { status, reason, headers, body: out.slice(end + sep) };
}

function sendText(res, status, text, type) {
  res.writeHead(status, {
    'Content-Type': type || 'text/plain; charset=utf-8',
    'Cache-Control': 'no-store',
    'X-Content-Type-Options': 'nosniff',
  });
  res.end(text);
}

function createHost(config) {
  const plugin = config.plugin;
  const password = config.password || '';
  const home = config.home || '';

  function runPlugin(req, res, query) {
    const env = { PATH: process.env.PATH || '/usr/local/bin:/usr/bin:/bin', QUERY_STRING: query };
    if (req.headers['x-zem-password'] !== undefined) env.HTTP_X_ZEM_PASSWORD = req.headers['x-zem-password'];
    if (req.headers.authorization !== undefined) env.HTTP_AUTHORIZATION = req.headers.authorization;
    if (password) env.ZEM_PASSWORD = password;
    if (home) { env.USERPROFILE = home; env.HOME = home; }

    let child;
    try {
      child = spawn(plugin, [], { env, stdio: ['ignore', 'pipe', 'ignore'], windowsHide: true });
    } catch (e) {
      sendText(res, 502, 'plugin could not be run: ' + e.message + '\n');
      return;
    }
    const chunks = [];
    let size = 0;
    let failed = null;
    const timer = setTimeout(() => { failed = 'timed out'; child.kill('SIGKILL'); }, RUN_TIMEOUT_MS);
    child.stdout.on('data', (c) => {
      size += c.length;
      if (size > MAX_OUTPUT) { failed = 'too much output'; child.kill('SIGKILL'); return; }
      chunks.push(c);
    });
    child.on('error', (e) => { failed = failed || e.message; });
    child.on('close', () => {
      clearTimeout(timer);
      if (res.headersSent) return;
      if (failed) { sendText(res, 502, 'plugin could not be run: ' + failed + '\n'); return; }
      const reply = parseCgi(Buffer.concat(chunks));
      if (!reply) { sendText(res, 502, 'plugin reply has no header block\n'); return; }
      for (const [name, value] of reply.headers) {
        try { res.appendHeader ? res.appendHeader(name, value) : res.setHeader(name, value); } catch (e) { /* invalid header: dropped */ }
      }
      if (reply.reason) res.statusMessage = reply.reason;
      res.statusCode = reply.status;
      res.end(reply.body);
    });
  }

  function handle(req, res) {
    const url = req.url || '/';
    const pathname = url.split('?')[0];
    if (req.method !== 'GET' && req.method !== 'HEAD') {
      res.setHeader('Allow', 'GET, HEAD');
      sendText(res, 405, 'method not allowed\n');
      return;
    }
    if (pathname === '/plugin_disks') {
      runPlugin(req, res, rawQuery(url));
      return;
    }
    if (pathname === '/plugins') {
      const pairs = rawQuery(url).split('&').filter((p) => p !== '');
      const named = pairs.find((p) => pairName(p) === 'plugin');
      const name = named ? pairName(named.slice(named.indexOf('=') + 1 || named.length)) : '';
      if (name !== PLUGIN_NAME) {
        sendText(res, 404, JSON.stringify({ ok: false, error: 'unknown_plugin' }) + '\n',
          'application/json; charset=utf-8');
        return;
      }
      const rest = pairs.filter((p) => !['plugin', 'node', 'id'].includes(pairName(p)));
      runPlugin(req, res, rest.join('&'));
      return;
    }
    if (pathname === '/' || pathname === '/hub') {
      res.writeHead(200, {
        'Content-Type': 'text/html; charset=utf-8',
        'Cache-Control': 'no-store',
        'X-Content-Type-Options': 'nosniff',
      });
      res.end(HUB_PAGE);
      return;
    }
    if (pathname === '/favicon.ico') {
      res.writeHead(204, { 'Cache-Control': 'max-age=86400' });
      res.end();
      return;
    }
    sendText(res, 404, 'not found\n');
  }

  return http.createServer(handle);
}

// The hub page: frames the dashboard through the hub route and owns the
// theme. It answers the frame's "qv-theme-request" with a "qv-theme"
// message; on a switch it stores "zem_theme", posts "qv-theme" to the frame
// and calls the frame's qvApplyTheme. A password typed here is stored as
// "zem_pwd_local" and "zem_active_pwd" (the keys the dashboard reads) and
// given to the framed page request as pwd, since the gate guards pages too.
const HUB_PAGE = `<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><meta name="viewport" content="width=device-width,initial-scale=1">
<title>hub - disks</title>
<script>
(function () {
  var t = null;
  try { var m = /[?&]theme=(light|dark)/.exec(location.search); if (m) t = m[1]; } catch (e) {}
  if (!t) { try { var s = localStorage.getItem('zem_theme'); if (s === 'light' || s === 'dark') t = s; } catch (e) {} }
  if (!t) { try { t = matchMedia('(prefers-color-scheme: light)').matches ? 'light' : 'dark'; } catch (e) { t = 'dark'; } }
  document.documentElement.setAttribute('data-theme', t);
})();
</script>
<style>
:root{color-scheme:dark;--bg:#000;--bar:#1c1c1e;--text:#f5f5f7;--muted:#86868b;--line:rgba(255,255,255,.12);--accent:#0a84ff}
html[data-theme=light]{color-scheme:light;--bg:#f5f5f7;--bar:#fff;--text:#1d1d1f;--muted:#6e6e73;--line:rgba(0,0,0,.1);--accent:#007aff}
*{box-sizing:border-box}
html,body{height:100%}
body{margin:0;display:flex;flex-direction:column;background:var(--bg);color:var(--text);font:14px -apple-system,BlinkMacSystemFont,'Segoe UI',sans-serif}
header{display:flex;align-items:center;gap:10px;padding:10px 16px;background:var(--bar);border-bottom:1px solid var(--line);flex-wrap:wrap}
h1{font-size:16px;margin:0}
.muted{color:var(--muted);font-size:12px}
.spacer{flex:1}
button,input{font:inherit;font-size:13px;border-radius:999px;border:1px solid var(--line);padding:5px 12px;background:transparent;color:var(--text)}
button{cursor:pointer}
iframe{flex:1;width:100%;border:0;background:var(--bg)}
</style></head>
<body>
<header><h1>Hub</h1><span class="muted">node: local &middot; plugin: disks</span><span class="spacer"></span>
<form id="pwForm"><input id="pw" type="password" placeholder="node password" autocomplete="off"> <button type="submit">Use</button></form>
<button id="hubTheme" type="button">Light / dark</button></header>
<iframe id="frame" title="disks dashboard"></iframe>
<script>
(function () {
  var frame = document.getElementById('frame');
  function theme() { return document.documentElement.getAttribute('data-theme') === 'light' ? 'light' : 'dark'; }
  function stored(k) { try { return localStorage.getItem(k) || ''; } catch (e) { return ''; } }
  function store(k, v) { try { localStorage.setItem(k, v); } catch (e) {} }
  function load() {
    var src = '/plugins?plugin=disks&embed=1&node=local&theme=' + theme();
    var pw = stored('zem_pwd_local') || stored('zem_active_pwd');
    if (pw) src += '&pwd=' + encodeURIComponent(pw);
    frame.src = src;
  }
  function tell(t) {
    var w = frame.contentWindow;
    if (!w) return;
    try { w.postMessage({ type: 'qv-theme', theme: t }, location.origin); } catch (e) {}
    try { if (typeof w.qvApplyTheme === 'function') w.qvApplyTheme(t); } catch (e) {}
  }
  window.addEventListener('message', function (ev) {
    if (ev.source !== frame.contentWindow || !ev.data || ev.data.type !== 'qv-theme-request') return;
    try { ev.source.postMessage({ type: 'qv-theme', theme: theme() }, '*'); } catch (e) {}
  });
  document.getElementById('hubTheme').addEventListener('click', function () {
    var t = theme() === 'light' ? 'dark' : 'light';
    document.documentElement.setAttribute('data-theme', t);
    store('zem_theme', t);
    tell(t);
  });
  document.getElementById('pwForm').addEventListener('submit', function (ev) {
    ev.preventDefault();
    var pw = document.getElementById('pw').value;
    store('zem_pwd_local', pw);
    store('zem_active_pwd', pw);
    load();
  });
  load();
})();
</script>
</body></html>
`;

// Why the plugin cannot be run, or '' when it can: checked once at start so
// that a wrong path is told on the terminal, not as 502s in the browser.
function pluginProblem(file) {
  let st;
  try { st = fs.statSync(file); } catch (e) {
    return 'plugin not found: ' + file +
      ' (build it with scripts/serve or cmake -S . -B build && cmake --build build, or give --plugin PATH)';
  }
  if (!st.isFile()) return 'plugin is not a file: ' + file;
  try { fs.accessSync(file, fs.constants.X_OK); } catch (e) {
    return 'plugin is not executable: ' + file + ' (chmod +x it)';
  }
  return '';
}

// A warning about the home folder, or '': the host still starts, and the
// plugin refuses action=dirs&root=home with root_unavailable and a message.
function homeProblem(dir) {
  if (!dir) return '';
  let st;
  try { st = fs.statSync(dir); } catch (e) {
    return 'home folder does not exist: ' + dir + ' (the breakdown will refuse it)';
  }
  return st.isDirectory() ? '' : 'home folder is not a folder: ' + dir + ' (the breakdown will refuse it)';
}

function main() {
  let opts;
  try { opts = parseArgs(process.argv.slice(2)); } catch (e) {
    process.stderr.write('server.js: ' + e.message + '\n');
    process.exit(2);
  }
  if (opts.help) {
    process.stdout.write('usage: node host/server.js [--port N] [--plugin PATH] [--password PW] [--home DIR]\n');
    return;
  }
  const portText = opts.port !== undefined ? opts.port : (process.env.PORT || '8460');
  const port = Number(portText);
  if (!Number.isInteger(port) || port < 0 || port > 65535) {
    process.stderr.write('server.js: bad port: ' + portText + '\n');
    process.exit(2);
  }
  const config = {
    plugin: opts.plugin ? path.resolve(opts.plugin) : path.join(REPO, 'build', 'plugin_disks'),
    password: opts.password !== undefined ? opts.password : (process.env.ZEM_PASSWORD || ''),
    home: opts.home !== undefined ? path.resolve(opts.home) : (process.env.USERPROFILE || process.env.HOME || ''),
  };
  const problem = pluginProblem(config.plugin);
  if (problem) {
    process.stderr.write('server.js: ' + problem + '\n');
    process.exit(1);
  }
  const warning = homeProblem(config.home);
  if (warning) process.stderr.write('server.js: warning: ' + warning + '\n');
  const server = createHost(config);
  server.on('error', (e) => {
    process.stderr.write('server.js: ' + e.message + '\n');
    process.exit(1);
  });
  server.listen(port, '127.0.0.1', () => {
    const base = 'http://127.0.0.1:' + server.address().port;
    process.stdout.write(
      'plugin_disks host listening on ' + base + '/\n' +
      '  dashboard (direct route): ' + base + '/plugin_disks\n' +
      '  hub (framed, proxy route): ' + base + '/hub\n' +
      '  plugin: ' + config.plugin + (config.password ? ' (node password set)' : '') + '\n');
  });
  const stop = () => process.exit(0);
  process.on('SIGTERM', stop);
  process.on('SIGINT', stop);
}

module.exports = { createHost, parseCgi, rawQuery, pluginProblem, homeProblem };
if (require.main === module) main();
