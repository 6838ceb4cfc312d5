// Request URLs on both routes, the context parameters and their encoding,
// the password sources and header, and the fallback from workspace to home.
'use strict';
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

let browser;
before(async () => { browser = await h.launch(); });
after(async () => { await browser.close(); });

// Opens path+query with the given stored values and returns the first
// drives request and the first folders request the page sent.
async function firstRequests({ url, stored, init }) {
  const context = await browser.newContext();
  if (stored) {
    await context.addInitScript((s) => { for (const k of Object.keys(s)) localStorage.setItem(k, s[k]); }, stored);
  }
  if (init) await context.addInitScript(init);
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  const log = h.logRequests(page);
  await page.goto(h.HOST_URL + url);
  await h.waitText(page, '#pPlatform', 'linux');
  await h.waitText(page, '#dirNote', /entries|unavailable/);
  const mounts = log.filter((r) => r.action === 'mounts');
  const dirs = log.filter((r) => r.action === 'dirs');
  await context.close();
  assert.deepEqual(errors, []);
  return { mounts, dirs };
}

describe('request URLs', () => {
  const cases = [
    {
      name: 'direct route, no parameters, nothing stored: no context, no header',
      url: '/plugin_disks',
      mounts: '/plugin_disks?action=mounts&detail=1', dirs: '/plugin_disks?action=dirs&root=workspace&detail=1', header: undefined,
    },
    {
      name: 'hub route with plugin, node and id',
      url: '/plugins?plugin=disks&node=alpha&id=7',
      mounts: '/plugins?plugin=disks&action=mounts&node=alpha&id=7&detail=1',
      dirs: '/plugins?plugin=disks&action=dirs&node=alpha&id=7&root=workspace&detail=1', header: undefined,
    },
    {
      name: 'hub route reached through the embedded hub URL keeps its own parameters only',
      url: '/plugins?plugin=disks&embed=1&theme=dark&node=n1',
      mounts: '/plugins?plugin=disks&action=mounts&node=n1&detail=1',
      dirs: '/plugins?plugin=disks&action=dirs&node=n1&root=workspace&detail=1', header: undefined,
    },
    {
      name: 'values with a space, "&", "+", "%" and "/" are percent-encoded',
      url: '/plugins?plugin=disks&node=a%20b&id=x%26y%2Bz%25%2F',
      mounts: '/plugins?plugin=disks&action=mounts&node=a%20b&id=x%26y%2Bz%25%2F&detail=1',
      dirs: '/plugins?plugin=disks&action=dirs&node=a%20b&id=x%26y%2Bz%25%2F&root=workspace&detail=1', header: undefined,
    },
    {
      name: 'a "+" in the page URL is a space (standard query decoding)',
      url: '/plugin_disks?node=a+b',
      mounts: '/plugin_disks?action=mounts&node=a%20b&detail=1', dirs: '/plugin_disks?action=dirs&node=a%20b&root=workspace&detail=1',
      header: undefined,
    },
    {
      name: 'repeated parameters: the first counts; empty ones are absent',
      url: '/plugin_disks?node=first&node=second&id=&pwd=',
      mounts: '/plugin_disks?action=mounts&node=first&detail=1', dirs: '/plugin_disks?action=dirs&node=first&root=workspace&detail=1',
      header: undefined,
    },
    {
      name: 'pwd parameter: sent as pwd after node and id, and as the header',
      url: '/plugin_disks?pwd=s%26cret%20x&id=9&node=n',
      mounts: '/plugin_disks?action=mounts&node=n&id=9&pwd=s%26cret%20x&detail=1',
      dirs: '/plugin_disks?action=dirs&node=n&id=9&pwd=s%26cret%20x&root=workspace&detail=1', header: 's&cret x',
    },
    {
      name: 'the pwd parameter wins over both stored passwords',
      url: '/plugin_disks?node=alpha&pwd=param', stored: { zem_pwd_alpha: 'pernode', zem_active_pwd: 'active' },
      mounts: '/plugin_disks?action=mounts&node=alpha&pwd=param&detail=1',
      dirs: '/plugin_disks?action=dirs&node=alpha&pwd=param&root=workspace&detail=1', header: 'param',
    },
    {
      name: 'the per-node stored password wins over the active one',
      url: '/plugins?plugin=disks&node=alpha', stored: { zem_pwd_alpha: 'pernode', zem_active_pwd: 'active' },
      mounts: '/plugins?plugin=disks&action=mounts&node=alpha&pwd=pernode&detail=1',
      dirs: '/plugins?plugin=disks&action=dirs&node=alpha&pwd=pernode&root=workspace&detail=1', header: 'pernode',
    },
    {
      name: 'another node\'s stored password is not used: the active one is',
      url: '/plugin_disks?node=beta', stored: { zem_pwd_alpha: 'pernode', zem_active_pwd: 'active' },
      mounts: '/plugin_disks?action=mounts&node=beta&pwd=active&detail=1',
      dirs: '/plugin_disks?action=dirs&node=beta&pwd=active&root=workspace&detail=1', header: 'active',
    },
    {
      name: 'without a node the per-node password is not looked at',
      url: '/plugin_disks', stored: { zem_pwd_: 'nonode', zem_active_pwd: 'active' },
      mounts: '/plugin_disks?action=mounts&pwd=active&detail=1', dirs: '/plugin_disks?action=dirs&pwd=active&root=workspace&detail=1',
      header: 'active',
    },
    {
      name: 'an empty per-node password falls through to the active one',
      url: '/plugin_disks?node=alpha', stored: { zem_pwd_alpha: '', zem_active_pwd: 'a+b%c&d' },
      mounts: '/plugin_disks?action=mounts&node=alpha&pwd=a%2Bb%25c%26d&detail=1',
      dirs: '/plugin_disks?action=dirs&node=alpha&pwd=a%2Bb%25c%26d&root=workspace&detail=1', header: 'a+b%c&d',
    },
    {
      name: 'a password that cannot be a header value goes as the pwd parameter alone',
      url: '/plugin_disks?pwd=%E2%82%AC%20ok',
      mounts: '/plugin_disks?action=mounts&pwd=%E2%82%AC%20ok&detail=1',
      dirs: '/plugin_disks?action=dirs&pwd=%E2%82%AC%20ok&root=workspace&detail=1', header: undefined,
    },
    {
      name: 'storage refused while looking up the password: taken as absent',
      url: '/plugin_disks?node=alpha',
      init: () => {
        Storage.prototype.getItem = function () { throw new DOMException('refused', 'SecurityError'); };
      },
      mounts: '/plugin_disks?action=mounts&node=alpha&detail=1', dirs: '/plugin_disks?action=dirs&node=alpha&root=workspace&detail=1',
      header: undefined,
    },
  ];
  for (const c of cases) {
    it(c.name, async () => {
      const { mounts, dirs } = await firstRequests(c);
      assert.equal(mounts.length, 1);
      assert.equal(mounts[0].path, c.mounts);
      assert.equal(dirs[0].path, c.dirs);
      for (const r of [mounts[0], dirs[0]]) assert.equal(r.headers['x-zem-password'], c.header);
    });
  }
});

