// Drilling down: folder rows of HOME open their folder (click, Enter,
// Space), the breadcrumb goes back, polling refreshes the folder shown, a
// folder that went away is said so with the way up, on the direct route and
// the hub route; in both themes, with axe-core run before and after.
// A host of its own serves a home folder of its own, which the tests change.
'use strict';
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const h = require('./helpers');
const fixture = require('./fixture');

let browser, host, home;
before(async () => {
  browser = await h.launch();
  home = fs.mkdtempSync(path.join(process.env.BROWSER_TMP || os.tmpdir(), 'drill-home-'));
  fixture.write(home);
  fs.mkdirSync(path.join(home, 'Música', 'Canción'), { recursive: true });
  fs.writeFileSync(path.join(home, 'Música', 'Canción', 'été.mp3'), 'x'.repeat(300));
  fs.mkdirSync(path.join(home, 'a b&c'));
  fs.writeFileSync(path.join(home, 'a b&c', 'inside'), 'x'.repeat(10));
  host = await h.startHost(['--plugin', h.PLUGIN, '--home', home]);
});
after(async () => {
  await browser.close();
  await host.stop();
  fs.rmSync(home, { recursive: true, force: true });
});

async function open(theme, query = '') {
  const context = await browser.newContext({ viewport: { width: 1100, height: 900 }, reducedMotion: 'reduce' });
  const page = await context.newPage();
  // Fixed drives, so that the colour counts do not depend on this machine;
  // every folder request goes to the real plugin.
  await page.route(h.isAction('mounts'), (route) => h.json(route, h.AXE_DRIVES));
  const log = h.logRequests(page);
  await page.goto(host.url + '/plugin_disks?theme=' + theme + query);
  await shows(page, '');
  return { context, page, log };
}

// Waits until the table shows the listing of sub (names as the plugin
// lists them) and the breadcrumb says where it is.
async function shows(target, sub) {
  const want = fs.readdirSync(path.join(home, ...sub.split('/').filter(Boolean))).sort();
  await h.waitFor(target, ([w, s]) => {
    const names = [...document.querySelectorAll('#rows td.nm')].map((td) => td.textContent).sort();
    const c = document.querySelector('.crumbs');
    const crumbs = c.hidden ? '' : c.textContent;
    const wantCrumbs = s ? 'HOME / ' + s.split('/').join(' / ') : '';
    return JSON.stringify(names) === JSON.stringify(w) && crumbs === wantCrumbs &&
      /entries/.test(document.getElementById('dirNote').textContent);
  }, [want, sub]);
}

const dirsPaths = (log) => log.filter((r) => r.action === 'dirs').map((r) => r.path);
const exactly = (name) => new RegExp('^' + name.replace(/[.*+?^${}()|[\]\\]/g, '\\$&') + '$');
const rowOf = (page, name) => page.locator('#rows tr', { has: page.locator('td.nm', { hasText: exactly(name) }) });

