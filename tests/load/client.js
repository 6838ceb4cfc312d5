#!/usr/bin/env node
// Load client: keeps C requests of one kind in flight against the host for
// a bounded time, checks every reply in full and reports the figures.
//
//   node tests/load/client.js --base URL --kind mounts|dirs|page
//        --seconds S --concurrency C --expect FILE --out FILE
//
// Requests alternate between the direct route (/plugin_disks?...) and the
// hub route (/plugins?plugin=disks&...). No new request starts after S
// seconds; one still in flight then is waited for (each has its own 60 s
// limit, after which it counts as failed), so the run always ends.
//
// --expect names a JSON file made by the runner before the load starts:
//   { "tree": gentree output, "page": the page body in base64,
//     "mounts": [mount points of a reply taken just before] }
// A reply passes only when all of these hold:
//   every kind: status 200, the kind's Content-Type, Cache-Control no-store;
//   JSON kinds: body starts with {"ok":true, and ends with }\n, parses, ok
//     is true, action is the kind's;
//   mounts: count equals the length of mounts, which is at least 1, every
//     mount has the fields with the right types, and the mount points are
//     the ones listed just before the load;
//   dirs: root is the tree, truncated is false, count and every entry's
//     name, path, bytes and is_dir equal the tree's known listing, in order;
//   page: starts with <!DOCTYPE html>, ends with </html>\n and is byte for
//     byte the page taken just before the load.
//
// Standard output: one JSON object with the counts and figures; exit status
// 1 when any reply failed a check, 2 on bad arguments.
'use strict';

const http = require('http');
const fs = require('fs');

function parseArgs(argv) {
  const o = {};
  for (let i = 0; i < argv.length; i += 2) {
    const m = /^--(base|kind|seconds|concurrency|expect|out)$/.exec(argv[i]);
    if (!m || i + 1 >= argv.length) throw new Error('bad argument: ' + argv[i]);
    o[m[1]] = argv[i + 1];
  }
  for (const k of ['base', 'kind', 'seconds', 'concurrency', 'expect']) {
    if (o[k] === undefined) throw new Error('--' + k + ' is required');
  }
  if (!['mounts', 'dirs', 'page'].includes(o.kind)) throw new Error('bad kind: ' + o.kind);
  o.seconds = Number(o.seconds);
  o.concurrency = Number(o.concurrency);
  if (!(o.seconds > 0 && o.seconds <= 3600)) throw new Error('bad --seconds');
  if (!(Number.isInteger(o.concurrency) && o.concurrency >= 1 && o.concurrency <= 1024)) {
    throw new Error('bad --concurrency');
  }
  if (!/^http:\/\/127\.0\.0\.1:\d+$/.test(o.base)) throw new Error('--base must be http://127.0.0.1:PORT');
  return o;
}

let opts;
try { opts = parseArgs(process.argv.slice(2)); } catch (e) {
  process.stderr.write('client.js: ' + e.message + '\n');
  process.exit(2);
}
const expect = JSON.parse(fs.readFileSync(opts.expect, 'utf8'));

const QUERIES = { mounts: 'action=mounts', dirs: 'action=dirs&root=home', page: '' };
const query = QUERIES[opts.kind];
const routes = [
  '/plugin_disks' + (query ? '?' + query : ''),
  '/plugins?plugin=disks' + (query ? '&' + query : ''),
];
const wantType = opts.kind === 'page' ? 'text/html; charset=utf-8' : 'application/json; charset=utf-8';
const pageBytes = opts.kind === 'page' ? Buffer.from(expect.page, 'base64') : null;
const dirsWant = opts.kind === 'dirs' ? JSON.stringify(expect.tree.expect) : null;
const mountsWant = opts.kind === 'mounts' ? JSON.stringify(expect.mounts) : null;

const JSON_HEAD = Buffer.from('{"ok":true,');
const JSON_TAIL = Buffer.from('}\n');
const PAGE_HEAD = Buffer.from('<!DOCTYPE html>');
const PAGE_TAIL = Buffer.from('</html>\n');

function startsWith(buf, head) { return buf.length >= head.length && buf.subarray(0, head.length).equals(head); }
function endsWith(buf, tail) { return buf.length >= tail.length && buf.subarray(buf.length - tail.length).equals(tail); }

const MOUNT_FIELDS = {
  device: 'string', fstype: 'string', mount: 'string', total_bytes: 'number',
  used_bytes: 'number', free_bytes: 'number', avail_bytes: 'number', pct: 'number',
  inodes_total: 'number', inodes_used: 'number', inodes_pct: 'number', has_inodes: 'boolean',
};

