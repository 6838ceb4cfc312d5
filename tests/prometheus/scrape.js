#!/usr/bin/env node
'use strict';
// A real Prometheus (Debian's package) on loopback scrapes two nodes with
// the shipped scrape configuration and rules (docs/prometheus/):
//   node a  behind lighttpd with the package's snippet (conf/lighttpd/),
//           its home folder and password set there: the direct route;
//   node b  behind the local host (host/server.js), through its hub route
//           /plugins?plugin=disks&node=b.
// Two homes, two node passwords, each sent as the bearer token of its jobs.
// Prometheus's query API must then give each node's disks_home_disk_bytes
// equal to its JSON reply (dirs&detail=1, asked through the same server),
// each entry series with its name as the JSON gives it, the drive series
// only from the drive jobs, and the targets that must fail (a refusal, a
// wrong password) down with their reason. Both nodes see an ext4 image
// that the kernel has stopped writing to after an error written to its
// sysfs trigger_fs_error: it alone must be forced read-only, with its
// errors counted, and FileSystemForcedReadOnly must be pending or firing
// for it alone (where the kernel has no trigger_fs_error, that step says it
// was skipped).
//
//   node scrape.js --program <native build> --work <dir, mode 755>
//
// Run as root (lighttpd drops to www-data), in a private mount namespace
// (tests/prometheus/run starts it so), which takes the image's mount with it. Every server is started in a
// process group of its own and stopped by that group when the test ends,
// however it ends; their pids are also written to <work>/pids for the
// caller to stop should this process be killed.

const fs = require('fs');
const net = require('net');
const http = require('http');
const path = require('path');
const { spawn, spawnSync } = require('child_process');
const { jsonBody } = require('./exposition');

const repo = path.resolve(__dirname, '..', '..');
const WAIT_MS = 120000;  // for the first scrapes and rule evaluations

function parseArgs(argv) {
  const o = {};
  for (let i = 0; i < argv.length; i++) {
    if (['--program', '--work'].includes(argv[i])) o[argv[i].slice(2)] = path.resolve(argv[++i]);
    else throw new Error('unknown argument ' + argv[i]);
  }
  if (!o.program || !o.work) throw new Error('usage: node scrape.js --program P --work DIR');
  return o;
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

function freePort() {
  return new Promise((resolve, reject) => {
    const srv = net.createServer();
    srv.on('error', reject);
    srv.listen(0, '127.0.0.1', () => {
      const { port } = srv.address();
      srv.close(() => resolve(port));
    });
  });
}

function get(port, target, headers = {}) {
  return new Promise((resolve, reject) => {
    const req = http.get({ host: '127.0.0.1', port, path: target, headers, agent: false }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, body: Buffer.concat(chunks) }));
    });
    req.on('error', reject);
    req.setTimeout(30000, () => req.destroy(new Error('timed out')));
  });
}

async function waitForPort(port, what) {
  const end = Date.now() + 30000;
  while (Date.now() < end) {
    const ok = await new Promise((resolve) => {
      const s = net.connect(port, '127.0.0.1');
      s.on('connect', () => { s.destroy(); resolve(true); });
      s.on('error', () => resolve(false));
    });
    if (ok) return;
    await sleep(200);
  }
  throw new Error(`${what} does not listen on ${port}`);
}

// Replaces each `from` of the text once at least; a pattern that is not
// there means the file it comes from has changed under the test.
function fill(text, pairs, what) {
  for (const [from, to] of pairs) {
    if (!text.includes(from)) throw new Error(`${what}: no ${JSON.stringify(from)} to replace`);
    text = text.split(from).join(to);
  }
  return text;
}

class Servers {
  constructor(work) {
    this.work = work;
    this.children = [];
  }

  start(name, cmd, args, opts = {}) {
    const log = fs.openSync(path.join(this.work, name + '.out'), 'w');
    const child = spawn(cmd, args, { detached: true, stdio: ['ignore', log, log], ...opts });
    fs.closeSync(log);
    this.children.push({ name, child });
    fs.appendFileSync(path.join(this.work, 'pids'), child.pid + '\n');
    child.on('exit', (code, signal) => { child.ended = { code, signal }; });
    return child;
  }

