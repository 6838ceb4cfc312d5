// Drives that need attention: a drive made read-only by errors, or whose
// file system has recorded errors, is flagged on its card in words and in
// colour, and the summary says how many there are; a drive read-only by
// its mount or by nature only says "read-only". Replies are served fixed
// (tests/health has the real ones, from a failing ext4).
'use strict';
const { it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const h = require('./helpers');

let browser;
before(async () => { browser = await h.launch(); });
after(async () => { await browser.close(); });

const healthy = { readonly: false, readonly_reason: null, errors_recorded: false, error_count: 0, last_error: null, attention: false };
const DRIVES = [
  h.drive({ mount: '/srv/failing', device: '/dev/loop0', readonly: true, readonly_reason: 'errors', errors_recorded: true,
    error_count: 2, last_error: '2026-12-11T10:14:09Z', attention: true }),
  h.drive({ mount: '/srv/healthy', device: '/dev/loop1', ...healthy }),
  h.drive({ mount: '/srv/counted', device: '/dev/loop2', readonly: false, readonly_reason: null, errors_recorded: true,
    error_count: 1, last_error: '2026-12-01T00:00:00Z', attention: true }),
  h.drive({ mount: '/srv/btrfs', device: '/dev/loop3', fstype: 'btrfs', readonly: true, readonly_reason: 'filesystem',
    errors_recorded: null, error_count: null, last_error: null, attention: true }),
  h.drive({ mount: '/snap/core/1', device: '/dev/loop4', fstype: 'squashfs', readonly: true, readonly_reason: 'mount',
    errors_recorded: null, error_count: null, last_error: null, attention: false, pct: 100 }),
  h.drive({ mount: '/run', device: 'tmpfs', fstype: 'tmpfs', readonly: false, readonly_reason: null,
    errors_recorded: null, error_count: null, last_error: null, attention: false }),
];

async function open(mounts, theme = 'light') {
  const context = await browser.newContext({ viewport: { width: 1100, height: 900 }, reducedMotion: 'reduce' });
  const page = await context.newPage();
  const asked = [];
  await page.route(h.isAction('mounts'), (route) => { asked.push(route.request().url()); return h.json(route, h.mountsReply(mounts)); });
  await page.route(h.isAction('dirs'), (route) => h.json(route, h.dirsReply([h.entry('x', 1)])));
  await page.goto(h.HOST_URL + '/plugin_disks?theme=' + theme);
  await h.waitText(page, '#pPlatform', 'testos');
  // Every card, in reply order: its mount, its class, its header and its flag.
  const cards = () => page.$$eval('.mnt', (cs) => cs.map((c) => ({
    mount: c.querySelector('.mp').textContent,
    cls: c.className,
    meta: [...c.querySelectorAll('.h .meta')].map((e) => e.textContent),
    flag: c.querySelector('.flag') ? c.querySelector('.flag').textContent : null,
  })));
  return { context, page, asked, cards };
}

it('asks for the drives with detail=1, flags each drive that needs attention in words, and none other', async () => {
  const { context, page, asked, cards } = await open(DRIVES);
  await h.waitFor(page, () => !!document.getElementById('kAttn'));
  assert.ok(asked.every((u) => new URL(u).searchParams.get('detail') === '1'), asked.join(' '));
  const got = Object.fromEntries((await cards()).map((c) => [c.mount, c]));
  assert.equal(got['/srv/failing'].cls, 'mnt attn');
  assert.equal(got['/srv/failing'].flag,
    `Needs attention: read-only after file system errors${h.DOT}2 errors, the last 2026-12-11 10:14:09 UTC`);
  assert.equal(got['/srv/counted'].flag,
    `Needs attention: its file system has recorded errors${h.DOT}1 error, the last 2026-12-01 00:00:00 UTC`);
  assert.equal(got['/srv/btrfs'].flag, 'Needs attention: read-only: its file system stopped taking writes');
  for (const quiet of ['/srv/healthy', '/snap/core/1', '/run']) {
    assert.equal(got[quiet].cls, 'mnt', quiet);
    assert.equal(got[quiet].flag, null, quiet);
  }
  // Read-only by nature: said, not alarming.
  assert.deepEqual(got['/snap/core/1'].meta.slice(-1), ['read-only']);
  assert.ok(!got['/srv/healthy'].meta.includes('read-only'));
  assert.equal(await h.textOf(page, '#kAttn'), '3 drives need attention: /srv/failing, /srv/counted, /srv/btrfs.');
  // In colour too: the flagged card's border is the theme's danger colour,
  // a healthy card's is not.
  const border = (m) => page.$$eval('.mnt', (cs, mount) => getComputedStyle(cs.find((c) => c.querySelector('.mp').textContent === mount)).borderTopColor, m);
  const danger = await page.evaluate(() => {
    const probe = document.createElement('i');
    probe.style.color = 'var(--danger)';
    document.body.appendChild(probe);
    const c = getComputedStyle(probe).color;
    probe.remove();
    return c;
  });
  assert.equal(await border('/srv/failing'), danger);
  assert.notEqual(await border('/srv/healthy'), danger);
  await context.close();
});

it('says nothing of attention when no drive needs it, nor for a plugin without the detail fields', async () => {
  for (const mounts of [[DRIVES[1], DRIVES[4], DRIVES[5]], [h.drive({ mount: '/' }), h.drive({ mount: '/data', device: 'x' })]]) {
    const { context, page, cards } = await open(mounts);
    await h.waitText(page, '#kCount', String(mounts.length - mounts.filter((x) => x.fstype === 'tmpfs').length));
    assert.equal(await page.$('#kAttn'), null);
    assert.deepEqual((await cards()).filter((c) => c.flag !== null || c.cls !== 'mnt'), []);
    await context.close();
  }
});

it('the summary names at most three drives and counts the rest; the flag goes when the drive is well again', async () => {
  const many = [1, 2, 3, 4, 5].map((i) => ({ ...DRIVES[0], mount: '/srv/d' + i, device: 'd' + i }));
  let reply = many;
  const context = await browser.newContext();
  const page = await context.newPage();
  await page.route(h.isAction('mounts'), (route) => h.json(route, h.mountsReply(reply)));
  await page.route(h.isAction('dirs'), (route) => h.json(route, h.dirsReply([])));
  await page.goto(h.HOST_URL + '/plugin_disks');
  await h.waitText(page, '#kAttn', '5 drives need attention: /srv/d1, /srv/d2, /srv/d3 and 2 more.');
  reply = [{ ...DRIVES[1], mount: '/srv/d1' }];
  await page.click('#btnRefresh');
  await h.waitFor(page, () => !document.getElementById('kAttn'));
  assert.equal(await page.$('.mnt.attn'), null);
  await context.close();
});

for (const theme of ['light', 'dark']) {
  it(`no accessibility violation on the flags and the note (${theme})`, async () => {
    const { context, page } = await open(DRIVES, theme);
    await h.waitFor(page, () => !!document.getElementById('kAttn'));
    await page.addScriptTag({ path: path.join(h.REPO, 'node_modules', 'axe-core', 'axe.min.js') });
    const bad = await page.evaluate(async () => {
      const r = await window.axe.run({ include: [['.mnt .flag'], ['#kAttn']] }, { resultTypes: ['violations'] });
      return r.violations.map((v) => v.id + ' ' + v.nodes.map((n) => n.target[0]).join(' '));
    });
    assert.deepEqual(bad, []);
    await context.close();
  });
}