// Returns null when the reply passes, else the reason.
function check(status, headers, body) {
  if (status !== 200) return 'status ' + status;
  if (headers['content-type'] !== wantType) return 'content-type ' + headers['content-type'];
  if (headers['cache-control'] !== 'no-store') return 'cache-control ' + headers['cache-control'];
  if (opts.kind === 'page') {
    if (!startsWith(body, PAGE_HEAD)) return 'page does not start with <!DOCTYPE html>';
    if (!endsWith(body, PAGE_TAIL)) return 'page does not end with </html>\\n';
    if (!body.equals(pageBytes)) return 'page differs from the one taken before the load (' + body.length + ' bytes)';
    return null;
  }
  if (!startsWith(body, JSON_HEAD)) return 'body does not start with {"ok":true,';
  if (!endsWith(body, JSON_TAIL)) return 'body does not end with }\\n';
  let j;
  try { j = JSON.parse(body.toString('utf8')); } catch (e) { return 'JSON: ' + e.message; }
  if (j === null || typeof j !== 'object' || j.ok !== true) return 'ok is not true';
  if (j.action !== opts.kind) return 'action ' + j.action;
  if (opts.kind === 'mounts') {
    if (!Array.isArray(j.mounts) || j.mounts.length < 1) return 'no mounts';
    if (j.count !== j.mounts.length) return 'count ' + j.count + ' but ' + j.mounts.length + ' mounts';
    for (const m of j.mounts) {
      for (const [k, t] of Object.entries(MOUNT_FIELDS)) {
        if (typeof m[k] !== t) return 'mount field ' + k + ' is ' + typeof m[k];
      }
    }
    const points = JSON.stringify(j.mounts.map((m) => m.mount));
    if (points !== mountsWant) return 'mount points differ: ' + points;
    return null;
  }
  // dirs
  if (j.root !== expect.tree.root) return 'root ' + j.root;
  if (j.truncated !== false) return 'truncated is ' + j.truncated;
  if (!Array.isArray(j.entries) || j.count !== j.entries.length) return 'count does not match entries';
  const got = JSON.stringify(j.entries.map((e) => ({ name: e.name, path: e.path, bytes: e.bytes, is_dir: e.is_dir })));
  if (got !== dirsWant) return 'entries differ from the tree: ' + got.slice(0, 300);
  for (const e of j.entries) if (typeof e.pct !== 'number') return 'pct is ' + typeof e.pct;
  return null;
}

const agent = new http.Agent({ keepAlive: true, maxSockets: opts.concurrency });
const [host, port] = opts.base.slice('http://'.length).split(':');
const REQUEST_LIMIT_MS = 60000;

const latencies = []; // milliseconds, every finished request
let sent = 0;
let passed = 0;
let failed = 0;
const reasons = new Map(); // reason -> count
const firstFailures = [];
const perRoute = [0, 0];

function fail(reason, detail) {
  failed++;
  reasons.set(reason, (reasons.get(reason) || 0) + 1);
  if (firstFailures.length < 5) firstFailures.push({ reason, detail });
}

function once(route) {
  return new Promise((resolve) => {
    const t0 = process.hrtime.bigint();
    let done = false;
    const finish = (reason, detail) => {
      if (done) return;
      done = true;
      latencies.push(Number(process.hrtime.bigint() - t0) / 1e6);
      if (reason) fail(reason, detail); else passed++;
      resolve();
    };
    const req = http.request({ host, port, path: route, agent, method: 'GET' }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => {
        const body = Buffer.concat(chunks);
        const why = check(res.statusCode, res.headers, body);
        finish(why, why ? { route, status: res.statusCode, bytes: body.length,
          head: body.subarray(0, 120).toString('latin1'),
          tail: body.subarray(Math.max(0, body.length - 60)).toString('latin1') } : null);
      });
      res.on('error', (e) => finish('response error: ' + e.code, { route, message: e.message }));
    });
    req.setTimeout(REQUEST_LIMIT_MS, () => req.destroy(new Error('no reply within 60 s')));
    req.on('error', (e) => finish('request error: ' + (e.code || e.message), { route, message: e.message }));
    req.end();
  });
}

async function worker(n, deadline) {
  let i = n; // workers start on alternate routes
  while (process.hrtime.bigint() < deadline) {
    const r = i++ % 2;
    perRoute[r]++;
    sent++;
    await once(routes[r]);
  }
}

function percentile(sorted, p) {
  if (!sorted.length) return null;
  // nearest rank
  const rank = Math.max(1, Math.ceil((p / 100) * sorted.length));
  return sorted[rank - 1];
}

async function main() {
  const start = process.hrtime.bigint();
  const deadline = start + BigInt(Math.round(opts.seconds * 1e9));
  const workers = [];
  for (let n = 0; n < opts.concurrency; n++) workers.push(worker(n, deadline));
  await Promise.all(workers);
  const elapsed = Number(process.hrtime.bigint() - start) / 1e9;
  agent.destroy();
  const sorted = Float64Array.from(latencies).sort();
  const round = (x) => (x === null ? null : Math.round(x * 100) / 100);
  const result = {
    kind: opts.kind,
    query,
    concurrency: opts.concurrency,
    seconds: opts.seconds,
    elapsed_s: Math.round(elapsed * 1000) / 1000,
    requests: sent,
    replies: passed + failed,
    passed,
    failed,
    direct_route: perRoute[0],
    hub_route: perRoute[1],
    rps: Math.round(((passed + failed) / elapsed) * 10) / 10,
    p50_ms: round(percentile(sorted, 50)),
    p99_ms: round(percentile(sorted, 99)),
    max_ms: round(sorted.length ? sorted[sorted.length - 1] : null),
    reasons: Object.fromEntries(reasons),
    first_failures: firstFailures,
  };
  const text = JSON.stringify(result) + '\n';
  if (opts.out) fs.writeFileSync(opts.out, text);
  process.stdout.write(text);
  process.exit(failed === 0 && sent === passed && sent > 0 ? 0 : 1);
}

main();
