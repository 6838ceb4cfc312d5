// Shared pieces of the browser tests: the browser, extra hosts, reply
// factories, request logs and polling from the Node side (so that waiting
// never depends on the page's timers, which the clock tests replace).
'use strict';
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { spawn } = require('node:child_process');
const { chromium } = require('playwright-core');

const REPO = path.resolve(__dirname, '..', '..');
const HOST_URL = process.env.HOST_URL;
const HOME_FIXTURE = process.env.HOME_FIXTURE;
const PLUGIN = process.env.PLUGIN || path.join(REPO, 'build', 'plugin_disks');
if (!HOST_URL || !HOME_FIXTURE) {
  throw new Error('HOST_URL and HOME_FIXTURE are unset: run the browser tests with tests/browser/run');
}

const DOT = '  \u00b7  ';
const DASH = '\u2014';

function launch() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

// Another host (for a password, or a plugin that cannot run), on a free port.
// A command in `prefix` runs the host (for example in a mount namespace of
// its own); it must end by executing its arguments.
function startHost(args, prefix = [], timeoutMs = 10000) {
  return new Promise((resolve, reject) => {
    const command = [...prefix, process.execPath, path.join(REPO, 'host', 'server.js'), '--port', '0', ...args];
    const child = spawn(command[0], command.slice(1), { stdio: ['ignore', 'pipe', 'pipe'] });
    let out = '';
    const timer = setTimeout(() => { child.kill(); reject(new Error('host did not start: ' + out)); }, timeoutMs);
    child.stdout.on('data', (c) => {
      out += c;
      const m = /listening on (http:\/\/[^\s]+?)\/?\n/.exec(out);
      if (m) {
        clearTimeout(timer);
        resolve({
          url: m[1],
          stop: () => new Promise((r) => { child.once('exit', r); child.kill(); }),
        });
      }
    });
    child.stderr.on('data', (c) => { out += c; });
    child.once('exit', (code) => { clearTimeout(timer); reject(new Error('host exited ' + code + ': ' + out)); });
  });
}

// Polls fn in the page (or frame) from Node until it returns a truthy value.
async function waitFor(target, fn, arg, timeout = 10000) {
  const end = Date.now() + timeout;
  let last;
  for (;;) {
    last = await target.evaluate(fn, arg);
    if (last) return last;
    if (Date.now() > end) throw new Error('timed out waiting for ' + fn.toString() + ' (last: ' + JSON.stringify(last) + ')');
    await new Promise((r) => setTimeout(r, 25));
  }
}
const textOf = (target, sel) => target.evaluate((s) => { const e = document.querySelector(s); return e ? e.textContent : null; }, sel);
async function waitText(target, sel, expected, timeout) {
  const test = typeof expected === 'string' ? (t) => t === expected : (t) => t !== null && expected.test(t);
  const end = Date.now() + (timeout || 10000);
  let t;
  for (;;) {
    t = await textOf(target, sel);
    if (test(t)) return t;
    if (Date.now() > end) assert.fail(`${sel}: text ${JSON.stringify(t)} never matched ${expected}`);
    await new Promise((r) => setTimeout(r, 25));
  }
}

// The action of a request URL, or '' for any other request.
function actionOf(url) {
  const u = new URL(url);
  if (u.pathname !== '/plugin_disks' && u.pathname !== '/plugins') return '';
  return u.searchParams.get('action') || '';
}
const isAction = (name) => (url) => actionOf(url.toString()) === name;

// Every API request the page sends: path with query, and headers.
function logRequests(page) {
  const log = [];
  page.on('request', (r) => {
    if (actionOf(r.url())) {
      const u = new URL(r.url());
      log.push({ action: actionOf(r.url()), path: u.pathname + u.search, headers: r.headers(), frame: r.frame() });
    }
  });
  return log;
}

