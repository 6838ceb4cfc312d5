#!/usr/bin/env node
'use strict';
// A failing disk, seen failing everywhere the program speaks. In the
// private mount namespace it runs in (tests/health/run starts it so), it
// makes three drives:
//   failing   an ext4 image mounted errors=remount-ro, then an error
//             written to /sys/fs/ext4/<device>/trigger_fs_error: the kernel
//             stops all writes to it while the mount still says rw;
//   healthy   the same image kind, mounted the same way, left alone;
//   memory    a tmpfs.
// Then each must be told apart, and only the failing one flagged:
//   1. the JSON (mounts&detail=1, native; the plain mounts reply without
//      the detail fields), against the schemas;
//   2. the metrics, through promtool check metrics;
//   3. the shipped alert rules over series made from that metrics reply
//      (promtool test rules): FileSystemForcedReadOnly and
//      FileSystemErrorsGrew fire for the failing drive only, no space or
//      inode rule for any of the three;
//   4. the dashboard in Chromium, served by the local host.
// Where the kernel has no trigger_fs_error, the failing drive cannot be
// made: the checks of the other two run, and the run says what it skipped.
//
//   node run.js --program <native build> --work <dir>

const fs = require('fs');
const path = require('path');
const { spawn, spawnSync } = require('child_process');
const schemas = require('../blackbox/schemas');
const { parseExposition, metricsBody, jsonBody } = require('../prometheus/exposition');

const repo = path.resolve(__dirname, '..', '..');

function parseArgs(argv) {
  const o = {};
  for (let i = 0; i < argv.length; i++) {
    if (['--program', '--work'].includes(argv[i])) o[argv[i].slice(2)] = path.resolve(argv[++i]);
    else throw new Error('unknown argument ' + argv[i]);
  }
  if (!o.program || !o.work) throw new Error('usage: node run.js --program P --work DIR');
  return o;
}

function sh(...argv) {
  const r = spawnSync(argv[0], argv.slice(1), { encoding: 'utf8' });
  if (r.status !== 0) throw new Error(`${argv.join(' ')}: status ${r.status}: ${r.stdout}${r.stderr}`);
  return r.stdout;
}

// The kernel's name of the block device a mount point is on (the last part
// of /sys/dev/block/<major>:<minor>), as /sys/fs/ext4/ names its folder.
function blockName(mountPoint) {
  const line = fs.readFileSync('/proc/self/mountinfo', 'utf8').split('\n').find((l) => l.split(' ')[4] === mountPoint);
  return path.basename(fs.readlinkSync('/sys/dev/block/' + line.split(' ')[2]));
}

function ext4Image(file, dir) {
  sh('truncate', '-s', '16M', file);
  sh('mkfs.ext4', '-q', '-F', file);
  fs.mkdirSync(dir, { recursive: true });
  sh('mount', '-o', 'loop,errors=remount-ro', file, dir);
}

function run(program, query) {
  const r = spawnSync(program, [], { env: { QUERY_STRING: query }, encoding: 'latin1' });
  if (r.status !== 0 || r.stderr) throw new Error(`${query}: status ${r.status}, stderr ${r.stderr}`);
  return r.stdout;
}

const DETAIL = ['readonly', 'readonly_reason', 'errors_recorded', 'error_count', 'last_error', 'attention'];

