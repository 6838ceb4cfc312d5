// Screenshots of the dashboard with the real plugin's data, light and dark
// (1100 px wide viewport, the whole page), over the demo home folder that
// scripts/demo-home writes. A host of its own serves it; as root that host
// runs in a private mount namespace where tests/browser/demo-machine makes
// a small made-up workstation (/, /home, a data disk and a USB stick, with
// the demo folder as /home/alex) and the plugin runs chrooted into it, so
// every drive and folder on the page is the demo's, none of this machine's.
// Everything it mounts goes with the host.
// They are written to $BROWSER_TMP; with UPDATE_SCREENSHOTS=1 to docs/
// (docs/dashboard-light.png, docs/dashboard-dark.png,
// docs/dashboard-drill.png: two folders down, by clicking, and
// docs/dashboard-compare.png: compared with a look of the day before).
'use strict';
const { it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const h = require('./helpers');
const demo = require('../../scripts/demo-home');

const OUT = process.env.UPDATE_SCREENSHOTS === '1' ? path.join(h.REPO, 'docs') : (process.env.BROWSER_TMP || '/tmp');
let browser, host, home;
before(async () => {
  browser = await h.launch();
  fs.mkdirSync(OUT, { recursive: true });
  home = fs.mkdtempSync(path.join(process.env.BROWSER_TMP || os.tmpdir(), 'demo-home-'));
  if (process.getuid() === 0) {
    const machine = ['unshare', '--mount', '--propagation', 'private',
      path.join(__dirname, 'demo-machine'), home, h.PLUGIN, '--',
      'sh', '-c', 'exec "$0" "$@" --plugin "$PLUGIN_WRAPPER" --home /home/alex'];
    // Where namespaces or loop devices are not allowed, this machine's
    // drives and a scratch path are shown instead, but never written to docs/.
    host = await h.startHost([], machine, 60000).catch((e) => {
      if (process.env.UPDATE_SCREENSHOTS === '1') throw e;
      return null;
    });
  } else if (process.env.UPDATE_SCREENSHOTS === '1') {
    throw new Error('the screenshots in docs/ are taken as root, on the demo machine');
  }
  if (!host) {
    demo.write(path.join(home, 'alex'));
    host = await h.startHost(['--plugin', h.PLUGIN, '--home', path.join(home, 'alex')]);
  }
});
after(async () => {
  await browser.close();
  await host.stop();
  fs.rmSync(home, { recursive: true, force: true });
});

for (const theme of ['light', 'dark']) {
  it(`dashboard in the ${theme} theme`, async () => {
    const context = await browser.newContext({ viewport: { width: 1100, height: 900 }, reducedMotion: 'reduce' });
    const page = await context.newPage();
    await page.goto(host.url + '/plugin_disks?theme=' + theme);
    await h.waitText(page, '#pPlatform', 'linux');
    await h.waitText(page, '#dirNote', /entries/);
    // The demo home's largest entry heads the folder table.
    await h.waitFor(page, () => document.body.textContent.includes('VirtualBox VMs'));
    assert.equal(await page.evaluate(() => document.documentElement.getAttribute('data-theme')), theme);
    const file = path.join(OUT, `dashboard-${theme}.png`);
    await page.screenshot({ path: file, fullPage: true });
    const png = fs.readFileSync(file);
    assert.deepEqual([...png.subarray(0, 8)], [137, 80, 78, 71, 13, 10, 26, 10]);
    assert.equal(png.readUInt32BE(16), 1100);
    assert.ok(png.readUInt32BE(20) >= 900);
    await context.close();
  });
}

// An earlier look of the home folder, as the browser would have kept it a
// day before: Downloads and Pictures smaller, the cache larger, no Desktop
// yet, and a backup and a game library since removed (sizes on disk).
function earlier(d) {
  const GB = 1024 ** 3, scale = { Downloads: 0.55, Pictures: 0.9, '.cache': 1.6 };
  const size = (x, k) => Object.assign({}, x, { bytes: Math.round(x.bytes * k), disk_bytes: Math.round(x.disk_bytes * k) });
  const e = d.entries.filter((x) => x.name !== 'Desktop').map((x) => (scale[x.name] ? Object.assign(size(x, scale[x.name]),
    x.children ? { children: x.children.map((c) => size(c, scale[x.name])) } : {}) : x));
  e.push({ name: 'old-laptop-backup.tar', path: d.root + '/old-laptop-backup.tar', bytes: 12 * GB, disk_bytes: 12 * GB, pct: 0, is_dir: false,
    items: 1, modified: d.utc, partial: null });
  e.push({ name: 'Steam', path: d.root + '/Steam', bytes: 7 * GB, disk_bytes: 7 * GB, pct: 0, is_dir: true, items: 900, modified: d.utc,
    partial: null, children: [] });
  const sum = (k) => e.reduce((t, x) => t + x[k], 0);
  return Object.assign({}, d, { entries: e, folder_bytes: sum('bytes'), folder_disk_bytes: sum('disk_bytes'),
    utc: new Date(Date.parse(d.utc) - 26 * 3600e3).toISOString().replace(/\.\d+Z$/, 'Z') });
}

it('dashboard compared with the look of the day before, light theme', async () => {
  const context = await browser.newContext({ viewport: { width: 1100, height: 900 }, reducedMotion: 'reduce', timezoneId: 'UTC' });
  const page = await context.newPage();
  // The first folder reply of home reaches the page as the earlier look.
  let first = true;
  await page.route(h.isAction('dirs'), async (route) => {
    const res = await route.fetch();
    const d = await res.json();
    const use = first && d.ok && d.root_kind === 'home' ? earlier(d) : d;
    if (use !== d) first = false;
    await route.fulfill({ response: res, body: JSON.stringify(use) });
  });
  await page.goto(host.url + '/plugin_disks?theme=light');
  await h.waitText(page, '#pPlatform', 'linux');
  await h.waitFor(page, () => document.body.textContent.includes('old-laptop-backup.tar') || /entries/.test(document.getElementById('dirNote').textContent));
  await page.click('#btnRefresh');
  await h.waitFor(page, () => document.querySelector('th.chg') && !document.getElementById('cmpGone').hidden);
  assert.equal(await page.$eval('#cmpSel', (s) => s.value), 'today');
  await page.mouse.move(0, 0);
  const file = path.join(OUT, 'dashboard-compare.png');
  await page.screenshot({ path: file, fullPage: true });
  const png = fs.readFileSync(file);
  assert.equal(png.readUInt32BE(16), 1100);
  await context.close();
});

it('dashboard drilled down two folders, light theme', async () => {
  const context = await browser.newContext({ viewport: { width: 1100, height: 900 }, reducedMotion: 'reduce' });
  const page = await context.newPage();
  await page.goto(host.url + '/plugin_disks?theme=light');
  await h.waitText(page, '#pPlatform', 'linux');
  const open = async (name, crumbs) => {
    await page.locator('#rows button', { hasText: new RegExp('^' + name + '$') }).click();
    await h.waitFor(page, (c) => document.querySelector('.crumbs').textContent === c &&
      document.querySelector('#rows button') !== null, crumbs);
  };
  await open('Documents', 'HOME / Documents');
  await open('thesis', 'HOME / Documents / thesis');
  // The folder's own listing, not only its file in the card of the folder above.
  await h.waitFor(page, () => /\/Documents\/thesis  \u00b7/.test(document.getElementById('dirNote').textContent) &&
    document.getElementById('rows').textContent.includes('thesis.pdf') &&
    document.getElementById('lgNote').textContent.endsWith('/Documents/thesis'));
  // The pointer away from the table, the focus off the rows.
  await page.mouse.move(0, 0);
  await page.evaluate(() => document.activeElement.blur());
  const file = path.join(OUT, 'dashboard-drill.png');
  await page.screenshot({ path: file, fullPage: true });
  const png = fs.readFileSync(file);
  assert.deepEqual([...png.subarray(0, 8)], [137, 80, 78, 71, 13, 10, 26, 10]);
  assert.equal(png.readUInt32BE(16), 1100);
  await context.close();
});