  async stopAll() {
    for (const { child } of this.children) {
      if (child.ended) continue;
      try { process.kill(-child.pid, 'SIGTERM'); } catch (e) { /* gone */ }
    }
    const end = Date.now() + 10000;
    for (const { child } of this.children) {
      while (!child.ended && Date.now() < end) await sleep(100);
      if (!child.ended) {
        try { process.kill(-child.pid, 'SIGKILL'); } catch (e) { /* gone */ }
      }
    }
  }

  // A server that ended by itself is a failure of the test.
  check() {
    for (const { name, child } of this.children) {
      if (child.ended) {
        const out = fs.readFileSync(path.join(this.work, name + '.out'), 'utf8');
        throw new Error(`${name} ended (${JSON.stringify(child.ended)}):\n${out.slice(-2000)}`);
      }
    }
  }
}

// A home folder of its own for each node: files of known sizes, and on
// node a names that a label value must escape or repair.
function makeHome(dir, files) {
  fs.mkdirSync(dir, { recursive: true });
  for (const [name, size] of files) {
    const p = Buffer.concat([Buffer.from(dir + '/'), Buffer.from(name, 'latin1')]);
    fs.mkdirSync(path.dirname(p.toString('latin1')), { recursive: true });
    fs.writeFileSync(p, Buffer.alloc(size, 'x'));
  }
  spawnSync('chmod', ['-R', 'a+rX', dir]);
}

// An ext4 image mounted errors=remount-ro at dir, then an error written to
// its trigger_fs_error: the kernel stops every write to it. Returns
// { made } or { made: false, why } where the kernel has no such trigger
// or no loop device may be mounted.
function makeFailingExt4(image, dir) {
  const sh = (...argv) => {
    const r = spawnSync(argv[0], argv.slice(1), { encoding: 'utf8' });
    if (r.status !== 0) throw new Error(`${argv.join(' ')}: ${r.stdout}${r.stderr}`);
  };
  sh('truncate', '-s', '16M', image);
  sh('mkfs.ext4', '-q', '-F', image);
  fs.mkdirSync(dir, { recursive: true });
  // Where loop devices are not allowed, the rest of the scrape still runs.
  try { sh('mount', '-o', 'loop,errors=remount-ro', image, dir); } catch (e) { return { made: false, why: e.message.trim() }; }
  const line = fs.readFileSync('/proc/self/mountinfo', 'utf8').split('\n').find((l) => l.split(' ')[4] === dir);
  const name = path.basename(fs.readlinkSync('/sys/dev/block/' + line.split(' ')[2]));
  const trigger = `/sys/fs/ext4/${name}/trigger_fs_error`;
  if (!fs.existsSync(trigger)) return { made: false, why: `the kernel has no ${trigger}` };
  fs.writeFileSync(trigger, 'tests/prometheus: a made-up error\n');
  return { made: true };
}

async function query(promPort, expr) {
  const r = await get(promPort, '/api/v1/query?query=' + encodeURIComponent(expr));
  const doc = JSON.parse(r.body.toString('utf8'));
  if (doc.status !== 'success') throw new Error(`query ${expr}: ${r.body}`);
  return doc.data.result;
}

// Waits until fn() returns a value that is not null.
async function until(what, fn, servers) {
  const end = Date.now() + WAIT_MS;
  let last = null;
  while (Date.now() < end) {
    servers.check();
    try {
      const v = await fn();
      if (v !== null && v !== undefined) return v;
    } catch (e) {
      last = e;
    }
    await sleep(1000);
  }
  throw new Error(`${what}: not within ${WAIT_MS / 1000} s${last ? ': ' + last.message : ''}`);
}