// In-page record of fetch calls (synchronous, so exact for counting), of
// "zem-theme" events and of window messages.
const INSTRUMENT = `(() => {
  window.__fetches = [];
  const f = window.fetch;
  window.fetch = function (u, o) { window.__fetches.push({ url: String(u), headers: (o && o.headers) || null }); return f.apply(this, arguments); };
  window.__events = [];
  window.addEventListener('zem-theme', (e) => window.__events.push(e.detail));
  window.__msgs = [];
  window.addEventListener('message', (e) => window.__msgs.push(e.data));
})();`;
const fetchCount = (page, action) => page.evaluate((a) => window.__fetches.filter((f) => f.url.includes('action=' + a + '&') || f.url.endsWith('action=' + a)).length, action);

// Reply factories.
function drive(over) {
  return Object.assign({
    device: '/dev/sdz1', fstype: 'ext4', mount: '/data', total_bytes: 1000 * 1024 * 1024,
    used_bytes: 500 * 1024 * 1024, free_bytes: 500 * 1024 * 1024, avail_bytes: 400 * 1024 * 1024,
    pct: 55.6, inodes_total: 0, inodes_used: 0, inodes_pct: 0, has_inodes: false,
  }, over);
}
function mountsReply(mounts, over) {
  return Object.assign({
    ok: true, action: 'mounts', plugin: 'plugin_disks', version: '1.0.2', platform: 'testos', pid: 4242,
    count: mounts.length, utc: '2026-01-02T03:04:05Z', zero_network: true, mounts,
  }, over);
}
function entry(name, bytes, over) {
  return Object.assign({ name, path: '/home/t/' + name, bytes, pct: 1.5, is_dir: false }, over);
}
function dirsReply(entries, over) {
  return Object.assign({
    ok: true, action: 'dirs', plugin: 'plugin_disks', platform: 'testos', root_kind: 'home', root: '/home/t',
    root_label: '$HOME', root_total_bytes: 100 * 1024 * 1024 * 1024, root_used_bytes: 40 * 1024 * 1024 * 1024,
    root_free_bytes: 60 * 1024 * 1024 * 1024, root_pct: 40.0, count: entries.length, truncated: false,
    max_depth: 8, max_scan_entries: 120000, scan_ms: 12, utc: '2026-01-02T03:04:05Z', entries,
  }, over);
}
const json = (route, body, status) => route.fulfill({
  status: status || 200, contentType: 'application/json; charset=utf-8', body: typeof body === 'string' ? body : JSON.stringify(body),
});

// Serves fixed replies for both actions (a function gets the request URL).
async function serveReplies(page, mounts, dirs) {
  await page.route(isAction('mounts'), (route) => json(route, typeof mounts === 'function' ? mounts(route.request().url()) : mounts));
  await page.route(isAction('dirs'), (route) => json(route, typeof dirs === 'function' ? dirs(route.request().url()) : dirs));
}

// axe-core: what it finds on the page with the five drives of the machine
// the counts were measured on (AXE_DRIVES, served in place of this
// machine's, so that the counts do not depend on where the tests run):
// the fixed colours of the theme (elements), the page without a main
// landmark, and the texts outside any landmark (elements). The folder
// breakdown and the largest files are landmarks of their own (regions named
// by their headings), so their rows and headings add nothing; before they
// were, the region count was 11 and each listed row added its own.
const AXE = path.join(REPO, 'node_modules', 'axe-core', 'axe.min.js');
const AXE_BASELINE = {
  light: { 'color-contrast': 6, 'landmark-one-main': 1, region: 8 },
  dark: { 'color-contrast': 38, 'landmark-one-main': 1, region: 8 },
};
const AXE_DRIVES = mountsReply(['/', '/dev/shm', '/sys/fs/cgroup', '/dev', '/mnt/tools'].map((mount, i) =>
  drive({ mount, device: 'dev' + i, pct: [20, 0, 0, 0, 95][i] })));

