// Styling: the theme variables of both themes, the cascade, the light theme
// without scripts, the 560 px layout and reduced motion.
'use strict';
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

let browser;
before(async () => { browser = await h.launch(); });
after(async () => { await browser.close(); });

// name, dark value, light value (null: the dark value in both)
const VARS = [
  ['--bg', '#000000', '#f5f5f7'], ['--bg-2', '#08080a', '#ffffff'], ['--bg-card', '#1c1c1e', '#ffffff'],
  ['--surface-2', 'rgba(255,255,255,.06)', 'rgba(0,0,0,.04)'], ['--surface-hover', 'rgba(255,255,255,.05)', '#ffffff'],
  ['--line', 'rgba(255,255,255,.08)', 'rgba(0,0,0,.06)'], ['--line-2', 'rgba(255,255,255,.16)', 'rgba(0,0,0,.12)'],
  ['--border', 'rgba(255,255,255,.08)', 'rgba(0,0,0,.06)'], ['--text', '#f5f5f7', '#1d1d1f'],
  ['--text-2', '#86868b', '#6e6e73'], ['--dim', '#86868b', '#6e6e73'], ['--blue', '#0a84ff', '#007aff'],
  ['--green', '#30d158', '#34c759'], ['--orange', '#ff9f0a', '#ff9500'], ['--red', '#ff453a', '#ff3b30'],
  ['--gray', '#8e8e93', '#8e8e93'], ['--indigo', '#5e5ce6', '#5856d6'], ['--teal', '#64d2ff', '#32ade6'],
  ['--purple', '#bf5af2', '#af52de'], ['--yellow', '#ffd60a', '#b8860b'], ['--input-bg', 'rgba(255,255,255,.04)', '#f5f5f7'],
  ['--modal-bg', '#1c1c1e', '#ffffff'], ['--menu-bg', '#1c1c1e', '#ffffff'], ['--code-bg', 'rgba(255,255,255,.06)', 'rgba(0,0,0,.05)'],
  ['--mono', "'SF Mono',ui-monospace,Menlo,Consolas,'DejaVu Sans Mono',monospace", null],
  ['--font', "-apple-system,BlinkMacSystemFont,'SF Pro Display','SF Pro Text','Inter','Segoe UI',Roboto,Helvetica,Arial,sans-serif", null],
  ['--shadow', '0 1px 2px rgba(0,0,0,.35)', '0 2px 10px rgba(0,0,0,.03)'],
  ['--shadow-lg', '0 30px 80px rgba(0,0,0,.65),0 0 0 1px rgba(255,255,255,.04)', '0 30px 80px rgba(0,0,0,.18),0 0 0 1px rgba(0,0,0,.04)'],
  ['--ease', 'cubic-bezier(.16,1,.3,1)', null], ['--accent-dim', '#0071e3', '#0066d6'],
];
const ALIASES = [
  ['--surface', '--bg-card'], ['--surface2', '--surface-2'], ['--muted', '--text-2'], ['--accent', '--blue'],
  ['--accent2', '--green'], ['--danger', '--red'], ['--err', '--red'], ['--warn', '--orange'], ['--ok', '--green'],
];
const norm = (v) => v.replace(/\s+/g, '');

async function openPage(opts, query) {
  const context = await browser.newContext(opts);
  const page = await context.newPage();
  await h.serveReplies(page, h.mountsReply([h.drive({ pct: 42.5 })]), h.dirsReply([h.entry('a', 1), h.entry('b', 2, { is_dir: true })]));
  await page.goto(h.HOST_URL + '/plugin_disks' + (query || ''));
  if (opts.javaScriptEnabled !== false) await h.waitText(page, '#dirNote', /entries/);
  return { context, page };
}
const vars = (page, names) => page.evaluate((ns) => {
  const cs = getComputedStyle(document.documentElement);
  return Object.fromEntries(ns.map((n) => [n, cs.getPropertyValue(n).trim()]));
}, names);