async function main() {
  const o = parseArgs(process.argv.slice(2));
  const work = o.work;
  fs.mkdirSync(work, { recursive: true });
  fs.chmodSync(work, 0o755);
  const servers = new Servers(work);
  const results = [];
  let failed = 0;
  const step = async (what, fn) => {
    try {
      const note = await fn();
      results.push(`ok    ${what}${note ? ' (' + note + ')' : ''}`);
    } catch (e) {
      failed++;
      results.push(`FAIL  ${what}\n    ${String(e.message || e).replace(/\n/g, '\n    ')}`);
    }
    process.stdout.write(results[results.length - 1] + '\n');
  };

  try {
    const [portA, portB, portP] = [await freePort(), await freePort(), await freePort()];
    const pwA = 'alpha-7Kd2', pwB = 'bravo-9Qx4';
    const bin = path.join(work, 'bin', 'plugin_disks');
    fs.mkdirSync(path.dirname(bin), { recursive: true });
    fs.copyFileSync(o.program, bin);
    fs.chmodSync(bin, 0o755);
    const homeA = path.join(work, 'home-a');
    const homeB = path.join(work, 'home-b');
    makeHome(homeA, [['Documents/report.pdf', 70000], ['q"uote', 5000], ['back\\slash', 9000],
      ['new\nline', 13000], ['d\xe9j\xe0', 17000], ['music/a.flac', 300000]]);
    makeHome(homeB, [['photos/1.jpg', 250000], ['photos/2.jpg', 120000], ['notes.txt', 1200]]);

    // The failing drive, seen by both nodes (the servers start in this
    // namespace).
    const failingDir = path.join(work, 'failing');
    const failing = makeFailingExt4(path.join(work, 'failing.img'), failingDir);

    // Node a: lighttpd with the package's snippet.
    const snippet = fill(fs.readFileSync(path.join(repo, 'conf/lighttpd/50-plugin-disks.conf'), 'utf8'), [
      ['/usr/lib/plugin-disks/plugin_disks', bin],
      ['"USERPROFILE" => ""', `"USERPROFILE" => "${homeA}"`],
      ['#"ZEM_PASSWORD" => "change-me"', `"ZEM_PASSWORD" => "${pwA}"`],
    ], 'conf/lighttpd/50-plugin-disks.conf');
    fs.writeFileSync(path.join(work, 'site.conf'), snippet);
    fs.mkdirSync(path.join(work, 'htdocs'), { recursive: true });
    const lconf = fill(fs.readFileSync(path.join(__dirname, 'lighttpd.conf'), 'utf8'), [
      ['@WORK@', work], ['@PORT@', String(portA)], ['@SITE@', path.join(work, 'site.conf')],
    ], 'lighttpd.conf');
    fs.writeFileSync(path.join(work, 'lighttpd.conf'), lconf);
    // lighttpd opens its log once it runs as www-data.
    fs.writeFileSync(path.join(work, 'lighttpd.log'), '');
    spawnSync('chown', ['www-data:www-data', path.join(work, 'lighttpd.log')]);
    servers.start('lighttpd', '/usr/sbin/lighttpd', ['-D', '-f', path.join(work, 'lighttpd.conf')]);

    // Node b: the local host, scraped through its hub route.
    servers.start('host', process.execPath, [path.join(repo, 'host/server.js'), '--port', String(portB),
      '--plugin', bin, '--password', pwB, '--home', homeB]);

    // Prometheus: the shipped configuration with this test's files, every
    // interval 2 s, and two jobs that must fail.
    const prom = path.join(work, 'prometheus');
    fs.mkdirSync(path.join(prom, 'nodes'), { recursive: true });
    fs.mkdirSync(path.join(prom, 'hub-nodes'), { recursive: true });
    fs.writeFileSync(path.join(prom, 'token-a'), pwA + '\n', { mode: 0o600 });
    fs.writeFileSync(path.join(prom, 'token-b'), pwB + '\n', { mode: 0o600 });
    fs.writeFileSync(path.join(prom, 'wrong-token'), 'not-the-password\n', { mode: 0o600 });
    fs.writeFileSync(path.join(prom, 'nodes', 'a.yml'), `- targets: ['127.0.0.1:${portA}']\n  labels:\n    site: test\n`);
    fs.writeFileSync(path.join(prom, 'hub-nodes', 'b.yml'), `- targets: ['127.0.0.1:${portB}']\n  labels:\n    node: b\n`);
    let config = fill(fs.readFileSync(path.join(repo, 'docs/prometheus/prometheus.yml'), 'utf8'), [
      ['/etc/prometheus/plugin-disks.rules.yml', path.join(repo, 'docs/prometheus/plugin-disks.rules.yml')],
      ['/etc/prometheus/plugin-disks.token', path.join(prom, 'token-a')],
      ['/etc/prometheus/plugin-disks-hub.token', path.join(prom, 'token-b')],
      ['/etc/prometheus/plugin-disks/nodes/', path.join(prom, 'nodes') + '/'],
      ['/etc/prometheus/plugin-disks/hub-nodes/', path.join(prom, 'hub-nodes') + '/'],
      ['scrape_interval: 30s', 'scrape_interval: 2s'],
      ['evaluation_interval: 30s', 'evaluation_interval: 2s'],
      ['scrape_interval: 5m', 'scrape_interval: 2s'],
      ['scrape_timeout: 1m', 'scrape_timeout: 2s'],
    ], 'docs/prometheus/prometheus.yml');
    const left = config.split('\n').filter((l) => !/^\s*#/.test(l) && l.includes('/etc/prometheus'));
    if (left.length) throw new Error('docs/prometheus/prometheus.yml names files the test does not replace: ' + left.join('; '));
    config += `
  # The test's own: a refusal and a wrong password must fail the scrape.
  - job_name: refused
    metrics_path: /plugin_disks
    params:
      action: [metrics]
      root: [Home]
    authorization:
      credentials_file: ${path.join(prom, 'token-a')}
    static_configs:
      - targets: ['127.0.0.1:${portA}']
  - job_name: wrong_password
    metrics_path: /plugin_disks
    params:
      action: [metrics]
    authorization:
      credentials_file: ${path.join(prom, 'wrong-token')}
    static_configs:
      - targets: ['127.0.0.1:${portA}']
`;
    fs.writeFileSync(path.join(prom, 'prometheus.yml'), config);
    await step('promtool check config accepts the test\'s configuration', () => {
      const r = spawnSync('promtool', ['check', 'config', path.join(prom, 'prometheus.yml')], { encoding: 'utf8' });
      if (r.status !== 0) throw new Error(r.stdout + r.stderr);
    });
    servers.start('prometheus', '/usr/bin/prometheus', [
      `--config.file=${path.join(prom, 'prometheus.yml')}`,
      `--storage.tsdb.path=${path.join(prom, 'data')}`,
      `--web.listen-address=127.0.0.1:${portP}`,
    ]);
    await waitForPort(portA, 'lighttpd').catch((e) => {
      let log = '';
      try { log = fs.readFileSync(path.join(work, 'lighttpd.log'), 'utf8'); } catch (x) { /* none */ }
      throw new Error(`${e.message}\n${fs.readFileSync(path.join(work, 'lighttpd.out'), 'utf8')}${log}`);
    });
    await waitForPort(portB, 'the host');
    await waitForPort(portP, 'prometheus');

    // What each node answers in JSON, through the same server and route
    // as its scrapes.
    const jsonA = async () => {
      const r = await get(portA, '/plugin_disks?action=dirs&root=home&detail=1', { Authorization: 'Bearer ' + pwA });
      return JSON.parse(r.body.toString('utf8'));
    };
    const jsonB = async () => {
      const r = await get(portB, '/plugins?plugin=disks&node=b&action=dirs&root=home&detail=1', { Authorization: 'Bearer ' + pwB });
      return JSON.parse(r.body.toString('utf8'));
    };
    const instanceA = `127.0.0.1:${portA}`;

    await step('the query API gives each node\'s disks_home_disk_bytes, equal to its JSON reply', async () => {
      const got = await until('disks_home_disk_bytes of both nodes', async () => {
        const r = await query(portP, 'disks_home_disk_bytes');
        return r.length === 2 ? r : null;
      }, servers);
      const a = got.find((s) => s.metric.job === 'disks_home');
      const b = got.find((s) => s.metric.job === 'disks_home_hub');
      if (!a || !b) throw new Error('series: ' + JSON.stringify(got));
      if (a.metric.instance !== instanceA || b.metric.instance !== 'b' || b.metric.node !== 'b' || a.metric.site !== 'test') {
        throw new Error('labels: ' + JSON.stringify(got.map((s) => s.metric)));
      }
      const [ja, jb] = [await jsonA(), await jsonB()];
      if (!ja.ok || !jb.ok) throw new Error('a JSON reply is a refusal: ' + JSON.stringify([ja.error, jb.error]));
      if (Number(a.value[1]) !== ja.folder_disk_bytes) throw new Error(`node a: ${a.value[1]}, JSON ${ja.folder_disk_bytes}`);
      if (Number(b.value[1]) !== jb.folder_disk_bytes) throw new Error(`node b: ${b.value[1]}, JSON ${jb.folder_disk_bytes}`);
      if (ja.folder_disk_bytes === jb.folder_disk_bytes) throw new Error('the two homes are not told apart');
      return `a ${ja.folder_disk_bytes}, b ${jb.folder_disk_bytes}`;
    });

    await step('the other home series are the JSON replies\' too', async () => {
      const [ja, jb] = [await jsonA(), await jsonB()];
      const errs = [];
      for (const [fam, key] of [['disks_home_bytes', 'folder_bytes'], ['disks_home_items', 'folder_items']]) {
        for (const s of await query(portP, fam)) {
          const j = s.metric.job === 'disks_home' ? ja : jb;
          if (Number(s.value[1]) !== j[key]) errs.push(`${fam} ${s.metric.instance}: ${s.value[1]}, JSON ${j[key]}`);
        }
      }
      if (errs.length) throw new Error(errs.join('\n'));
    });

    await step('each entry series of node a carries its name as the JSON gives it', async () => {
      const ja = await jsonA();
      const series = await query(portP, `disks_home_entry_disk_bytes{job="disks_home"}`);
      const got = series.map((s) => `${s.metric.entry}=${s.value[1]}`).sort();
      const want = ja.entries.map((e) => `${e.name}=${e.disk_bytes}`).sort();
      if (JSON.stringify(got) !== JSON.stringify(want)) {
        throw new Error(`Prometheus: ${JSON.stringify(got)}\nJSON:       ${JSON.stringify(want)}`);
      }
      if (!want.some((w) => w.includes('\n')) || !want.some((w) => w.includes('\ufffd'))) {
        throw new Error('the names with a line feed and with bytes that are not UTF-8 are missing');
      }
      return `${got.length} entries`;
    });

    await step('the drive series come from the drive jobs only, with device_error for each drive', async () => {
      const fromHome = await query(portP, 'count({__name__=~"disks_filesystem_.*",job=~"disks_home.*"})');
      if (fromHome.length) throw new Error('drive series from a home job: ' + JSON.stringify(fromHome));
      // Each drive job's first scrape may come a few seconds after the
      // other's on a busy machine: wait for both, then judge.
      const want = JSON.stringify(['disks/' + instanceA, 'disks_hub/b']);
      let jobs = [];
      await until('device_error of both drive jobs', async () => {
        const errs = await query(portP, 'count by (job, instance) (disks_filesystem_device_error)');
        jobs = errs.map((s) => `${s.metric.job}/${s.metric.instance}`).sort();
        return JSON.stringify(jobs) === want ? jobs : null;
      }, servers).catch((e) => {
        throw new Error(`${JSON.stringify(jobs)}: ${e.message}`);
      });
      const sizes = await query(portP, 'count by (job) (disks_filesystem_size_bytes)');
      if (sizes.length !== 2) throw new Error('disks_filesystem_size_bytes: ' + JSON.stringify(sizes));
    });

    await step('every target of the shipped jobs is up; a refusal and a wrong password are down, saying why', async () => {
      const targets = await until('a scrape of every target', async () => {
        const r = JSON.parse((await get(portP, '/api/v1/targets')).body.toString('utf8')).data.activeTargets;
        return r.length === 6 && r.every((t) => t.health !== 'unknown') ? r : null;
      }, servers);
      const errs = [];
      for (const t of targets) {
        const job = t.labels.job;
        const down = job === 'refused' || job === 'wrong_password';
        if (down !== (t.health === 'down')) errs.push(`${job}: ${t.health} ${t.lastError}`);
        if (job === 'wrong_password' && !/401/.test(t.lastError)) errs.push(`${job}: ${t.lastError}`);
      }
      if (errs.length) throw new Error(errs.join('\n'));
      return targets.map((t) => `${t.labels.job} ${t.health}`).join(', ');
    });

    if (failing.made) {
      await step('the failing drive alone is forced read-only with its errors counted, on both nodes, and alerts', async () => {
        const forced = await until('disks_filesystem_forced_readonly == 1 of both nodes', async () => {
          const r = await query(portP, 'disks_filesystem_forced_readonly == 1');
          return r.length >= 2 ? r : null;
        }, servers);
        const errs = [];
        const where = forced.map((x) => `${x.metric.job} ${x.metric.mountpoint}`).sort();
        if (JSON.stringify(where) !== JSON.stringify([`disks ${failingDir}`, `disks_hub ${failingDir}`])) errs.push('forced: ' + where.join(', '));
        const ro = await query(portP, `disks_filesystem_readonly{mountpoint=${JSON.stringify(failingDir)}}`);
        if (ro.length !== 2 || ro.some((x) => x.value[1] !== '1')) errs.push('readonly: ' + JSON.stringify(ro.map((x) => x.value)));
        const counted = await query(portP, `disks_filesystem_errors_total{mountpoint=${JSON.stringify(failingDir)}}`);
        if (counted.length !== 2 || counted.some((x) => !(Number(x.value[1]) >= 1))) errs.push('errors_total: ' + JSON.stringify(counted.map((x) => x.value)));
        const alerts = await until('FileSystemForcedReadOnly for both nodes', async () => {
          const all = JSON.parse((await get(portP, '/api/v1/alerts')).body.toString('utf8')).data.alerts
            .filter((a) => a.labels.alertname === 'FileSystemForcedReadOnly');
          return all.length >= 2 ? all : null;
        }, servers);
        const seen = alerts.map((a) => `${a.labels.job} ${a.labels.mountpoint} ${a.state}`).sort();
        if (alerts.length !== 2 || alerts.some((a) => a.labels.mountpoint !== failingDir || !['pending', 'firing'].includes(a.state))) {
          errs.push('alerts: ' + seen.join(', '));
        }
        if (errs.length) throw new Error(errs.join('\n'));
        return seen.join(', ');
      });
    } else {
      process.stdout.write(`SKIP  the failing drive in Prometheus: ${failing.why}\n`);
    }

    await step('the shipped rules load and evaluate', async () => {
      const shipped = (fs.readFileSync(path.join(repo, 'docs/prometheus/plugin-disks.rules.yml'), 'utf8').match(/^\s*- alert: /gm) || []).length;
      const rules = await until('an evaluation of every rule', async () => {
        const groups = JSON.parse((await get(portP, '/api/v1/rules')).body.toString('utf8')).data.groups;
        const all = groups.flatMap((g) => g.rules);
        return all.length === shipped && all.every((r) => r.lastEvaluation && !r.lastEvaluation.startsWith('0001')) ? all : null;
      }, servers);
      const bad = rules.filter((r) => r.health !== 'ok');
      if (bad.length) throw new Error(JSON.stringify(bad));
      return rules.map((r) => r.name).join(', ');
    });
  } catch (e) {
    failed++;
    process.stdout.write(`FAIL  ${String(e.stack || e)}\n`);
  } finally {
    await servers.stopAll();
  }
  process.stdout.write(failed ? `${failed} failed\n` : 'all passed\n');
  process.exit(failed ? 1 : 0);
}

main();
