// The views beside the map: By type (a bar per type, the filter of the
// Largest files card) and By age (one bar in bands, the words for what has
// not changed for over a year). Against the real plugin (a host of its own
// over a home of files of many types and set times) in both themes, at a
// wide, a tablet and a phone width; partial and unsure rows through
// intercepted replies.
'use strict';
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const h = require('./helpers');

const KB = 1024;
const MB = 1024 * KB;
const DAY = 86400 * 1000;
const GE = '\u2265 ';
const BAND_NAMES = ['under a day', 'a day to a week', 'a week to a month', 'a month to a year', 'over a year', 'time not told'];

let browser, host, home;
// A file of size bytes of data, last changed days ago.
function put(rel, size, days) {
  const file = h.putFile(home, rel, size, true);
  const t = new Date(Date.now() - days * DAY);
  fs.utimesSync(file, t, t);
}
before(async () => {
  browser = await h.launch();
  home = fs.mkdtempSync(path.join(process.env.BROWSER_TMP || os.tmpdir(), 'kinds-home-'));
  put('media/film.MKV', 3 * MB, 800);
  put('media/clip.mp4', MB, 40);
  put('media/trailer.mp4', 256 * KB, 0.1);
  put('docs/report.pdf', 512 * KB, 3);
  put('docs/notes.txt', 40 * KB, 0.2);
  put('docs/old.txt', 60 * KB, 400);
  put('.bashrc', 4 * KB, 10);
  put('README', 8 * KB, 2);
  // Fourteen small types more: the twelve largest types leave some over.
  for (let i = 0; i < 14; i++) put(`misc/f.t${String(i).padStart(2, '0')}`, (i + 1) * KB, 0.5);
  host = await h.startHost(['--plugin', h.PLUGIN, '--home', home]);
});
after(async () => {
  await browser.close();
  await host.stop();
  fs.rmSync(home, { recursive: true, force: true });
});

async function shows(target, sub) {
  await h.waitFor(target, () => /entries/.test(document.getElementById('dirNote').textContent) &&
    !document.getElementById('kinds').hidden && !document.getElementById('largest').hidden, sub);
}
const open = (theme, viewport) => h.openDashboard(browser, host, shows, theme, '', viewport);
const share = (p) => (p >= 9.95 ? p.toFixed(0) : p.toFixed(1)) + '%';
const kindName = (t) => (t === null ? 'others' : t === '' ? 'no extension' : '.' + t);
const typeOf = (name) => {
  const i = name.lastIndexOf('.'), ext = name.slice(i + 1);
  return i <= 0 || !ext ? '' : ext.toLowerCase();
};
// The type rows as drawn: the visible name, the figures, the bar's width
// in per cent of its track, whether pressed, and the accessible name.
const typeRows = (page) => page.$$eval('#kinds .krow', (bs) => bs.map((b) => ({
  name: b.querySelector('.kname').textContent,
  figs: [...b.querySelector('.kfig').childNodes].filter((n) => !(n.classList && n.classList.contains('sr')))
    .map((n) => n.textContent).join(' '),
  bar: b.querySelector('.kbar .fill').getBoundingClientRect().width / b.querySelector('.kbar').getBoundingClientRect().width * 100,
  pressed: b.getAttribute('aria-pressed'),
  label: b.textContent,
})));
const largestNames = (page) => page.$$eval('#lgRows tr td:first-child', (tds) => tds.map((td) => td.firstChild.textContent));

