// Controls and timers: the rate buttons, Refresh, BUSY, the state pill and
// the root buttons. Timers run on Playwright's clock (page.clock), never on
// real waiting; replies are intercepted so that they can be held.
'use strict';
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

let browser;
before(async () => { browser = await h.launch(); });
after(async () => { await browser.close(); });

// A page on a fake clock whose drives replies carry a running pid (so that
// each drawn reply can be waited for) and can be held back.
async function openClocked() {
  const context = await browser.newContext();
  await context.addInitScript(h.INSTRUMENT);
  const page = await context.newPage();
  await page.clock.install({ time: new Date('2026-01-01T00:00:00Z') });
  const state = { served: 0, hold: false, held: [] };
  await page.route(h.isAction('mounts'), async (route) => {
    if (state.hold) await new Promise((r) => state.held.push(r));
    state.served++;
    await h.json(route, h.mountsReply([h.drive()], { pid: state.served }));
  });
  await page.route(h.isAction('dirs'), (route) => h.json(route, h.dirsReply([h.entry('x', 1)])));
  await page.goto(h.HOST_URL + '/plugin_disks');
  await h.waitText(page, '#nodeLine', /pid 1 /);
  // From here on the page's time moves only when the test moves it.
  await page.clock.pauseAt(new Date('2026-01-01T00:10:00Z'));
  // BUSY is cleared right after the drawing; the next poll is free once the
  // state of the page has settled, which a round trip makes sure of.
  const drawn = async (n) => { await h.waitText(page, '#nodeLine', new RegExp('pid ' + n + ' ')); await page.evaluate(() => 0); };
  const counts = async () => ({ mounts: await h.fetchCount(page, 'mounts'), dirs: await h.fetchCount(page, 'dirs') });
  const pill = () => page.$eval('#pState', (e) => [e.textContent, e.className]);
  const rateOn = () => page.$$eval('#segRate button', (bs) => bs.filter((b) => b.classList.contains('on')).map((b) => b.textContent));
  return { context, page, state, drawn, counts, pill, rateOn };
}

describe('start-up', () => {
  it('polls once and shows "paused" at once, before any reply', async () => {
    const context = await browser.newContext();
    await context.addInitScript(h.INSTRUMENT);
    const page = await context.newPage();
    let release;
    const gate = new Promise((r) => { release = r; });
    await page.route(h.isAction('mounts'), async (route) => { await gate; await h.json(route, h.mountsReply([])); });
    await page.route(h.isAction('dirs'), async (route) => { await gate; await h.json(route, h.dirsReply([])); });
    await page.goto(h.HOST_URL + '/plugin_disks');
    assert.deepEqual(await page.$eval('#pState', (e) => [e.textContent, e.className]), ['paused', 'pill']);
    assert.equal(await h.textOf(page, '#pPlatform'), h.DASH);
    assert.equal(await h.textOf(page, '#kCount'), h.DASH);
    assert.equal(await h.fetchCount(page, 'mounts'), 1);
    assert.equal(await h.fetchCount(page, 'dirs'), 1);
    release();
    await h.waitText(page, '#pPlatform', 'testos');
    await context.close();
  });
});

describe('rate buttons on the clock', () => {
  let t;
  before(async () => { t = await openClocked(); });
  after(async () => { await t.context.close(); });

  it('starts paused with one poll', async () => {
    assert.deepEqual(await t.pill(), ['paused', 'pill']);
    assert.deepEqual(await t.rateOn(), ['Paused']);
    assert.deepEqual(await t.counts(), { mounts: 1, dirs: 1 });
  });

  it('"5s" polls at once, then every 5000 ms', async () => {
    await t.page.click('#segRate button[data-ms="5000"]');
    assert.deepEqual(await t.pill(), ['live 5s', 'pill live']);
    assert.deepEqual(await t.rateOn(), ['5s']);
    assert.deepEqual(await t.counts(), { mounts: 2, dirs: 2 });
    await t.drawn(2);
    await t.page.clock.runFor(4999);
    assert.deepEqual(await t.counts(), { mounts: 2, dirs: 2 });
    await t.page.clock.runFor(1);
    assert.deepEqual(await t.counts(), { mounts: 3, dirs: 3 });
    await t.drawn(3);
    await t.page.clock.runFor(5000);
    assert.deepEqual(await t.counts(), { mounts: 4, dirs: 4 });
    await t.drawn(4);
  });

  it('"15s" restarts the timer: polls at once, then every 15000 ms', async () => {
    await t.page.clock.runFor(2000);
    await t.page.click('#segRate button[data-ms="15000"]');
    assert.deepEqual(await t.pill(), ['live 15s', 'pill live']);
    assert.deepEqual(await t.rateOn(), ['15s']);
    assert.deepEqual(await t.counts(), { mounts: 5, dirs: 5 });
    await t.drawn(5);
    await t.page.clock.runFor(14999);
    assert.deepEqual(await t.counts(), { mounts: 5, dirs: 5 });
    await t.page.clock.runFor(1);
    assert.deepEqual(await t.counts(), { mounts: 6, dirs: 6 });
    await t.drawn(6);
  });

  it('while a drives reply is held, ticks and Refresh do nothing at all', async () => {
    t.state.hold = true;
    await t.page.clock.runFor(15000);
    assert.deepEqual(await t.counts(), { mounts: 7, dirs: 7 });
    await t.page.clock.runFor(15000);
    await t.page.click('#btnRefresh');
    await t.page.click('#btnRefresh');
    assert.deepEqual(await t.counts(), { mounts: 7, dirs: 7 });
    t.state.hold = false;
    t.state.held.forEach((r) => r());
    await t.drawn(7);
    await t.page.click('#btnRefresh');
    assert.deepEqual(await t.counts(), { mounts: 8, dirs: 8 });
    await t.drawn(8);
  });

  it('"Paused" stops the timer without polling', async () => {
    await t.page.click('#segRate button[data-ms="0"]');
    assert.deepEqual(await t.pill(), ['paused', 'pill']);
    assert.deepEqual(await t.rateOn(), ['Paused']);
    assert.deepEqual(await t.counts(), { mounts: 8, dirs: 8 });
    await t.page.clock.runFor(60000);
    assert.deepEqual(await t.counts(), { mounts: 8, dirs: 8 });
  });
});

