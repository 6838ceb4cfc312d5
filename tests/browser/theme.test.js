// Theme: first paint from URL, storage and system preference; the embedded
// class; the bridge (messages, qvApplyTheme, qvTheme, the event), the one
// "qv-theme-request" when framed, the late re-read, and the hub page.
'use strict';
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

let browser;
before(async () => { browser = await h.launch(); });
after(async () => { await browser.close(); });

async function openTop(query, { scheme, stored, init } = {}) {
  const context = await browser.newContext({ colorScheme: scheme || 'dark' });
  await context.addInitScript(h.INSTRUMENT);
  if (stored !== undefined) await context.addInitScript((v) => localStorage.setItem('zem_theme', v), stored);
  if (init) await context.addInitScript(init);
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  await page.goto(h.HOST_URL + '/plugin_disks' + query);
  await h.waitText(page, '#pState', /paused|error/);
  return { context, page, errors };
}
const themeOf = (target) => target.evaluate(() => document.documentElement.getAttribute('data-theme'));
const storedTheme = (target) => target.evaluate(() => localStorage.getItem('zem_theme'));

describe('first-paint theme', () => {
  const cases = [
    { query: '?theme=light', stored: 'dark', scheme: 'dark', theme: 'light' },
    { query: '?theme=dark', stored: 'light', scheme: 'light', theme: 'dark' },
    { query: '?a=1&theme=dark', scheme: 'light', theme: 'dark' },
    { query: '?theme=Light', stored: 'dark', scheme: 'light', theme: 'dark' },
    { query: '?theme=Light', scheme: 'light', theme: 'light' },
    { query: '?theme=lightish', stored: 'dark', scheme: 'dark', theme: 'light' },
    { query: '?xtheme=light', scheme: 'dark', theme: 'dark' },
    { query: '', stored: 'light', scheme: 'dark', theme: 'light' },
    { query: '', stored: 'dark', scheme: 'light', theme: 'dark' },
    { query: '', stored: 'blue', scheme: 'light', theme: 'light' },
    { query: '', stored: 'blue', scheme: 'dark', theme: 'dark' },
    { query: '', scheme: 'light', theme: 'light' },
    { query: '', scheme: 'dark', theme: 'dark' },
    {
      name: 'no matchMedia and nothing else: dark', query: '', scheme: 'light', theme: 'dark',
      init: () => { Object.defineProperty(window, 'matchMedia', { value: undefined, configurable: true, writable: true }); },
    },
    {
      name: 'storage refused: the system decides, nothing breaks', query: '', scheme: 'light', theme: 'light',
      init: () => {
        Storage.prototype.getItem = function () { throw new DOMException('refused', 'SecurityError'); };
        Storage.prototype.setItem = function () { throw new DOMException('refused', 'SecurityError'); };
      },
      noStore: true,
    },
  ];
  for (const c of cases) {
    const name = c.name || `query "${c.query}", stored ${c.stored === undefined ? 'nothing' : '"' + c.stored + '"'}, ` +
      `system ${c.scheme}: ${c.theme}, and it is stored`;
    it(name, async () => {
      const { context, page, errors } = await openTop(c.query, c);
      assert.equal(await themeOf(page), c.theme);
      if (!c.noStore) assert.equal(await storedTheme(page), c.theme);
      assert.equal(await page.evaluate(() => window.qvTheme()), c.theme);
      assert.deepEqual(await page.evaluate(() => window.__events), []);
      assert.deepEqual(errors, []);
      await context.close();
    });
  }

  it('the late re-read follows a theme stored after the first paint, without storing or an event', async () => {
    // The first read of "zem_theme" (the first-paint script) sees "dark";
    // every later read (the client script's) sees "light".
    const { context, page } = await openTop('', {
      scheme: 'dark',
      init: () => {
        const get = Storage.prototype.getItem;
        let reads = 0;
        window.__rawGet = (k) => get.call(localStorage, k);
        Storage.prototype.getItem = function (k) {
          if (k === 'zem_theme') return ++reads === 1 ? 'dark' : 'light';
          return get.call(this, k);
        };
      },
    });
    assert.equal(await themeOf(page), 'light');
    assert.equal(await page.evaluate(() => window.__rawGet('zem_theme')), 'dark');
    assert.deepEqual(await page.evaluate(() => window.__events), []);
    await context.close();
  });
});

