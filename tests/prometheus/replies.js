#!/usr/bin/env node
'use strict';
// Every form of the metrics reply, from the native program and from the
// .exe under Wine: `promtool check metrics` accepts it, it keeps the rules
// of the format (exposition.js), and its series are the JSON replies' of
// the same moment and the same tree: each disks_filesystem_* series the
// mounts&detail=1 reply's, each home series the dirs&detail=1 reply's.
//
//   node replies.js --program <native build> [--exe <windows build>] --work <dir>
//
// The home trees are the black-box fixtures (tests/blackbox/fixtures.js),
// among them names with quotes, backslashes, line feeds and bytes that are
// not UTF-8.

const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');
const fixtures = require('../blackbox/fixtures');
const { parseExposition, metricsBody, jsonBody } = require('./exposition');

function parseArgs(argv) {
  const o = {};
  for (let i = 0; i < argv.length; i++) {
    if (['--program', '--exe', '--work'].includes(argv[i])) o[argv[i].slice(2)] = argv[++i];
    else throw new Error('unknown argument ' + argv[i]);
  }
  if (!o.program || !o.work) throw new Error('usage: node replies.js --program P [--exe E] --work DIR');
  return o;
}

const winPath = (p) => 'Z:' + p.replace(/\//g, '\\');

// A runner of one build: run(query, home) gives standard output as a
// latin1 string.
function nativeRunner(program) {
  return {
    name: 'native',
    run(query, home) {
      const env = { QUERY_STRING: query };
      if (home) env.USERPROFILE = home;
      const r = spawnSync(program, [], { env, encoding: 'latin1', maxBuffer: 1 << 26 });
      if (r.status !== 0 || r.stderr) throw new Error(`${query}: status ${r.status}, stderr ${r.stderr}`);
      return r.stdout;
    },
  };
}

function wineRunner(exe, prefix) {
  const env = { WINEPREFIX: prefix, WINEDEBUG: '-all', LANG: 'C.UTF-8', PATH: process.env.PATH, HOME: process.env.HOME };
  fs.mkdirSync(prefix, { recursive: true });
  spawnSync('wineserver', ['-p'], { env, stdio: 'ignore' });
  // The first start makes the prefix; Wine's services keep any pipe they
  // inherit open, so it writes to a file.
  const fd = fs.openSync(path.join(prefix, '..', 'wine-start.log'), 'w');
  spawnSync('wine', ['cmd', '/c', 'exit'], { env, stdio: ['ignore', fd, fd] });
  fs.closeSync(fd);
  return {
    name: 'wine',
    run(query, home) {
      const args = home ? ['cmd', '/c', `set USERPROFILE=${winPath(home)}&& ${winPath(exe)}`] : [exe];
      const r = spawnSync('wine', args, { env: { ...env, QUERY_STRING: query }, encoding: 'latin1', maxBuffer: 1 << 26 });
      if (r.status !== 0) throw new Error(`${query}: status ${r.status}`);
      return r.stdout;
    },
    stop() { spawnSync('wineserver', ['-k'], { env, stdio: 'ignore' }); },
  };
}

function sh(...argv) {
  const r = spawnSync(argv[0], argv.slice(1), { encoding: 'utf8' });
  if (r.status !== 0) throw new Error(`${argv.join(' ')}: ${r.stderr}`);
}

// A machine of its own for the native drives, whose free space nothing
// else moves: a tmpfs as the root folder with /proc, a tmpfs as /home with
// the home folder /home/u, and a read-only tmpfs as /ro; the program
// (statically linked) runs chrooted there. Needs root in a private mount
// namespace (tests/prometheus/run), which takes the mounts with it.
function chrootRunner(program, dir) {
  const sys = path.join(dir, 'machine');
  fs.mkdirSync(sys, { recursive: true });
  sh('mount', '-t', 'tmpfs', '-o', 'size=32m,nr_inodes=4096,mode=755', 'tmpfs', sys);
  for (const d of ['proc', 'home', 'ro']) fs.mkdirSync(path.join(sys, d));
  sh('mount', '-t', 'proc', 'proc', path.join(sys, 'proc'));
  sh('mount', '-t', 'tmpfs', '-o', 'size=4m,nr_inodes=1024,mode=755', 'tmpfs', path.join(sys, 'home'));
  sh('mount', '-t', 'tmpfs', '-o', 'ro,size=1m', 'tmpfs', path.join(sys, 'ro'));
  fs.mkdirSync(path.join(sys, 'home', 'u', 'docs'), { recursive: true });
  fs.writeFileSync(path.join(sys, 'home', 'u', 'docs', 'a.txt'), Buffer.alloc(5000, 'a'));
  fs.writeFileSync(path.join(sys, 'home', 'u', 'q"uote\nline'), Buffer.alloc(70, 'b'));
  fs.copyFileSync(program, path.join(sys, 'plugin_disks'));
  fs.chmodSync(path.join(sys, 'plugin_disks'), 0o755);
  return {
    name: 'native, chrooted',
    run(query, home) {
      const env = { QUERY_STRING: query };
      if (home) env.USERPROFILE = home;
      const r = spawnSync('/usr/sbin/chroot', [sys, '/plugin_disks'], { env, encoding: 'latin1' });
      if (r.status !== 0 || r.stderr) throw new Error(`${query}: status ${r.status}, stderr ${r.stderr}`);
      return r.stdout;
    },
  };
}

function promtoolCheck(body, what) {
  const r = spawnSync('promtool', ['check', 'metrics'], { input: Buffer.from(body, 'latin1'), encoding: 'utf8' });
  if (r.status !== 0) throw new Error(`${what}: promtool check metrics: ${r.stdout}${r.stderr}`);
}

// The samples of one family as a map of label text to value.
function family(parsed, name) {
  const out = new Map();
  for (const s of parsed.samples) {
    if (s.name === name) out.set(JSON.stringify(s.labels), s.value);
  }
  return out;
}

const driveKey = (m) => JSON.stringify({ device: m.device, fstype: m.fstype, mountpoint: m.mount });

// What the metrics reply must hold for the drives of a mounts reply.
function expectedDrives(mounts) {
  const want = new Map();
  const put = (fam, m, v) => {
    if (!want.has(fam)) want.set(fam, new Map());
    want.get(fam).set(driveKey(m), String(v));
  };
  for (const m of mounts.mounts) {
    put('disks_filesystem_size_bytes', m, m.total_bytes);
    put('disks_filesystem_free_bytes', m, m.free_bytes);
    put('disks_filesystem_avail_bytes', m, m.avail_bytes);
    if (m.has_inodes) {
      put('disks_filesystem_files', m, m.inodes_total);
      put('disks_filesystem_files_free', m, m.inodes_total - m.inodes_used);
    }
    put('disks_filesystem_readonly', m, m.readonly ? 1 : 0);
    put('disks_filesystem_forced_readonly', m, ['errors', 'filesystem'].includes(m.readonly_reason) ? 1 : 0);
    if (m.error_count !== null) put('disks_filesystem_errors_total', m, m.error_count);
    if (m.last_error !== null) put('disks_filesystem_last_error_timestamp_seconds', m, Date.parse(m.last_error) / 1000);
    put('disks_filesystem_device_error', m, 0);
  }
  return want;
}

// Differences between the drive series of a metrics reply and a
// mounts&detail=1 reply; a family the reply should not have at all counts
// too.
function driveDiffs(parsed, mounts) {
  const errs = [];
  const want = expectedDrives(mounts);
  for (const fam of ['disks_filesystem_errors_total', 'disks_filesystem_last_error_timestamp_seconds']) {
    if (!want.has(fam)) want.set(fam, new Map());
  }
  for (const [fam, w] of want) {
    const got = family(parsed, fam);
    for (const [k, v] of w) if (got.get(k) !== v) errs.push(`${fam}${k}: ${got.get(k)}, the mounts reply ${v}`);
    for (const k of got.keys()) if (!w.has(k)) errs.push(`${fam}${k}: not in the mounts reply`);
  }
  return errs;
}

// The free figures of a mounts reply, keyed by drive.
function freeFigures(mounts) {
  const out = new Map();
  for (const m of mounts.mounts) {
    out.set(driveKey(m), [m.free_bytes, m.avail_bytes, m.inodes_total - m.inodes_used]);
  }
  return out;
}

// Whether every free figure of mid lies between those of a and b: the
// three replies were taken one after the other, so on drives whose free
// space only moved one way meanwhile, the middle one's figures are
// between the others'.
function between(a, mid, b) {
  const fa = freeFigures(a), fm = freeFigures(mid), fb = freeFigures(b);
  if (fa.size !== fm.size || fb.size !== fm.size) return false;
  for (const [k, vm] of fm) {
    const va = fa.get(k), vb = fb.get(k);
    if (!va || !vb) return false;
    for (let i = 0; i < vm.length; i++) {
      if (vm[i] < Math.min(va[i], vb[i]) || vm[i] > Math.max(va[i], vb[i])) return false;
    }
  }
  return true;
}

// The drives of one moment: mounts, metrics, mounts again. When the two
// mounts replies agree (nothing changed on the drives meanwhile), the
// metrics reply must give exactly their figures. On drives that others
// write to (Wine's C: and Z: are the machine's root file system), that
// moment may not come: then the metrics reply must be the JSON reply of
// the same moment as far as the two readings around it tell, every other
// figure exact and the free ones between the two. Up to 20 tries.
function checkDrives(runner, query) {
  let last = [];
  for (let i = 0; i < 20; i++) {
    const before = jsonBody(runner.run('action=mounts&detail=1'));
    const out = runner.run(query);
    const after = jsonBody(runner.run('action=mounts&detail=1'));
    const parsed = parseExposition(metricsBody(out));
    const quiet = JSON.stringify({ ...before, pid: 0, utc: '' }) === JSON.stringify({ ...after, pid: 0, utc: '' });
    if (quiet) {
      last = driveDiffs(parsed, before);
      if (!last.length) return { tries: i + 1, drives: before.mounts.length, how: 'exact' };
      break;
    }
    // The metrics reply read back as a mounts reply: its own free figures
    // with the figures of the reading before for the rest.
    const mid = JSON.parse(JSON.stringify(before));
    for (const m of mid.mounts) {
      const k = driveKey(m);
      const get = (fam) => family(parsed, fam).get(k);
      if (get('disks_filesystem_free_bytes') !== undefined) m.free_bytes = Number(get('disks_filesystem_free_bytes'));
      if (get('disks_filesystem_avail_bytes') !== undefined) m.avail_bytes = Number(get('disks_filesystem_avail_bytes'));
      if (m.has_inodes && get('disks_filesystem_files_free') !== undefined) {
        m.inodes_used = m.inodes_total - Number(get('disks_filesystem_files_free'));
      }
    }
    last = driveDiffs(parsed, mid);
    if (!last.length && between(before, mid, after)) {
      return { tries: i + 1, drives: before.mounts.length, how: 'between two readings' };
    }
    if (!last.length) last = ['the free figures were never between two readings'];
  }
  throw new Error(`${query}: the drive series are not the mounts reply's:\n  ${last.join('\n  ')}`);
}

// The entries that get series, from the JSON entries: largest on disk
// first, then larger size, then name bytes; one per label value.
function topEntries(entries, top) {
  const sorted = [...entries].sort((a, b) => (b.disk_bytes - a.disk_bytes) || (b.bytes - a.bytes) ||
    Buffer.compare(Buffer.from(a.name), Buffer.from(b.name)));
  const seen = new Set();
  const out = [];
  for (const e of sorted) {
    if (out.length >= top) break;
    if (seen.has(e.name)) continue;
    seen.add(e.name);
    out.push(e);
  }
  return out;
}

function checkHome(runner, home, rest, top) {
  const query = 'action=metrics&root=home' + rest;
  const json = jsonBody(runner.run('action=dirs&root=home&detail=1' + rest.replace(/&top=[0-9]*/, ''), home));
  const parsed = parseExposition(metricsBody(runner.run(query, home)));
  const one = (name) => {
    const f = family(parsed, name);
    if (f.size !== 1 || !f.has('{}')) throw new Error(`${query}: ${name} is not one series without labels`);
    return f.get('{}');
  };
  const errs = [];
  const eq = (what, got, want) => { if (String(got) !== String(want)) errs.push(`${what}: ${got}, the JSON reply ${want}`); };
  eq('disks_home_bytes', one('disks_home_bytes'), json.folder_bytes);
  eq('disks_home_disk_bytes', one('disks_home_disk_bytes'), json.folder_disk_bytes);
  eq('disks_home_items', one('disks_home_items'), json.folder_items);
  eq('disks_home_partial', one('disks_home_partial'), json.folder_partial === null ? 0 : 1);
  if (!/^[0-9]+\.[0-9]{3}$/.test(one('disks_home_walk_seconds'))) errs.push('disks_home_walk_seconds is not seconds with three decimals');
  const want = topEntries(json.entries, top);
  const got = parsed.samples.filter((s) => s.name === 'disks_home_entry_bytes');
  const gotDisk = parsed.samples.filter((s) => s.name === 'disks_home_entry_disk_bytes');
  eq('entries', got.length, want.length);
  eq('entries on disk', gotDisk.length, want.length);
  want.forEach((e, i) => {
    const s = got[i] || { labels: {} };
    const d = gotDisk[i] || { labels: {} };
    if (s.labels.entry !== e.name || d.labels.entry !== e.name) {
      errs.push(`entry ${i}: ${JSON.stringify(s.labels.entry)}, the JSON reply ${JSON.stringify(e.name)}`);
    }
    eq(`disks_home_entry_bytes{entry=${JSON.stringify(e.name)}}`, s.value, e.bytes);
    eq(`disks_home_entry_disk_bytes{entry=${JSON.stringify(e.name)}}`, d.value, e.disk_bytes);
  });
  // The six bands, and the ten largest types (the others' row has none):
  // the JSON rows' figures, and nothing else.
  const kinds = [...json.ages.map((a) => ['age', a.age, a]),
    ...json.types.filter((r) => r.type !== null).slice(0, 10).map((r) => ['type', r.type, r])];
  for (const [what, figure] of [['files', 'files'], ['bytes', 'bytes'], ['disk_bytes', 'disk_bytes']]) {
    for (const kind of ['age', 'type']) {
      const f = family(parsed, `disks_home_${kind}_${what}`);
      const rows = kinds.filter((k) => k[0] === kind);
      eq(`disks_home_${kind}_${what} series`, f.size, rows.length);
      for (const [, label, r] of rows) eq(`disks_home_${kind}_${what}{${kind}=${JSON.stringify(label)}}`, f.get(JSON.stringify({ [kind]: label })), r[figure]);
    }
  }
  if (errs.length) throw new Error(`${query} on ${path.basename(home)}:\n  ${errs.join('\n  ')}`);
  return want.length;
}

function main() {
  const o = parseArgs(process.argv.slice(2));
  o.work = path.resolve(o.work);
  fs.mkdirSync(o.work, { recursive: true });
  const trees = path.join(o.work, 'trees');
  const home = (name) => fixtures.ensure(trees, name);
  const runners = [nativeRunner(path.resolve(o.program))];
  if (o.exe) runners.push(wineRunner(path.resolve(o.exe), path.join(o.work, 'wineprefix')));
  // Each form with the home tree it is asked of.
  const forms = [
    ['action=metrics', null],
    ['action=metrics&root=home', 'label-names'],
    ['action=metrics&root=home&top=512', 'detail'],
    ['action=metrics&root=home&top=0', 'detail'],
    ['action=metrics&root=home&sub=two', 'nest'],
    ['action=metrics&root=home&sub=M%C3%BAsica', 'nest'],
    ['action=metrics&root=home', 'depth'],
  ];
  let failed = 0;
  const step = (what, fn) => {
    try {
      const note = fn();
      process.stdout.write(`ok    ${what}${note ? ' (' + note + ')' : ''}\n`);
    } catch (e) {
      failed++;
      process.stdout.write(`FAIL  ${what}\n    ${String(e.message || e).replace(/\n/g, '\n    ')}\n`);
    }
  };
  try {
    const m = chrootRunner(path.resolve(o.program), o.work);
    step(`${m.name}: the drive series are the mounts reply's, exactly`, () => {
      const d = checkDrives(m, 'action=metrics');
      if (d.how !== 'exact') throw new Error('the drives moved: ' + d.how);
      return `${d.drives} drives`;
    });
    step(`${m.name}: with root=home, the same, and the home series the dirs&detail=1 reply's`, () => {
      const d = checkDrives({ run: (q) => m.run(q, q.startsWith('action=metrics') ? '/home/u' : null) },
        'action=metrics&root=home');
      if (d.how !== 'exact') throw new Error('the drives moved: ' + d.how);
      return `${d.drives} drives, ${checkHome(m, '/home/u', '', 20)} entries`;
    });
    step(`${m.name}: a read-only mount is readonly 1, the others 0`, () => {
      const ro = family(parseExposition(metricsBody(m.run('action=metrics'))), 'disks_filesystem_readonly');
      const got = [...ro].map(([k, v]) => `${JSON.parse(k).mountpoint}=${v}`).sort().join(' ');
      if (got !== '/=0 /home=0 /ro=1') throw new Error(got);
      return got;
    });
    for (const r of runners) {
      for (const [q, tree] of forms) {
        step(`${r.name}: promtool check metrics accepts ${q}${tree ? ' on ' + tree : ''}`, () => {
          const body = metricsBody(r.run(q, tree && home(tree)));
          promtoolCheck(body, q);
          const p = parseExposition(body);
          return `${p.families.length} families, ${p.samples.length} series`;
        });
      }
      step(`${r.name}: promtool check metrics refuses a refusal, which is JSON`, () => {
        const out = r.run('action=metrics&root=Home', home('nest'));
        const body = out.slice(out.indexOf('\r\n\r\n') + 4);
        const c = spawnSync('promtool', ['check', 'metrics'], { input: body });
        if (c.status === 0) throw new Error('accepted: ' + body);
      });
      step(`${r.name}: the drive series are the mounts reply's`, () => {
        const d = checkDrives(r, 'action=metrics');
        return `${d.drives} drives, ${d.how}, ${d.tries} tries`;
      });
      step(`${r.name}: with root=home, the same`, () => {
        const d = checkDrives({ run: (q) => r.run(q, q.startsWith('action=metrics') ? home('sizes') : null) },
          'action=metrics&root=home');
        return `${d.drives} drives, ${d.how}, ${d.tries} tries`;
      });
      const homes = [
        ['label-names', '', 20],
        ['detail', '', 20],
        ['detail', '&top=2', 2],
        ['detail', '&top=0', 0],
        ['nest', '&sub=two', 20],
        ['sizes', '', 20],
        ['byte-names', '', 20],
        ['depth', '', 20],
      ];
      for (const [tree, rest, top] of homes) {
        step(`${r.name}: the home series of ${tree}${rest} are the dirs&detail=1 reply's`,
          () => `${checkHome(r, home(tree), rest, top)} entries`);
      }
    }
  } finally {
    for (const r of runners) if (r.stop) r.stop();
  }
  process.stdout.write(failed ? `${failed} failed\n` : 'all passed\n');
  process.exit(failed ? 1 : 0);
}

main();