describe('Refresh and BUSY', () => {
  it('two quick Refresh clicks send one drives and one folders request', async () => {
    const t = await openClocked();
    await t.page.evaluate(() => { const b = document.getElementById('btnRefresh'); b.click(); b.click(); });
    assert.deepEqual(await t.counts(), { mounts: 2, dirs: 2 });
    await t.drawn(2);
    await t.page.click('#btnRefresh');
    assert.deepEqual(await t.counts(), { mounts: 3, dirs: 3 });
    await t.context.close();
  });

  it('"error" stays on the pill until the next rate click; the last drawing stays', async () => {
    const context = await browser.newContext();
    await context.addInitScript(h.INSTRUMENT);
    const page = await context.newPage();
    await page.clock.install();
    let fail = false;
    await page.route(h.isAction('mounts'), (route) => (fail ? route.abort('connectionrefused')
      : h.json(route, h.mountsReply([h.drive({ mount: '/kept' })], { count: 1 }))));
    await page.route(h.isAction('dirs'), (route) => h.json(route, h.dirsReply([h.entry('kept-row', 1)])));
    await page.goto(h.HOST_URL + '/plugin_disks');
    await h.waitText(page, '#kFull', '/kept 56%');
    await h.waitText(page, '#dirNote', /entries/);
    fail = true;
    await page.click('#btnRefresh');
    await h.waitText(page, '#pState', 'error');
    assert.equal(await page.$eval('#pState', (e) => e.className), 'pill');
    assert.equal(await h.textOf(page, '#kFull'), '/kept 56%');
    assert.equal(await h.textOf(page, '#kCount'), '1');
    assert.equal(await page.$$eval('#mounts .mnt', (e) => e.length), 1);
    assert.equal(await h.textOf(page, '#pPlatform'), 'testos');
    assert.match(await h.textOf(page, '#nodeLine'), /^plugin plugin_disks/);
    // A later success does not clear "error" ...
    fail = false;
    await page.evaluate(() => { document.getElementById('kFull').textContent = 'x'; });
    await page.click('#btnRefresh');
    await h.waitText(page, '#kFull', '/kept 56%');
    assert.equal(await h.textOf(page, '#pState'), 'error');
    // ... the next rate click does.
    await page.click('#segRate button[data-ms="5000"]');
    assert.deepEqual(await page.$eval('#pState', (e) => [e.textContent, e.className]), ['live 5s', 'pill live']);
    await context.close();
  });
});

describe('root buttons', () => {
  it('HOME asks for home only; the drives are not refreshed', async () => {
    const t = await openClocked();
    await t.page.click('#segRoot button[data-root="home"]');
    assert.deepEqual(await t.counts(), { mounts: 1, dirs: 2 });
    const last = await t.page.evaluate(() => window.__fetches[window.__fetches.length - 1].url);
    assert.equal(last, '/plugin_disks?action=dirs&root=home&detail=1');
    assert.deepEqual(await t.page.$$eval('#segRoot button', (bs) => bs.map((b) => b.className)), ['', 'on']);
    await t.context.close();
  });

  it('a folders reply that arrives after another root was chosen is not drawn', async () => {
    const context = await browser.newContext();
    await context.addInitScript(h.INSTRUMENT);
    const page = await context.newPage();
    let releaseWorkspace;
    const workspaceHeld = new Promise((r) => { releaseWorkspace = r; });
    await page.route(h.isAction('mounts'), (route) => h.json(route, h.mountsReply([])));
    await page.route(h.isAction('dirs'), async (route) => {
      const root = new URL(route.request().url()).searchParams.get('root');
      if (root === 'workspace') {
        await workspaceHeld;
        return h.json(route, h.dirsReply([h.entry('from-workspace', 1)], { root: '/workspace' }));
      }
      return h.json(route, h.dirsReply([h.entry('from-home', 1)], { root: '/home/t' }));
    });
    const settled = page.waitForResponse((r) => h.actionOf(r.url()) === 'dirs' && r.url().endsWith('root=workspace&detail=1'));
    await page.goto(h.HOST_URL + '/plugin_disks');
    await page.click('#segRoot button[data-root="home"]');
    await h.waitText(page, '#dirNote', /^\/home\/t/);
    releaseWorkspace();
    await settled;
    await page.evaluate(() => new Promise((r) => setTimeout(r, 50)));
    assert.deepEqual(await page.$$eval('#rows td.nm', (tds) => tds.map((td) => td.textContent)), ['from-home']);
    assert.match(await h.textOf(page, '#dirNote'), /^\/home\/t/);
    assert.equal(await h.fetchCount(page, 'dirs'), 2);
    await context.close();
  });
});