describe('folder fallback from workspace to home', () => {
  it('asks for home once after root_unavailable, highlights HOME, and again after a click', async () => {
    const context = await browser.newContext();
    const page = await context.newPage();
    const log = h.logRequests(page);
    await page.goto(h.HOST_URL + '/plugin_disks?node=n');
    await h.waitText(page, '#dirNote', /entries/);
    const roots = () => log.filter((r) => r.action === 'dirs').map((r) => new URL(h.HOST_URL + r.path).searchParams.get('root'));
    assert.deepEqual(roots(), ['workspace', 'home']);
    assert.equal(log[log.length - 1].path, '/plugin_disks?action=dirs&node=n&root=home&detail=1');
    const onButtons = () => page.$$eval('#segRoot button', (bs) => bs.map((b) => b.getAttribute('data-root') + ':' + b.className));
    assert.deepEqual(await onButtons(), ['workspace:', 'home:on']);

    await page.evaluate(() => { document.getElementById('dirNote').textContent = ''; });
    await page.click('#segRoot button[data-root="workspace"]');
    await h.waitText(page, '#dirNote', /entries/);
    assert.deepEqual(roots(), ['workspace', 'home', 'workspace', 'home']);
    assert.deepEqual(await onButtons(), ['workspace:', 'home:on']);
    // A root click does not refresh the drives.
    assert.equal(log.filter((r) => r.action === 'mounts').length, 1);
    await context.close();
  });

  it('falls back at most once per call: home refused too ends in "unavailable"', async () => {
    const context = await browser.newContext();
    const page = await context.newPage();
    await h.serveReplies(page, h.mountsReply([]), (url) => ({
      ok: false, error: 'root_unavailable', allowed_roots: ['workspace', 'home'],
      requested: new URL(url).searchParams.get('root'), message: 'this root does not exist on this node',
    }));
    const log = h.logRequests(page);
    await page.goto(h.HOST_URL + '/plugin_disks');
    await h.waitText(page, '#dirNote', 'unavailable: root_unavailable');
    assert.deepEqual(log.filter((r) => r.action === 'dirs').map((r) => r.path),
      ['/plugin_disks?action=dirs&root=workspace&detail=1', '/plugin_disks?action=dirs&root=home&detail=1']);
    assert.equal(await page.$eval('#dirEmpty', (e) => e.classList.contains('hide')), false);
    await context.close();
  });

  it('a root that is simply refused is not retried', async () => {
    const context = await browser.newContext();
    const page = await context.newPage();
    await h.serveReplies(page, h.mountsReply([]), { ok: false, error: 'root_not_allowed' });
    const log = h.logRequests(page);
    await page.goto(h.HOST_URL + '/plugin_disks');
    await h.waitText(page, '#dirNote', 'unavailable: root_not_allowed');
    assert.equal(log.filter((r) => r.action === 'dirs').length, 1);
    assert.deepEqual(await page.$$eval('#segRoot button', (bs) => bs.map((b) => b.className)), ['on', '']);
    await context.close();
  });
});