for (const theme of ['light', 'dark']) {
  describe(`drill-down, ${theme} theme`, () => {
    it('click into a folder and back by the breadcrumb; files are not controls; axe before and after', async () => {
      const { context, page, log } = await open(theme);
      // Today's counts, before any drilling: the baseline itself.
      const top = await h.axeCounts(page);
      assert.deepEqual(top.rules, h.AXE_BASELINE[theme]);
      h.assertNoRise(top, theme, 'top');
      // Folders are buttons in their name cell; files are plain text.
      assert.equal(await rowOf(page, 'notes.txt').locator('button').count(), 0);
      assert.equal(await rowOf(page, 'notes.txt').getAttribute('class'), null);
      assert.equal(await rowOf(page, 'projects').getAttribute('class'), 'go');
      // Named by the folder's name alone (the chevron is decoration).
      assert.equal(await page.getByRole('button', { name: 'projects', exact: true }).count(), 1);
      assert.equal(await page.locator('.crumbs').isHidden(), true);

      await rowOf(page, 'projects').locator('td.num').first().click();  // anywhere on the row
      await shows(page, 'projects');
      await rowOf(page, 'notes').click();
      await shows(page, 'projects/notes');
      await rowOf(page, 'deep').click();
      await shows(page, 'projects/notes/deep');
      assert.equal(dirsPaths(log).pop(), '/plugin_disks?action=dirs&root=home&sub=projects%2Fnotes%2Fdeep&detail=1');
      assert.equal(await page.locator('.crumbs [aria-current]').textContent(), 'deep');
      h.assertNoRise(await h.axeCounts(page), theme, 'inside');

      await page.locator('.crumbs button', { hasText: 'projects' }).click();
      await shows(page, 'projects');
      await page.locator('.crumbs button', { hasText: 'HOME' }).click();
      await shows(page, '');
      assert.equal(dirsPaths(log).pop(), '/plugin_disks?action=dirs&root=home&detail=1');

      // The root buttons start again at the top.
      await rowOf(page, 'Documents').click();
      await shows(page, 'Documents');
      await page.click('#segRoot button[data-root="home"]');
      await shows(page, '');
      assert.equal(dirsPaths(log).pop(), '/plugin_disks?action=dirs&root=home&detail=1');
      await context.close();
    });

    it('keyboard: Tab reaches a folder with a visible focus ring, Enter and Space open it', async () => {
      const { context, page } = await open(theme);
      let focused = '';
      // Past the rate and root buttons, the comparison's control, the map
      // and the types beside it.
      for (let i = 0; i < 44 && !focused; i++) {
        await page.keyboard.press('Tab');
        focused = await page.evaluate(() => (document.activeElement.closest('#rows') ? document.activeElement.textContent : ''));
      }
      assert.ok(focused, 'a folder row takes the focus');
      const ring = await page.evaluate(() => {
        const cs = getComputedStyle(document.activeElement);
        return [document.activeElement.matches(':focus-visible'), cs.outlineStyle, cs.outlineWidth];
      });
      assert.deepEqual(ring, [true, 'solid', '2px']);
      const first = focused;
      await page.keyboard.press('Enter');
      await shows(page, first);
      await page.locator('.crumbs button', { hasText: 'HOME' }).focus();
      await page.keyboard.press('Space');
      await shows(page, '');
      await page.locator('#rows button', { hasText: 'projects' }).focus();
      await page.keyboard.press('Space');
      await shows(page, 'projects');
      // The focus moved to the first folder of the new listing.
      const next = await page.evaluate(() => document.activeElement.textContent);
      assert.equal(next, await page.locator('#rows button').first().textContent());
      await page.keyboard.press('Enter');
      await shows(page, 'projects/' + next);
      await context.close();
    });

    it('a poll while inside refreshes the folder shown', async () => {
      const { context, page, log } = await open(theme);
      await rowOf(page, 'Downloads').click();
      await shows(page, 'Downloads');
      const added = path.join(home, 'Downloads', `new-${theme}.bin`);
      fs.writeFileSync(added, 'x'.repeat(2048));
      try {
        const before = dirsPaths(log).length;
        await page.click('#segRate button[data-ms="5000"]');  // polls at once
        await shows(page, 'Downloads');
        const asked = dirsPaths(log).slice(before);
        assert.ok(asked.length >= 1);
        for (const p of asked) assert.equal(p, '/plugin_disks?action=dirs&root=home&sub=Downloads&detail=1');
        await page.click('#segRate button[data-ms="0"]');
      } finally {
        fs.rmSync(added);
      }
      await page.click('#btnRefresh');
      await shows(page, 'Downloads');
      await context.close();
    });

    it('a folder deleted while shown: said in the panel with the way up, never asked again by itself', async () => {
      const doomed = path.join(home, `doomed-${theme}`);
      fs.mkdirSync(path.join(doomed, 'inner'), { recursive: true });
      fs.writeFileSync(path.join(doomed, 'inner', 'f'), 'x');
      const { context, page, log } = await open(theme);
      await rowOf(page, `doomed-${theme}`).click();
      await rowOf(page, 'inner').click();
      await shows(page, `doomed-${theme}/inner`);
      fs.rmSync(doomed, { recursive: true });

      const before = dirsPaths(log).length;
      await page.click('#btnRefresh');
      await h.waitText(page, '.gone span', 'This folder no longer exists.');
      assert.equal(await page.locator('.gone').isVisible(), true);
      assert.equal(await page.locator('#dirEmpty').isVisible(), false);
      assert.equal(await page.locator('#rows tr').count(), 0);
      assert.equal(await h.textOf(page, '#dirNote'), 'unavailable: sub_not_found');
      h.assertNoRise(await h.axeCounts(page), theme, 'gone');
      await new Promise((r) => setTimeout(r, 1500));
      assert.deepEqual(dirsPaths(log).slice(before), [`/plugin_disks?action=dirs&root=home&sub=doomed-${theme}%2Finner&detail=1`]);

      // Up one level: that one is gone too; up again: HOME.
      await page.click('.gone button');
      await h.waitFor(page, (s) => document.querySelector('.crumbs').textContent === 'HOME / ' + s &&
        !document.querySelector('.gone').classList.contains('hide'), `doomed-${theme}`);
      await page.click('.gone button');
      await shows(page, '');
      assert.equal(await page.locator('.gone').isVisible(), false);
      await context.close();
    });
  });
}

describe('drill-down on both routes, with names that need encoding', () => {
  it('direct route: UTF-8 names and "a b&c" travel encoded', async () => {
    const { context, page, log } = await open('light');
    await rowOf(page, 'Música').click();
    await rowOf(page, 'Canción').click();
    await shows(page, 'Música/Canción');
    assert.equal(dirsPaths(log).pop(), '/plugin_disks?action=dirs&root=home&sub=M%C3%BAsica%2FCanci%C3%B3n&detail=1');
    await page.locator('.crumbs button', { hasText: 'HOME' }).click();
    await shows(page, '');
    await rowOf(page, 'a b&c').click();
    await shows(page, 'a b&c');
    assert.equal(dirsPaths(log).pop(), '/plugin_disks?action=dirs&root=home&sub=a%20b%26c&detail=1');
    await context.close();
  });

  it('hub route: the hub passes sub through to the plugin', async () => {
    const { context, page, log } = await open('dark', '&plugin=disks&node=local&id=3');
    await rowOf(page, 'projects').click();
    await rowOf(page, 'site').click();
    await shows(page, 'projects/site');
    assert.equal(dirsPaths(log).pop(), '/plugins?plugin=disks&action=dirs&node=local&id=3&root=home&sub=projects%2Fsite&detail=1');
    await page.locator('.crumbs button', { hasText: 'HOME' }).click();
    await shows(page, '');
    assert.equal(dirsPaths(log).pop(), '/plugins?plugin=disks&action=dirs&node=local&id=3&root=home&detail=1');
    await context.close();
  });

  it('the hub page frames the dashboard and drills through its own route', async () => {
    const context = await browser.newContext();
    const page = await context.newPage();
    const log = h.logRequests(page);
    await page.goto(host.url + '/hub');
    const frame = await h.waitFor(page, () => true).then(() => page.waitForSelector('iframe')).then((f) => f.contentFrame());
    await shows(frame, '');
    await rowOf(frame, 'Videos').click();
    await shows(frame, 'Videos');
    assert.match(dirsPaths(log).pop(), /^\/plugins\?plugin=disks&action=dirs&.*&root=home&sub=Videos&detail=1$/);
    await context.close();
  });
});