describe('theme variables', () => {
  for (const theme of ['dark', 'light']) {
    it(`every variable and alias in the ${theme} theme`, async () => {
      const { context, page } = await openPage({ colorScheme: theme === 'dark' ? 'light' : 'dark' }, '?theme=' + theme);
      const got = await vars(page, VARS.map((v) => v[0]).concat(ALIASES.map((a) => a[0])));
      for (const [name, dark, light] of VARS) {
        assert.equal(norm(got[name]), norm(theme === 'light' && light !== null ? light : dark), name);
      }
      for (const [alias, target] of ALIASES) assert.equal(got[alias], got[target], alias);
      assert.equal(await page.evaluate(() => getComputedStyle(document.documentElement).colorScheme), theme);
      await context.close();
    });
  }

  for (const scheme of ['light', 'dark']) {
    it(`without scripts, the system preference (${scheme}) gives the theme`, async () => {
      const { context, page } = await openPage({ colorScheme: scheme, javaScriptEnabled: false });
      assert.equal(await page.evaluate(() => document.documentElement.hasAttribute('data-theme')), false);
      const got = await vars(page, ['--bg', '--text', '--surface']);
      assert.deepEqual(got, scheme === 'light' ? { '--bg': '#f5f5f7', '--text': '#1d1d1f', '--surface': '#ffffff' }
        : { '--bg': '#000000', '--text': '#f5f5f7', '--surface': '#1c1c1e' });
      assert.equal(await page.evaluate(() => getComputedStyle(document.documentElement).colorScheme), scheme);
      await context.close();
    });
  }

  it('data-theme="dark" wins over a light system preference', async () => {
    const { context, page } = await openPage({ colorScheme: 'light' }, '?theme=dark');
    assert.equal((await vars(page, ['--bg']))['--bg'], '#000000');
    await context.close();
  });
});

describe('page sheet', () => {
  it('the page sheet wins over the theme sheet for body; components take the variables', async () => {
    const { context, page } = await openPage({ colorScheme: 'light' }, '?theme=light');
    const s = await page.evaluate(() => {
      const cs = (sel) => getComputedStyle(document.querySelector(sel));
      return {
        bodyFont: cs('body').fontFamily, bodyPadding: cs('body').padding, bodySize: cs('body').fontSize,
        bodyBg: cs('body').backgroundColor, cardBg: cs('.card').backgroundColor, bar: cs('.bar').backgroundColor,
        fill: cs('.bar .fill').backgroundColor, on: cs('#segRate button.on').backgroundColor,
        h2: [cs('.card h2').textTransform, cs('.card h2').fontSize], wrap: cs('.wrap').maxWidth,
        kpiV: cs('.kpi .v').fontSize, th: cs('th.hide-sm').display, ghost: cs('#btnRefresh').backgroundColor,
        pad: cs('.card').paddingTop,
      };
    });
    assert.equal(s.bodyFont, '-apple-system, BlinkMacSystemFont, "Segoe UI", sans-serif');
    assert.equal(s.bodyPadding, '16px');
    assert.equal(s.bodySize, '14px');
    assert.equal(s.bodyBg, 'rgb(245, 245, 247)');
    assert.equal(s.cardBg, 'rgb(255, 255, 255)');
    assert.equal(s.bar, 'rgba(255, 255, 255, 0.1)');
    assert.equal(s.fill, 'rgb(52, 199, 89)');
    assert.equal(s.on, 'rgb(0, 122, 255)');
    assert.deepEqual(s.h2, ['uppercase', '12px']);
    assert.equal(s.wrap, '1120px');
    assert.equal(s.kpiV, '19px');
    assert.equal(s.th, 'table-cell');
    assert.equal(s.ghost, 'rgba(0, 0, 0, 0)');
    assert.equal(s.pad, '16px');
    await context.close();
  });

  it('fills animate their width, except with reduced motion', async () => {
    for (const [reducedMotion, property, duration] of [['no-preference', 'width', '0.35s'], ['reduce', 'none', '0s']]) {
      const { context, page } = await openPage({ reducedMotion });
      const t = await page.$eval('.bar .fill', (e) => [getComputedStyle(e).transitionProperty, getComputedStyle(e).transitionDuration]);
      assert.deepEqual(t, [property, duration], reducedMotion);
      await context.close();
    }
  });
});

describe('narrow layout', () => {
  const cases = [
    [560, { type: 'none', body: '12px', card: '12px', kpi: '17px' }],
    [400, { type: 'none', body: '12px', card: '12px', kpi: '17px' }],
    [561, { type: 'table-cell', body: '16px', card: '16px', kpi: '19px' }],
  ];
  for (const [width, want] of cases) {
    it(`${width} px wide: Items, Modified and Type columns ${want.type === 'none' ? 'hidden' : 'shown'}, paddings ${want.body}, tile values ${want.kpi}`, async () => {
      const { context, page } = await openPage({ viewport: { width, height: 800 } });
      const got = await page.evaluate(() => {
        const cs = (e) => getComputedStyle(e);
        const types = [...document.querySelectorAll('th.hide-sm, td.hide-sm')].map((e) => cs(e).display);
        return {
          types: [...new Set(types)], count: types.length, body: cs(document.body).paddingLeft,
          card: cs(document.querySelector('.card')).paddingLeft, kpi: cs(document.querySelector('.kpi .v')).fontSize,
          wide: document.documentElement.scrollWidth <= window.innerWidth,
        };
      });
      // Three headings and two rows of three cells in the folder table, and
      // the Modified heading of the largest files.
      assert.deepEqual(got, { types: [want.type], count: 10, body: want.body, card: want.card, kpi: want.kpi, wide: true });
      await context.close();
    });
  }
});