describe('embedded class and direct-open line', () => {
  const cases = [
    ['', false, true], ['?embed=1', true, false], ['?a=b&embed=true&c=d', true, false],
    ['?node=alpha&embed=true', true, false], ['?embed=10', false, false], ['?embed=1x', false, false],
    ['?xembed=1', false, false], ['?embed=0', false, true], ['?embed=yes', false, true], ['?embed=TRUE', false, true],
  ];
  for (const [query, embedded, direct] of cases) {
    it(`query "${query}": class embedded ${embedded ? 'set' : 'absent'}, direct-open line ${direct ? 'shown' : 'absent'}`, async () => {
      const { context, page } = await openTop(query);
      assert.equal(await page.evaluate(() => document.documentElement.classList.contains('embedded')), embedded);
      assert.equal(await page.$$eval('.wrap > div.sub', (ds) => ds.filter((d) => d.textContent === 'Opened directly from the node API.').length),
        direct ? 1 : 0);
      await context.close();
    });
  }
});

describe('theme bridge at the top level', () => {
  let context, page;
  before(async () => { ({ context, page } = await openTop('?theme=dark')); });
  after(async () => { await context.close(); });

  // Posts messages to the page itself, then a marker; once the marker is
  // seen every earlier message has been handled.
  async function post(...msgs) {
    const marker = 'm' + Math.random();
    await page.evaluate(({ msgs, marker }) => {
      for (const m of msgs) window.postMessage(m, '*');
      window.postMessage({ type: 'marker', id: marker }, '*');
    }, { msgs, marker });
    await h.waitFor(page, (id) => window.__msgs.some((m) => m && m.id === id), marker);
  }

  it('posts no "qv-theme-request" when not framed', async () => {
    assert.deepEqual(await page.evaluate(() => window.__msgs.filter((m) => m && m.type === 'qv-theme-request')), []);
  });

  it('a "qv-theme" message switches the theme once, stores it and sends one event', async () => {
    await post({ type: 'qv-theme', theme: 'light' });
    assert.equal(await themeOf(page), 'light');
    assert.equal(await storedTheme(page), 'light');
    assert.deepEqual(await page.evaluate(() => window.__events), ['light']);
    await post({ type: 'qv-theme', theme: 'light' });
    assert.deepEqual(await page.evaluate(() => window.__events), ['light']);
  });

  const ignored = [
    ['theme "blue"', { type: 'qv-theme', theme: 'blue' }], ['no theme', { type: 'qv-theme' }],
    ['another type', { type: 'qv-other', theme: 'dark' }], ['a string', 'qv-theme'], ['null', null],
    ['theme "Dark"', { type: 'qv-theme', theme: 'Dark' }],
  ];
  for (const [name, msg] of ignored) {
    it(`a message with ${name} changes nothing`, async () => {
      const before = await page.evaluate(() => [document.documentElement.getAttribute('data-theme'), window.__events.length]);
      await post(msg);
      assert.deepEqual(await page.evaluate(() => [document.documentElement.getAttribute('data-theme'), window.__events.length]), before);
    });
  }

  it('qvApplyTheme applies, stores and announces; ignores the theme in force and other values', async () => {
    await page.evaluate(() => { window.__events.length = 0; window.qvApplyTheme('dark'); });
    assert.equal(await themeOf(page), 'dark');
    assert.equal(await storedTheme(page), 'dark');
    await page.evaluate(() => { window.qvApplyTheme('dark'); window.qvApplyTheme('sepia'); window.qvApplyTheme(); });
    assert.deepEqual(await page.evaluate(() => window.__events), ['dark']);
  });

  it('qvTheme answers "dark" for a missing or unknown data-theme', async () => {
    assert.deepEqual(await page.evaluate(() => {
      const r = document.documentElement, out = [window.qvTheme()];
      r.setAttribute('data-theme', 'light'); out.push(window.qvTheme());
      r.removeAttribute('data-theme'); out.push(window.qvTheme());
      r.setAttribute('data-theme', 'solarized'); out.push(window.qvTheme());
      r.setAttribute('data-theme', 'dark');
      return out;
    }), ['dark', 'light', 'dark', 'dark']);
  });

  it('publishes only the two theme functions on the window', async () => {
    const names = await page.evaluate(() => ['HUB', 'ROOT', 'BUSY', 'RATE', 'TIMER', 'poll', 'bytes', 'renderMounts', 'loadDirs',
      'schedule', 'apply', 'qvApplyTheme', 'qvTheme'].filter((n) => n in window));
    assert.deepEqual(names, ['qvApplyTheme', 'qvTheme']);
  });
});