// Violations by rule, in elements; and any violation at all on what the
// drill-down, the detail columns, the largest files, the map and the
// comparison added (the breadcrumb, the way up, the rows, the headings of
// On disk, Change, Of folder, Items and Modified, the card, the map with its
// tip and hint, the memory group, the note under the tiles, the comparison's
// control, message and gone entries).
async function axeCounts(target) {
  if (!(await target.evaluate(() => typeof window.axe === 'object'))) await target.addScriptTag({ path: AXE });
  return target.evaluate(async () => {
    const out = { rules: {}, onNew: [] };
    const r = await window.axe.run(document, { resultTypes: ['violations'] });
    for (const v of r.violations) {
      for (const n of v.nodes) {
        const e = document.querySelector(n.target[0]);
        const th = e && e.closest('#mapWrap+.tblwrap thead th');
        if (e && (e.closest('.crumbs, .gone, #rows, th[data-sort], #largest, #mapWrap, .memfs > summary, #kNote, #ofMeasure, .cmp, #cmpMsg, #cmpGone') ||
          (th && /^(On disk|Change|Of folder|Items|Modified)/.test(th.textContent)))) out.onNew.push(v.id + ' ' + n.target[0]);
        out.rules[v.id] = (out.rules[v.id] || 0) + 1;
      }
    }
    return out;
  });
}
function assertNoRise(got, theme, where) {
  assert.deepEqual(got.onNew, [], `${where}: a violation on the new controls`);
  for (const [rule, n] of Object.entries(got.rules)) {
    assert.ok(rule in AXE_BASELINE[theme], `${where}: new violation ${rule} (${n})`);
    assert.ok(n <= AXE_BASELINE[theme][rule], `${where}: ${rule} rose to ${n} from ${AXE_BASELINE[theme][rule]}`);
  }
}

// The dashboard's byte formatter, for expected values.
function bytes(n) {
  if (n === undefined || n === null) return DASH;
  const units = ['B', 'KB', 'MB', 'GB', 'TB', 'PB'];
  let v = Number(n), u = 0;
  while (v >= 1024 && u < units.length - 1) { v /= 1024; u++; }
  return (u === 0 || v >= 100 ? v.toFixed(0) : v.toFixed(1)) + ' ' + units[u];
}

// Opens the dashboard of host's test home in a new context of browser
// (drives served as in the axe baseline) and waits until shows(page, '')
// returns. `reply(sub, test)` is the last folders reply the page received
// for that folder (once one passes test).
async function openDashboard(browser, host, shows, theme, query = '', viewport = { width: 1100, height: 900 }) {
  const context = await browser.newContext({ viewport, reducedMotion: 'reduce' });
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  await page.route(isAction('mounts'), (route) => json(route, AXE_DRIVES));
  const log = logRequests(page);
  const replies = {};
  page.on('response', async (r) => {
    if (actionOf(r.url()) !== 'dirs') return;
    const u = new URL(r.url());
    if (u.searchParams.get('root') !== 'home') return;
    try { replies[u.searchParams.get('sub') || ''] = await r.json(); } catch (e) { /* not JSON */ }
  });
  await page.goto(host.url + '/plugin_disks?theme=' + theme + query);
  await shows(page, '');
  const reply = async (sub = '', test = () => true) => {
    for (let i = 0; i < 400 && !(replies[sub] && test(replies[sub])); i++) await new Promise((r) => setTimeout(r, 25));
    return replies[sub];
  };
  return { context, page, errors, log, reply };
}

// Writes the file rel below home, its folders made: size bytes of data,
// or (data false) a sparse file of that size that takes nothing on disk.
// Returns its path.
function putFile(home, rel, size, data) {
  const file = path.join(home, rel);
  fs.mkdirSync(path.dirname(file), { recursive: true });
  if (data) {
    fs.writeFileSync(file, Buffer.alloc(size, 7));
  } else {
    fs.writeFileSync(file, '');
    fs.truncateSync(file, size);
  }
  return file;
}

module.exports = {
  REPO, HOST_URL, HOME_FIXTURE, PLUGIN, DOT, DASH, launch, startHost, waitFor, textOf, waitText,
  actionOf, isAction, logRequests, INSTRUMENT, fetchCount, drive, mountsReply, entry, dirsReply, json,
  serveReplies, bytes, AXE_BASELINE, AXE_DRIVES, axeCounts, assertNoRise, openDashboard, putFile,
};