async function main() {
  const o = parseArgs(process.argv.slice(2));
  fs.mkdirSync(o.work, { recursive: true });
  let failed = 0, skipped = 0;
  const say = (line) => process.stdout.write(line + '\n');
  const step = async (what, fn) => {
    try {
      const note = await fn();
      say(`ok    ${what}${note ? ' (' + note + ')' : ''}`);
    } catch (e) {
      failed++;
      say(`FAIL  ${what}\n    ${String(e.stack || e).replace(/\n/g, '\n    ')}`);
    }
  };
  const skip = (what, why) => { skipped++; say(`SKIP  ${what}: ${why}`); };
  // Said in the name of every check that would have looked at the failing drive.
  let but = '';

  const drives = {
    failing: path.join(o.work, 'failing'),
    healthy: path.join(o.work, 'healthy'),
    memory: path.join(o.work, 'memory'),
  };
  ext4Image(path.join(o.work, 'failing.img'), drives.failing);
  ext4Image(path.join(o.work, 'healthy.img'), drives.healthy);
  fs.mkdirSync(drives.memory);
  sh('mount', '-t', 'tmpfs', '-o', 'size=8m', 'tmpfs', drives.memory);
  fs.writeFileSync(path.join(drives.failing, 'before'), 'written before the error\n');

  const trigger = `/sys/fs/ext4/${blockName(drives.failing)}/trigger_fs_error`;
  let failing = fs.existsSync(trigger);
  if (failing) {
    fs.writeFileSync(trigger, 'tests/health: a made-up error\n');
    await step('the kernel stops writes to the failing ext4, while its mount still says rw', () => {
      let code = null;
      try { fs.writeFileSync(path.join(drives.failing, 'after'), 'x'); } catch (e) { code = e.code; }
      if (code !== 'EROFS') throw new Error(`a write after the error gave ${code || 'no error'}, not EROFS`);
      const line = fs.readFileSync('/proc/self/mountinfo', 'utf8').split('\n').find((l) => l.split(' ')[4] === drives.failing);
      const mountOpts = line.split(' ')[5].split(','), superOpts = line.split(' - ')[1].split(' ')[2].split(',');
      if (!mountOpts.includes('rw')) throw new Error('the mount is not rw: ' + line);
      return `mountinfo: mount ${mountOpts[0]}, file system ${superOpts.filter((x) => /^(ro|rw|emergency_ro)$/.test(x)).join(',')}`;
    });
  } else {
    skip('the failing ext4 and every check of it', `this kernel (${sh('uname', '-r').trim()}) has no ${trigger}: no error can be made`);
    but = ' [the failing drive skipped]';
  }

  const check = schemas.load();
  const detail = run(o.program, 'action=mounts&detail=1');
  const plain = run(o.program, 'action=mounts');
  const byMount = (reply) => new Map(jsonBody(reply).mounts.map((m) => [m.mount, m]));
  const listed = byMount(detail);
  const jsonFailing = listed.get(drives.failing);

  await step('both mounts replies meet their schema; the plain one has none of the detail fields', () => {
    for (const [what, reply] of [['detail', detail], ['plain', plain]]) {
      const v = check.check(reply);
      if (!v || v.errors.length) throw new Error(`${what}: ${v ? v.errors.join('; ') : 'not JSON'}`);
    }
    const extra = [...byMount(plain).values()].filter((m) => DETAIL.some((k) => k in m));
    if (extra.length) throw new Error('plain drives with detail fields: ' + extra.map((m) => m.mount).join(', '));
  });

  const want = {
    healthy: { readonly: false, readonly_reason: null, errors_recorded: false, error_count: 0, last_error: null, attention: false },
    memory: { readonly: false, readonly_reason: null, errors_recorded: null, error_count: null, last_error: null, attention: false },
  };
  for (const name of ['healthy', 'memory']) {
    await step(`JSON: the ${name} drive is writable and needs no attention`, () => {
      const m = listed.get(drives[name]);
      if (!m) throw new Error('not listed');
      const got = Object.fromEntries(DETAIL.map((k) => [k, m[k]]));
      if (JSON.stringify(got) !== JSON.stringify(want[name])) throw new Error(JSON.stringify(got));
    });
  }
  if (failing) {
    await step('JSON: the failing drive is read-only for errors, with its count and time, and needs attention', () => {
      const m = jsonFailing;
      if (!m) throw new Error('not listed');
      const bad = [];
      if (m.readonly !== true) bad.push('readonly ' + m.readonly);
      if (m.readonly_reason !== 'errors') bad.push('readonly_reason ' + m.readonly_reason);
      if (m.errors_recorded !== true) bad.push('errors_recorded ' + m.errors_recorded);
      if (!(m.error_count >= 1)) bad.push('error_count ' + m.error_count);
      if (m.attention !== true) bad.push('attention ' + m.attention);
      const age = (Date.now() - Date.parse(m.last_error)) / 1000;
      if (!(age > -120 && age < 600)) bad.push('last_error ' + m.last_error);
      if (bad.length) throw new Error(bad.join(', '));
      return `${m.error_count} error(s), the last ${m.last_error}`;
    });
  }

  // ---- metrics ----------------------------------------------------------------
  const metricsReply = run(o.program, 'action=metrics');
  const body = metricsBody(metricsReply);
  const parsed = parseExposition(body);
  const ours = parsed.samples.filter((s) => Object.values(drives).includes(s.labels.mountpoint));
  const value = (fam, name) => {
    const s = ours.find((x) => x.name === fam && x.labels.mountpoint === drives[name]);
    return s ? s.value : undefined;
  };
  await step('promtool check metrics accepts the metrics reply', () => {
    const r = spawnSync('promtool', ['check', 'metrics'], { input: Buffer.from(body, 'latin1'), encoding: 'utf8' });
    if (r.status !== 0) throw new Error(r.stdout + r.stderr);
  });
  await step('metrics: only the failing drive is read-only, forced, and has an error time' + but, () => {
    const table = {
      disks_filesystem_readonly: { failing: '1', healthy: '0', memory: '0' },
      disks_filesystem_forced_readonly: { failing: '1', healthy: '0', memory: '0' },
      disks_filesystem_errors_total: { failing: jsonFailing ? String(jsonFailing.error_count) : undefined, healthy: '0', memory: undefined },
      disks_filesystem_last_error_timestamp_seconds: {
        failing: jsonFailing ? String(Date.parse(jsonFailing.last_error) / 1000) : undefined, healthy: undefined, memory: undefined,
      },
    };
    const bad = [];
    for (const [fam, per] of Object.entries(table)) {
      for (const name of Object.keys(drives)) {
        if (name === 'failing' && !failing) continue;
        if (value(fam, name) !== per[name]) bad.push(`${fam} of ${name}: ${value(fam, name)}, not ${per[name]}`);
      }
    }
    if (bad.length) throw new Error(bad.join('\n'));
  });

  // ---- the rules over these series ------------------------------------------------
  await step('promtool test rules: the shipped rules over these drives alert for the failing one only' + but, () => {
    const rulesFile = path.join(o.work, 'rules.test.yml');
    const q = (s) => `'${s.replace(/'/g, "''")}'`;
    const labels = (s) => '{instance="node",job="disks",' +
      Object.entries(s.labels).map(([k, v]) => `${k}=${JSON.stringify(v)}`).join(',') + '}';
    const series = ours.filter((s) => s.name.startsWith('disks_filesystem_')).map((s) => {
      // The failing drive as it was before its error, for three minutes.
      const mine = failing && s.labels.mountpoint === drives.failing;
      let values = `${s.value}x20`;
      if (mine && (s.name === 'disks_filesystem_forced_readonly' || s.name === 'disks_filesystem_errors_total')) {
        values = `0x3 ${s.value}x17`;
      }
      return `      - series: ${q(s.name + labels(s))}\n        values: ${q(values)}\n`;
    }).join('');
    const alert = (name) => {
      if (!failing) return '[]';
      const m = jsonFailing;
      const where = `${m.mount} (${m.device}, ${m.fstype}) on node`;
      const text = name === 'FileSystemForcedReadOnly' ? {
        severity: 'critical',
        summary: `${m.mount} on node has been made read-only by its file system`,
        description: `${where} has gone read-only beneath a writable mount, as the kernel makes a file system after an error: ` +
          'every write to it fails. Check the kernel log and the file system.',
      } : {
        severity: 'warning',
        summary: `${m.mount} on node has recorded new file system errors`,
        description: `${where} has recorded ${m.error_count} more error(s) in the last hour. Check the kernel log; ` +
          'a check of the file system (e2fsck) repairs it and clears the count.',
      };
      return `\n          - exp_labels: {severity: ${text.severity}, ` +
        `instance: node, job: disks, device: ${q(m.device)}, fstype: ${q(m.fstype)}, mountpoint: ${q(m.mount)}}` +
        `\n            exp_annotations: {summary: ${q(text.summary)}, description: ${q(text.description)}}`;
    };
    const quiet = ['DiskWillFillIn24Hours', 'DiskWillFillIn4Hours', 'DiskAlmostFull', 'DiskWillRunOutOfInodesIn24Hours',
      'DiskAlmostOutOfInodes', 'FileSystemNotAnswering'];
    const doc = `rule_files:\n  - ${path.join(repo, 'docs/prometheus/plugin-disks.rules.yml')}\nevaluation_interval: 1m\ntests:\n` +
      `  - interval: 1m\n    input_series:\n${series}    alert_rule_test:\n` +
      ['FileSystemForcedReadOnly', 'FileSystemErrorsGrew'].map((a) =>
        `      - eval_time: 15m\n        alertname: ${a}\n        exp_alerts: ${alert(a)}\n`).join('') +
      quiet.map((a) => `      - eval_time: 15m\n        alertname: ${a}\n        exp_alerts: []\n`).join('');
    fs.writeFileSync(rulesFile, doc);
    const r = spawnSync('promtool', ['test', 'rules', rulesFile], { encoding: 'utf8' });
    if (r.status !== 0) throw new Error(r.stdout + r.stderr + '\n' + doc);
    return `${ours.length} series of the three drives`;
  });

  // ---- the dashboard ------------------------------------------------------------------
  await step('the dashboard in Chromium flags the failing drive in words and counts it, and no other' + but, async () => {
    const { chromium } = require(path.join(repo, 'node_modules', 'playwright-core'));
    const home = path.join(o.work, 'home');
    fs.mkdirSync(home, { recursive: true });
    fs.writeFileSync(path.join(home, 'notes.txt'), 'x');
    const host = spawn(process.execPath, [path.join(repo, 'host', 'server.js'), '--port', '0', '--plugin', o.program, '--home', home],
      { stdio: ['ignore', 'pipe', 'pipe'] });
    let browser = null;
    try {
      const url = await new Promise((resolve, reject) => {
        let out = '';
        const timer = setTimeout(() => reject(new Error('the host did not start: ' + out)), 30000);
        host.stdout.on('data', (d) => {
          out += d;
          const m = /listening on (http:\/\/[^\s]+?)\/?\n/.exec(out);
          if (m) { clearTimeout(timer); resolve(m[1]); }
        });
        host.on('exit', (c) => reject(new Error(`the host ended (${c}): ${out}`)));
      });
      browser = await chromium.launch({
        executablePath: process.env.CHROMIUM || '/usr/bin/chromium', headless: true,
        args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
          '--disable-background-networking', '--disable-component-update', '--disable-sync'],
      });
      const page = await browser.newPage();
      await page.goto(url + '/plugin_disks');
      await page.waitForFunction((m) => [...document.querySelectorAll('.mnt .mp')].some((e) => e.textContent === m), drives.healthy, { timeout: 60000 });
      const cards = await page.$$eval('.mnt', (cs) => cs.map((c) => ({
        mount: c.querySelector('.mp').textContent, attn: c.classList.contains('attn'),
        flag: c.querySelector('.flag') ? c.querySelector('.flag').textContent : null,
      })));
      const card = (name) => cards.find((c) => c.mount === drives[name]);
      const note = await page.$eval('#kAttn', (e) => e.textContent).catch(() => null);
      const bad = [];
      for (const name of ['healthy', 'memory']) {
        if (!card(name)) bad.push(`no card for ${name}`);
        else if (card(name).attn || card(name).flag) bad.push(`${name} flagged: ${card(name).flag}`);
        if (note && note.includes(drives[name])) bad.push(`the summary names ${name}: ${note}`);
      }
      if (failing) {
        const c = card('failing');
        if (!c || !c.attn || !/^Needs attention: read-only after file system errors/.test(c.flag || '')) {
          bad.push('the failing card: ' + JSON.stringify(c));
        }
        if (!note || !note.includes(drives.failing) || !/^\d+ drives? needs? attention: /.test(note)) bad.push('the summary: ' + note);
      }
      if (bad.length) throw new Error(bad.join('\n'));
      return failing ? `${card('failing').flag} / ${note}` : 'the two healthy drives only';
    } finally {
      if (browser) await browser.close();
      host.kill();
    }
  });

  say(failed ? `${failed} failed` : `all passed${skipped ? `, ${skipped} skipped (see SKIP above)` : ''}`);
  process.exit(failed ? 1 : 0);
}

main().catch((e) => {
  process.stdout.write(`FAIL  ${e.stack || e}\n`);
  process.exit(1);
});