describe('hub page (framed dashboard)', () => {
  let context, page, frame;
  const log = [];
  before(async () => {
    context = await browser.newContext({ colorScheme: 'light' });
    await context.addInitScript(h.INSTRUMENT);
    page = await context.newPage();
    page.on('request', (r) => { if (h.actionOf(r.url())) log.push(new URL(r.url()).pathname + new URL(r.url()).search); });
    await page.goto(h.HOST_URL + '/hub?theme=dark');
    await h.waitFor(page, () => !!document.getElementById('frame').contentWindow.document.getElementById('kCount'));
    frame = page.frames().find((f) => f !== page.mainFrame());
    await h.waitText(frame, '#pPlatform', 'linux');
    await h.waitText(frame, '#dirNote', /entries/);
  });
  after(async () => { await context.close(); });

  it('frames the page embedded, through the hub route', async () => {
    assert.match(frame.url(), /\/plugins\?plugin=disks&embed=1&node=local&theme=dark$/);
    assert.equal(await frame.evaluate(() => document.documentElement.classList.contains('embedded')), true);
    assert.equal(await frame.$$eval('.wrap > div.sub', (d) => d.filter((x) => /Opened directly/.test(x.textContent)).length), 0);
    assert.ok(log.includes('/plugins?plugin=disks&action=mounts&node=local&detail=1'));
    assert.ok(log.includes('/plugins?plugin=disks&action=dirs&node=local&root=home&detail=1'));
  });

  it('the frame asks once and the hub answers with its theme', async () => {
    await h.waitFor(frame, () => window.__msgs.some((m) => m && m.type === 'qv-theme'));
    assert.deepEqual(await page.evaluate(() => window.__msgs.filter((m) => m && m.type === 'qv-theme-request')),
      [{ type: 'qv-theme-request' }]);
    assert.deepEqual(await frame.evaluate(() => window.__msgs.filter((m) => m && m.type === 'qv-theme')),
      [{ type: 'qv-theme', theme: 'dark' }]);
    assert.equal(await themeOf(frame), 'dark');
    assert.deepEqual(await frame.evaluate(() => window.__events), []);
  });

  it('the switch turns the frame light, then dark: one event each, stored', async () => {
    await page.click('#hubTheme');
    await h.waitFor(frame, () => window.__msgs.filter((m) => m && m.type === 'qv-theme').length === 2);
    assert.equal(await themeOf(page), 'light');
    assert.equal(await themeOf(frame), 'light');
    assert.equal(await storedTheme(frame), 'light');
    assert.deepEqual(await frame.evaluate(() => window.__events), ['light']);
    await page.click('#hubTheme');
    await h.waitFor(frame, () => window.__msgs.filter((m) => m && m.type === 'qv-theme').length === 3);
    assert.equal(await themeOf(frame), 'dark');
    assert.equal(await storedTheme(page), 'dark');
    assert.deepEqual(await frame.evaluate(() => window.__events), ['light', 'dark']);
  });

  it('the hub can call qvApplyTheme on the frame directly', async () => {
    await page.evaluate(() => document.getElementById('frame').contentWindow.qvApplyTheme('light'));
    assert.equal(await themeOf(frame), 'light');
    assert.deepEqual(await frame.evaluate(() => window.__events), ['light', 'dark', 'light']);
  });

  it('a hub message alone (no function call) is enough', async () => {
    await page.evaluate(() => document.getElementById('frame').contentWindow.postMessage({ type: 'qv-theme', theme: 'dark' }, '*'));
    await h.waitFor(frame, () => document.documentElement.getAttribute('data-theme') === 'dark');
    assert.deepEqual(await frame.evaluate(() => window.__events), ['light', 'dark', 'light', 'dark']);
  });
});