for (const theme of ['light', 'dark']) {
  describe(`files by type and by age, ${theme} theme`, () => {
    it('By type: a row per type of the reply, largest on disk first, then the others, each with its bar', async () => {
      const { context, page, errors, reply } = await open(theme);
      const d = await reply('');
      assert.equal(d.types.length, 13, 'twelve types and the others');
      assert.equal(d.types[12].type, null);
      assert.deepEqual(d.types.slice(0, 3).map((r) => r.type), ['mkv', 'mp4', 'pdf']);
      const rows = await typeRows(page);
      assert.equal(rows.length, d.types.length);
      d.types.forEach((r, i) => {
        const p = r.disk_bytes / d.files_disk_bytes * 100;
        assert.equal(rows[i].name, kindName(r.type));
        assert.equal(rows[i].figs, `${h.bytes(r.disk_bytes)} ${share(p)} ${r.files} file${r.files === 1 ? '' : 's'}`);
        assert.ok(Math.abs(rows[i].bar - p) < 1, `${rows[i].name}: bar ${rows[i].bar} for ${p}`);
        assert.equal(rows[i].pressed, 'false');
        // Read whole by a screen reader: type, size on disk, share, count.
        assert.equal(rows[i].label, `${kindName(r.type)}: ${h.bytes(r.disk_bytes)} on disk, ${share(p)}, ${r.files} file${r.files === 1 ? '' : 's'}`);
      });
      assert.equal(await page.getByRole('region', { name: 'By type' }).count(), 1);
      assert.equal(await page.isHidden('#kinds .kwhy'), true, 'a whole walk needs no note');
      assert.deepEqual(errors, []);
      await context.close();
    });

    it('choosing a type (click or keyboard) lists only its files under Largest files, and every type again', async () => {
      const { context, page, errors, reply } = await open(theme);
      const d = await reply('');
      const all = d.largest.map((f) => f.name);
      assert.ok(all.length > 10);
      // From the map, Tab reaches the first type; Enter chooses it.
      await page.locator('#dirMap .tile[tabindex="0"]').focus();
      await page.keyboard.press('Tab');
      assert.equal(await page.evaluate(() => document.activeElement.querySelector('.kname').textContent), '.mkv');
      await page.keyboard.press('Enter');
      await h.waitFor(page, () => document.querySelectorAll('#lgRows tr').length === 1);
      assert.deepEqual(await largestNames(page), ['film.MKV']);
      assert.equal((await typeRows(page))[0].pressed, 'true');
      assert.equal(await page.getByRole('status').filter({ hasText: 'Only the .mkv files' }).textContent(),
        `Only the .mkv files of the ${all.length} largest: 1.Show every type`);
      // Enter again: every type.
      await page.keyboard.press('Enter');
      await h.waitFor(page, () => document.querySelectorAll('#lgRows tr').length === 10);
      assert.equal(await page.isHidden('.klg'), true);
      // Another type by a click; then Show every type.
      await page.locator('#kinds .krow', { hasText: '.txt' }).click();
      await h.waitFor(page, () => document.querySelectorAll('#lgRows tr').length === 2);
      assert.deepEqual((await largestNames(page)).sort(), ['notes.txt', 'old.txt']);
      await page.getByRole('button', { name: 'Show every type' }).click();
      await h.waitFor(page, () => document.querySelectorAll('#lgRows tr').length === 10);
      assert.deepEqual((await typeRows(page)).map((r) => r.pressed).filter((p) => p === 'true'), []);
      // The others: the files whose type has no row of its own.
      const named = d.types.filter((r) => r.type !== null).map((r) => r.type);
      await page.locator('#kinds .krow', { hasText: 'others' }).click();
      const want = all.filter((n) => !named.includes(typeOf(n)));
      assert.ok(want.length >= 2, want.join());
      await h.waitFor(page, (n) => document.querySelectorAll('#lgRows tr').length === n, Math.min(10, want.length));
      assert.deepEqual(await largestNames(page), want.slice(0, 10));
      // Going into a folder forgets the type.
      await page.locator('#rows button', { hasText: 'docs' }).click();
      await h.waitFor(page, () => /docs$/.test(document.getElementById('lgNote').textContent) &&
        document.querySelectorAll('#lgRows tr').length === 3);
      assert.equal(await page.isHidden('.klg'), true);
      assert.deepEqual(errors, []);
      await context.close();
    });

    it('By age: one bar in bands, the words for over a year, and a line per band', async () => {
      const { context, page, errors, reply } = await open(theme);
      const d = await reply('');
      assert.deepEqual(d.ages.map((a) => a.files), [16, 2, 1, 1, 2, 0]);
      const older = d.ages[4].disk_bytes, total = d.files_disk_bytes;
      assert.equal(await h.textOf(page, '#kinds .ksum'), `Not changed for over a year: ${h.bytes(older)}, ${share(older / total * 100)}`);
      const bands = await page.$$eval('#kinds .klegend li', (ls) => ls.map((l) => l.textContent));
      assert.deepEqual(bands, d.ages.map((a, i) => `${BAND_NAMES[i]}: ${h.bytes(a.disk_bytes)}, ${share(a.disk_bytes / total * 100)}, ` +
        `${a.files} file${a.files === 1 ? '' : 's'}`));
      // The bar: a segment per band that holds anything, in proportion;
      // named for screen readers and reached by the keyboard.
      const bar = page.getByRole('img', { name: /^By the time since the last change: / });
      assert.equal(await bar.getAttribute('aria-label'), 'By the time since the last change: ' +
        d.ages.map((a, i) => `${BAND_NAMES[i]} ${share(a.disk_bytes / total * 100)}`).join(', '));
      const widths = await page.$$eval('#kinds .aseg', (ss) => ss.map((s) => s.getBoundingClientRect().width / s.parentNode.getBoundingClientRect().width * 100));
      assert.equal(widths.length, 5);
      d.ages.slice(0, 5).forEach((a, i) => assert.ok(Math.abs(widths[i] - a.disk_bytes / total * 100) < 1.5, `${BAND_NAMES[i]}: ${widths[i]}`));
      await page.locator('#kinds .krow').last().focus();
      await page.keyboard.press('Tab');
      assert.equal(await page.evaluate(() => document.activeElement.className), 'abar');
      assert.equal(await page.getByRole('region', { name: 'By age' }).count(), 1);
      assert.deepEqual(errors, []);
      await context.close();
    });

    it('beside the map on a wide card, below it at tablet and phone widths; nothing scrolls sideways; no axe violation', async () => {
      for (const width of [1100, 700, 360]) {
        const { context, page, errors } = await open(theme, { width, height: 900 });
        const got = await page.evaluate(() => {
          const r = (s) => document.querySelector(s).getBoundingClientRect();
          const boxes = [document.documentElement, ...document.querySelectorAll('.card, .mapwrap, #kinds, .krow')];
          return {
            map: r('#dirMap').toJSON(), kinds: r('#kinds').toJSON(), hint: r('#mapHint').toJSON(),
            scroll: boxes.map((b) => [b.id || b.className, b.scrollWidth - b.clientWidth]).filter((x) => x[1] > 0),
          };
        });
        if (width === 1100) {
          assert.ok(got.kinds.left >= got.map.right, `${width} px: beside the map`);
          assert.ok(Math.abs(got.kinds.top - got.map.top) < 1, `${width} px: level with the map`);
          assert.ok(got.hint.top >= got.map.bottom && got.hint.top - got.map.bottom < 20, `${width} px: the hint under the map`);
          assert.ok(got.map.width > 600, `${width} px: the map keeps most of the width`);
        } else {
          assert.ok(got.kinds.top >= got.hint.bottom, `${width} px: below the map and its hint`);
          assert.ok(Math.abs(got.kinds.width - got.map.width) < 1, `${width} px: as wide as the map`);
        }
        assert.deepEqual(got.scroll, [], `${width} px: sideways scroll`);
        const axe = await h.axeCounts(page);
        assert.deepEqual(axe.onNew, [], `${width} px`);
        assert.deepEqual(errors, []);
        await context.close();
      }
    });
  });
}

