// Screenshots of the dashboard with the real plugin's data, light and dark
// (1100 px wide viewport, the whole page), over the demo home folder that
// scripts/demo-home writes. A host of its own serves it; as root that host
// runs in a private mount namespace where tests/browser/demo-machine makes
// a small made-up workstation (/, /home, a data disk and a USB stick, with
// the demo folder as /home/alex) and the plugin runs chrooted into it, so
// every drive and folder on the page is the demo's, none of this machine's.
// Everything it mounts goes with the host.
// They are written to $BROWSER_TMP; with UPDATE_SCREENSHOTS=1 to docs/
// (docs/dashboard-light.png, docs/dashboard-dark.png, and
// docs/dashboard-drill.png: two folders down, by clicking).
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