describe('files by type and by age, exact texts', () => {
  const row = (type, files, bytes, disk, exact = true) => ({ type, files, bytes, disk_bytes: disk, exact });
  const age = (name, files, disk) => ({ age: name, files, bytes: disk, disk_bytes: disk });
  const AGES = [age('day', 1, 1 * MB), age('week', 0, 0), age('month', 0, 0), age('year', 1, MB), age('older', 2, 2 * MB), age('unknown', 0, 0)];
  const detail = (over) => h.dirsReply([h.entry('a.iso', 3 * MB, { disk_bytes: 3 * MB, items: 1, modified: null, partial: null })], Object.assign({
    folder_bytes: 4 * MB, folder_disk_bytes: 4 * MB, folder_items: 4, folder_partial: null, largest: [], largest_partial: null,
    files: 4, files_bytes: 4 * MB, files_disk_bytes: 4 * MB, files_partial: null,
    types: [row('iso', 1, 2 * MB, 2 * MB), row('', 2, MB, MB), row(null, 1, MB, MB)], ages: AGES,
  }, over));
  async function page(reply) {
    const context = await browser.newContext({ viewport: { width: 1100, height: 900 } });
    const p = await context.newPage();
    await h.serveReplies(p, h.mountsReply([h.drive()]), reply);
    await p.goto(h.HOST_URL + '/plugin_disks');
    await h.waitText(p, '#dirNote', /entries/);
    return { context, page: p };
  }

  it('a partial walk reads "at least" everywhere, with its reason', async () => {
    const { context, page: p } = await page(detail({ files_partial: 'depth', folder_partial: 'depth' }));
    const rows = await typeRows(p);
    assert.deepEqual(rows.map((r) => r.figs), [`${GE}2.0 MB 50% ${GE}1 file`, `${GE}1.0 MB 25% ${GE}2 files`, `${GE}1.0 MB 25% ${GE}1 file`]);
    assert.equal(await h.textOf(p, '#kinds .ksum'), `Not changed for over a year: ${GE}2.0 MB, 50%`);
    assert.equal(await h.textOf(p, '#kinds .kwhy'), 'At least: folders deeper than the walk\'s depth limit were not counted.');
    await context.close();
  });

  it('rows the walk is unsure of are marked, and the note says why', async () => {
    const { context, page: p } = await page(detail({ types: [row('iso', 1, 2 * MB, 2 * MB), row('', 2, MB, MB, false), row(null, 1, MB, MB, false)] }));
    assert.deepEqual((await typeRows(p)).map((r) => r.name), ['.iso', '\u2248 no extension', '\u2248 others']);
    assert.match(await h.textOf(p, '#kinds .kwhy'), /^More types than the walk could tell apart/);
    await context.close();
  });

  it('a reply without the fields, or a folder without files: the map alone, or a line that says so', async () => {
    let { context, page: p } = await page(h.dirsReply([h.entry('a', 5, { disk_bytes: 8, items: 1, modified: null, partial: null })],
      { folder_bytes: 5, folder_disk_bytes: 8, folder_items: 1, folder_partial: null, largest: [], largest_partial: null }));
    await h.waitFor(p, () => document.querySelector('#dirMap .tile') !== null);
    assert.equal(await p.isHidden('#kinds'), true);
    assert.equal(await p.evaluate(() => document.getElementById('mapWrap').classList.contains('haskinds')), false);
    await context.close();
    ({ context, page: p } = await page(detail({ files: 0, files_bytes: 0, files_disk_bytes: 0, types: [],
      ages: AGES.map((a) => Object.assign({}, a, { files: 0, bytes: 0, disk_bytes: 0 })) })));
    assert.equal(await h.textOf(p, '#kinds .krows'), 'No files counted in this folder.');
    assert.equal(await h.textOf(p, '#kinds .ksum'), 'Not changed for over a year: 0 B, 0.0%');
    await context.close();
  });
});
