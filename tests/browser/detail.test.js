// The detail columns (On disk, Of folder with its bar, Items, Modified),
// totals marked as partial, sorting by Size or On disk, and the Largest
// files card: against the real plugin (a host of its own over a home with a
// sparse file, hard links, a tree deeper than the walk goes, set times and
// an empty folder) in both themes and on both routes, and exact texts
// through intercepted replies.
'use strict';
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const h = require('./helpers');

const KB = 1024;
const MB = 1024 * KB;
const OLD = '2020-03-04T05:06:07Z';
// The reasons a total is partial, as the page words them.
const WHY = {
  depth: 'folders deeper than the walk\'s depth limit were not counted',
  entry_cap: 'the walk stopped at its limit of entries looked at',
  unreadable: 'a folder or file inside could not be read',
  cloud: 'cloud files not kept on this device were not opened',
  stalled: 'the file system stopped answering, so the walk was given up',
  other: 'not every file was counted',
};
const GE = '\u2265 ';

let browser, host, home;
const put = (rel, size, data) => h.putFile(home, rel, size, data);
before(async () => {
  browser = await h.launch();
  home = fs.mkdtempSync(path.join(process.env.BROWSER_TMP || os.tmpdir(), 'detail-home-'));
  put('disk.img', 2 * 1024 * MB);                   // sparse: large, nothing on disk
  put('media/movie.mkv', 4 * MB, true);
  put('media/clips/a.mp4', 1 * MB, true);
  const orig = put('links/orig.bin', 512 * KB, true);
  for (let i = 1; i <= 9; i++) fs.linkSync(orig, path.join(home, 'links', `copy-${i}.bin`));
  const letter = put('old/letter.txt', 1000, true);
  fs.utimesSync(letter, new Date(OLD), new Date(OLD));
  fs.utimesSync(path.join(home, 'old'), new Date(OLD), new Date(OLD));
  put('deep/1/2/3/4/5/6/7/8/9/10/far.bin', 3 * MB, true);  // beyond the depth limit
  fs.mkdirSync(path.join(home, 'empty-folder'));
  // More files than the card shows at first (a linked file is one of them).
  for (let i = 1; i <= 8; i++) put(`notes/n${i}.txt`, 1000 * i, true);
  host = await h.startHost(['--plugin', h.PLUGIN, '--home', home]);
});
after(async () => {
  await browser.close();
  await host.stop();
  fs.rmSync(home, { recursive: true, force: true });
});

// Opens the dashboard of the test home: see helpers.openDashboard.
const open = (theme, query) => h.openDashboard(browser, host, shows, theme, query);

// Waits until the table and the card show the folder sub.
async function shows(target, sub) {
  await h.waitFor(target, (s) => {
    const c = document.querySelector('.crumbs');
    const crumbs = c.hidden ? '' : c.textContent;
    return crumbs === (s ? 'HOME / ' + s.split('/').join(' / ') : '') &&
      /entries/.test(document.getElementById('dirNote').textContent) &&
      !document.getElementById('largest').hidden &&
      document.getElementById('lgNote').textContent.endsWith(s ? '/' + s : '');
  }, sub);
}

const rowsText = (page, sel) => page.$$eval(sel + ' tr', (trs) => trs.map((tr) => [...tr.children].map((td) => td.textContent)));
const names = (page) => page.$$eval('#rows td.nm', (tds) => tds.map((td) => td.textContent));
const sortState = (page) => page.$$eval('thead th[data-sort]', (ths) => ths.map((th) => th.textContent + ':' + (th.getAttribute('aria-sort') || '')));
const ge = (text, partial) => (partial ? GE + text : text);
const stamp = (s) => s.replace('T', ' ').replace('Z', ' UTC');
const folderLabel = (f) => (f ? 'HOME / ' + f.split('/').join(' / ') : 'HOME');
// Stable order of the entries by a field, largest first (dir -1) or smallest.
const byField = (list, key, dir) => list.map((e, i) => [e, i])
  .sort((a, b) => (a[0][key] === b[0][key] ? a[1] - b[1] : (a[0][key] < b[0][key] ? -dir : dir))).map((p) => p[0].name);

for (const theme of ['light', 'dark']) {
  describe(`detail columns and the largest files, ${theme} theme`, () => {
    it('every row: size, on disk, part of the folder with its bar, share, items, modified; the note', async () => {
      const { context, page, errors, reply } = await open(theme);
      const d = await reply('');
      assert.equal(typeof d.folder_bytes, 'number', 'the plugin answers with the detail fields');
      const rows = await rowsText(page, '#rows');
      assert.equal(rows.length, d.entries.length);
      d.entries.forEach((e, i) => {
        const why = e.partial ? ' (at least: ' + WHY[e.partial] + ')' : '';
        assert.deepEqual(rows[i].slice(0, 6), [e.name, ge(h.bytes(e.bytes), e.partial) + why, ge(h.bytes(e.disk_bytes), e.partial),
          (e.disk_bytes / d.folder_disk_bytes * 100).toFixed(1) + '%', e.pct.toFixed(1) + '%', ge(e.items.toLocaleString('en-US'), e.partial)]);
        assert.equal(rows[i][7], e.is_dir ? 'dir' : 'file');
      });
      const cell = (name, col) => page.locator('#rows tr', { has: page.locator('td.nm', { hasText: new RegExp('^' + name + '$') }) })
        .locator('td').nth(col);
      // The sparse image: large, nothing on disk; the ten links: counted once on disk.
      const img = d.entries.find((e) => e.name === 'disk.img');
      assert.deepEqual([img.bytes, img.disk_bytes], [2 * 1024 * MB, 0]);
      assert.equal(await cell('disk.img', 2).textContent(), '0 B');
      const links = d.entries.find((e) => e.name === 'links');
      assert.ok(links.bytes === 10 * 512 * KB && links.disk_bytes < 2 * 512 * KB, JSON.stringify(links));
      // The tree deeper than the walk: marked, with the reason on hover and for screen readers.
      assert.equal(d.entries.find((e) => e.name === 'deep').partial, 'depth');
      assert.equal(await cell('deep', 1).getAttribute('title'), 'At least: ' + WHY.depth);
      assert.equal(await cell('deep', 1).locator('.sr').textContent(), ' (at least: ' + WHY.depth + ')');
      assert.equal(await cell('deep', 2).getAttribute('title'), 'At least: ' + WHY.depth);
      assert.equal(await cell('media', 1).getAttribute('title'), null);
      // Modified: the age shown, the stamp on hover and for screen readers.
      const old = d.entries.find((e) => e.name === 'old');
      assert.equal(old.modified, OLD);
      assert.equal(await cell('old', 6).locator('time').getAttribute('datetime'), OLD);
      assert.equal(await cell('old', 6).locator('time').getAttribute('title'), stamp(OLD));
      assert.match(await cell('old', 6).locator('time').textContent(), /^\d+ years ago$/);
      assert.equal(await cell('old', 6).locator('.sr').textContent(), ' (' + stamp(OLD) + ')');
      // Bars: the part of the listed folder, in the theme's accent on a visible track.
      const bars = await page.$$eval('#rows td.part', (tds) => tds.map((td) => {
        const bar = td.querySelector('.pbar'), fill = bar.querySelector('.fill');
        return { aria: bar.getAttribute('aria-hidden'), width: fill.style.width, px: fill.getBoundingClientRect().width,
          fill: getComputedStyle(fill).backgroundColor, track: getComputedStyle(bar).backgroundColor,
          accent: getComputedStyle(document.documentElement).getPropertyValue('--accent').trim() };
      }));
      // Of the folder on disk, as the heading says: the sparse image, first
      // by size, takes nothing of it.
      assert.equal(await page.locator('thead th', { hasText: /^Of folder/ }).textContent(), 'Of folder on disk');
      d.entries.forEach((e, i) => {
        assert.equal(bars[i].aria, 'true');
        assert.ok(Math.abs(parseFloat(bars[i].width) - e.disk_bytes / d.folder_disk_bytes * 100) < 0.01, bars[i].width);
      });
      assert.equal(d.entries[0].name, 'disk.img');
      assert.equal(bars[0].px, 0);
      const most = d.entries.indexOf(d.entries.reduce((a, b) => (b.disk_bytes > a.disk_bytes ? b : a)));
      assert.equal(d.entries[most].name, 'media');
      assert.equal(bars[most].fill, theme === 'light' ? 'rgb(0, 122, 255)' : 'rgb(10, 132, 255)');
      assert.equal(bars[most].track, theme === 'light' ? 'rgba(0, 0, 0, 0.12)' : 'rgba(255, 255, 255, 0.16)');
      assert.ok(bars[most].px > 30, 'the entry that takes most on disk fills most of its bar');
      // The note: the folder, its totals (partial: the deep tree), the volume.
      assert.equal(d.folder_partial, 'depth');
      assert.equal(await h.textOf(page, '#dirNote'), [d.root, GE + h.bytes(d.folder_bytes), GE + h.bytes(d.folder_disk_bytes) + ' on disk',
        GE + d.folder_items.toLocaleString('en-US') + ' items', h.bytes(d.root_used_bytes) + ' used of ' + h.bytes(d.root_total_bytes),
        d.entries.length + ' entries', d.scan_ms + ' ms'].join(h.DOT) + ' (these totals are at least: ' + WHY.depth + ')');
      assert.equal(await page.getAttribute('#dirNote', 'title'), 'At least: ' + WHY.depth);
      h.assertNoRise(await h.axeCounts(page), theme, 'home');
      assert.deepEqual(errors, []);
      await context.close();
    });

    it('a drilled-down folder shows bars that add up to the whole folder', async () => {
      const { context, page, reply } = await open(theme);
      await page.locator('#rows button', { hasText: /^media$/ }).click();
      await shows(page, 'media');
      const d = await reply('media');
      assert.deepEqual(d.entries.map((e) => e.name), ['movie.mkv', 'clips']);
      const widths = await page.$$eval('#rows td.part .fill', (fs) => fs.map((f) => parseFloat(f.style.width)));
      assert.equal(widths.length, 2);
      assert.ok(widths.every((w) => w > 0), JSON.stringify(widths));
      assert.ok(Math.abs(widths[0] + widths[1] - 100) < 0.01, JSON.stringify(widths));
      // On disk: the 4 MB file and the folder of a 1 MB file with its own block.
      assert.deepEqual(d.entries.map((e) => e.disk_bytes), [4 * MB, MB + 4096]);
      assert.deepEqual((await rowsText(page, '#rows')).map((r) => r[3]), ['79.9%', '20.1%']);
      // The volume's share stays as the plugin gives it.
      assert.deepEqual((await rowsText(page, '#rows')).map((r) => r[4]), d.entries.map((e) => e.pct.toFixed(1) + '%'));
      // Two rows listed, three items beneath (the film, the folder and its
      // clip): "entries" counts the rows, "items" everything beneath.
      assert.equal(d.folder_items, 3);
      assert.equal(await h.textOf(page, '#dirNote'), [d.root + '/media', '5.0 MB', h.bytes(d.folder_disk_bytes) + ' on disk', '3 items',
        h.bytes(d.root_used_bytes) + ' used of ' + h.bytes(d.root_total_bytes), '2 entries', d.scan_ms + ' ms'].join(h.DOT));
      // The map's tip of the clips folder counts its one item the same way.
      const tip = await page.locator('#dirMap .tile', { hasText: /^clips/ }).first().evaluate((t) => t._tip.map((l) => l[0]));
      assert.ok(tip.includes('1 item') && !tip.some((l) => /entries/.test(l)), JSON.stringify(tip));
      h.assertNoRise(await h.axeCounts(page), theme, 'media');
      await context.close();
    });

    it('sorting by On disk and Size: by click and by keyboard, with aria-sort; kept across a poll', async () => {
      const { context, page, reply } = await open(theme);
      const d = await reply('');
      const inReply = d.entries.map((e) => e.name);
      assert.deepEqual(await names(page), inReply);
      assert.deepEqual(await sortState(page), ['Size:', 'On disk:']);
      assert.match(await page.getAttribute('th[data-sort="disk_bytes"]', 'title'),
        /as du counts it: a file with several names counts once, in the entry whose name comes first/);

      await page.click('th[data-sort="disk_bytes"] button');
      assert.deepEqual(await sortState(page), ['Size:', 'On disk:descending']);
      assert.deepEqual(await names(page), byField(d.entries, 'disk_bytes', -1));
      assert.notDeepEqual(await names(page), inReply, 'the sparse image moves down');
      await page.click('th[data-sort="disk_bytes"] button');
      assert.deepEqual(await sortState(page), ['Size:', 'On disk:ascending']);
      assert.deepEqual(await names(page), byField(d.entries, 'disk_bytes', 1));

      // Keyboard: Tab reaches the heading with a focus ring; Enter, then Space.
      await page.locator('th[data-sort="disk_bytes"] button').focus();
      await page.keyboard.press('Shift+Tab');
      const ring = await page.evaluate(() => {
        const a = document.activeElement, cs = getComputedStyle(a);
        return [a.textContent, a.matches(':focus-visible'), cs.outlineStyle, cs.outlineWidth];
      });
      assert.deepEqual(ring, ['Size', true, 'solid', '2px']);
      await page.keyboard.press('Enter');
      assert.deepEqual(await sortState(page), ['Size:descending', 'On disk:']);
      assert.deepEqual(await names(page), byField(d.entries, 'bytes', -1));
      await page.keyboard.press('Space');
      assert.deepEqual(await sortState(page), ['Size:ascending', 'On disk:']);
      assert.deepEqual(await names(page), byField(d.entries, 'bytes', 1));
      assert.equal(await page.evaluate(() => document.activeElement.textContent), 'Size');
      // Named for screen readers by the heading's text; the arrow is decoration.
      const breakdown = page.getByRole('region', { name: 'Folder breakdown', exact: true });
      assert.equal(await breakdown.getByRole('columnheader', { name: 'Size', exact: true }).getAttribute('aria-sort'), 'ascending');

      // A poll brings a new file; the rows stay sorted smallest first.
      const probe = put(`probe-${theme}.bin`, 300 * KB, true);
      try {
        await page.click('#btnRefresh');
        await h.waitFor(page, (n) => [...document.querySelectorAll('#rows td.nm')].some((td) => td.textContent === n), `probe-${theme}.bin`);
        const again = await reply('', (r) => r.entries.some((e) => e.name === `probe-${theme}.bin`));
        assert.deepEqual(await names(page), byField(again.entries, 'bytes', 1));
        assert.deepEqual(await sortState(page), ['Size:ascending', 'On disk:']);
        // And into a folder.
        await page.locator('#rows button', { hasText: /^media$/ }).click();
        await shows(page, 'media');
        assert.deepEqual(await names(page), ['clips', 'movie.mkv']);
        h.assertNoRise(await h.axeCounts(page), theme, 'sorted');
      } finally {
        fs.rmSync(probe);
      }
      await context.close();
    });

    it('the largest files: ranked as the reply, links marked, partial said; a folder control drills there', async () => {
      const { context, page, log, reply } = await open(theme);
      const d = await reply('');
      assert.equal(await page.locator('#largest').isVisible(), true);
      assert.equal(await h.textOf(page, '#lgNote'), d.root);
      // The first ten, until all are asked for.
      assert.ok(d.largest.length > 10 && d.largest.length <= 50, String(d.largest.length));
      assert.equal(await page.locator('#lgRows tr').count(), 10);
      assert.equal(await h.textOf(page, '#lgMore'), 'Show all ' + d.largest.length);
      await page.click('#lgMore');
      assert.equal(await h.textOf(page, '#lgMore'), 'Show the first 10');
      const rows = await rowsText(page, '#lgRows');
      assert.equal(rows.length, d.largest.length);
      d.largest.forEach((f, i) => {
        const linked = f.links > 1 ? ` linked \u00d7${f.links} (deleting it here alone frees nothing)` : '';
        assert.deepEqual(rows[i].slice(0, 4), [f.name + linked, folderLabel(f.folder), h.bytes(f.bytes), h.bytes(f.disk_bytes)]);
      });
      // Ranked by what deleting frees: the sparse image is not first.
      assert.equal(d.largest[0].name, 'movie.mkv');
      assert.ok(d.largest.some((f) => f.name === 'disk.img' && f.disk_bytes === 0));
      const linked = d.largest.filter((f) => f.links === 10);
      assert.ok(linked.length >= 1);
      const tag = page.locator('#lgRows .tag').first();
      assert.equal(await tag.textContent(), 'linked \u00d710');
      assert.equal(await tag.getAttribute('title'), '10 links to this file: deleting it here alone frees nothing');
      // The file beyond the depth limit is not listed, and the card says it may miss files.
      assert.ok(!d.largest.some((f) => f.name === 'far.bin'));
      assert.equal(d.largest_partial, 'depth');
      assert.equal(await page.locator('#lgPartial').isVisible(), true);
      assert.equal(await h.textOf(page, '#lgPartial'), 'Not every file below this folder was looked at (' + WHY.depth +
        '), so larger files may be missing from this list.');
      assert.equal(await page.locator('#lgEmpty').isVisible(), false);
      // Modified as in the table.
      const letterRow = page.locator('#lgRows tr', { has: page.locator('td', { hasText: /^letter\.txt$/ }) });
      assert.equal(await letterRow.locator('time').getAttribute('title'), stamp(OLD));

      // Drill from a file's folder: the breakdown and the card follow.
      const clipRow = page.locator('#lgRows tr', { has: page.locator('td', { hasText: /^a\.mp4$/ }) });
      await clipRow.getByRole('button', { name: 'HOME / media / clips', exact: true }).click();
      await shows(page, 'media/clips');
      assert.equal(log.filter((r) => r.action === 'dirs').pop().path, '/plugin_disks?action=dirs&root=home&sub=media%2Fclips&detail=1');
      assert.deepEqual(await names(page), ['a.mp4']);
      const inner = await reply('media/clips');
      assert.equal(await h.textOf(page, '#lgNote'), inner.root + '/media/clips');
      assert.deepEqual(await rowsText(page, '#lgRows').then((r) => r.map((x) => x.slice(0, 2))), [['a.mp4', 'HOME / media / clips']]);
      // Its own folder is where the card is: said, not a control.
      assert.equal(await page.locator('#lgRows button').count(), 0);
      assert.equal(await page.locator('#lgPartial').isVisible(), false);
      h.assertNoRise(await h.axeCounts(page), theme, 'card inside');

      // Keyboard: the folder control of a file below opens it.
      await page.locator('.crumbs button', { hasText: 'media' }).click();
      await shows(page, 'media');
      const control = page.locator('#lgRows button', { hasText: 'HOME / media / clips' });
      await control.focus();
      await page.keyboard.press('Enter');
      await shows(page, 'media/clips');
      await context.close();
    });

    it('a poll while the card is shown brings a new largest file; an empty folder says so', async () => {
      const { context, page } = await open(theme);
      await page.locator('#rows button', { hasText: /^media$/ }).click();
      await shows(page, 'media');
      const added = put(`media/new-${theme}.bin`, 6 * MB, true);
      try {
        await page.click('#segRate button[data-ms="5000"]');  // polls at once
        await h.waitText(page, '#lgRows tr:first-child td', `new-${theme}.bin`);
        assert.deepEqual((await rowsText(page, '#lgRows')).map((r) => r[0]), [`new-${theme}.bin`, 'movie.mkv', 'a.mp4']);
        await page.click('#segRate button[data-ms="0"]');
      } finally {
        fs.rmSync(added);
      }
      await page.locator('.crumbs button', { hasText: 'HOME' }).click();
      await shows(page, '');
      await page.locator('#rows button', { hasText: /^empty-folder$/ }).click();
      await shows(page, 'empty-folder');
      assert.equal(await page.locator('#lgRows tr').count(), 0);
      assert.equal(await page.locator('#lgEmpty').isVisible(), true);
      assert.equal(await h.textOf(page, '#lgEmpty'), 'No files counted in this folder.');
      assert.equal(await page.locator('#lgPartial').isVisible(), false);
      h.assertNoRise(await h.axeCounts(page), theme, 'empty');
      await context.close();
    });
  });
}

describe('detail on both routes', () => {
  it('hub route: dirs asks for detail and the card is drawn', async () => {
    const { context, page, log } = await open('dark', '&plugin=disks&node=local&id=3');
    assert.equal(log.filter((r) => r.action === 'dirs').pop().path, '/plugins?plugin=disks&action=dirs&node=local&id=3&root=home&detail=1');
    assert.ok(await page.locator('#lgRows tr').count() >= 5);
    assert.notEqual(await page.locator('#rows tr').first().locator('td').nth(2).textContent(), h.DASH);
    await page.locator('#lgRows button', { hasText: 'HOME / media / clips' }).click();
    await shows(page, 'media/clips');
    assert.equal(log.filter((r) => r.action === 'dirs').pop().path,
      '/plugins?plugin=disks&action=dirs&node=local&id=3&root=home&sub=media%2Fclips&detail=1');
    await context.close();
  });

  it('the hub page frames the dashboard with the detail columns and the card', async () => {
    const context = await browser.newContext();
    const page = await context.newPage();
    const log = h.logRequests(page);
    await page.goto(host.url + '/hub');
    const frame = await (await page.waitForSelector('iframe')).contentFrame();
    await shows(frame, '');
    assert.match(log.filter((r) => r.action === 'dirs').pop().path, /^\/plugins\?plugin=disks&action=dirs&.*&root=home&detail=1$/);
    assert.ok(await frame.locator('#lgRows tr').count() >= 5);
    assert.equal(await frame.locator('#rows td.part .fill').count(), await frame.locator('#rows tr').count());
    await context.close();
  });
});

// Exact texts through intercepted replies of the detail shape.
function entry(name, bytes, over) {
  return Object.assign({ name, path: '/home/t/' + name, bytes, disk_bytes: bytes, pct: 1.5, is_dir: false, items: 1,
    modified: '2026-01-02T03:04:05Z', partial: null }, over);
}
function reply(entries, over) {
  return h.dirsReply(entries, Object.assign({
    folder_bytes: entries.reduce((s, e) => s + e.bytes, 0), folder_disk_bytes: entries.reduce((s, e) => s + e.disk_bytes, 0),
    folder_items: entries.length, folder_partial: null, largest: [], largest_partial: null,
  }, over));
}
async function served(dirs) {
  const context = await browser.newContext();
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  await h.serveReplies(page, h.mountsReply([]), (url) => (new URL(url).searchParams.get('root') === 'home' ? dirs
    : { ok: false, error: 'root_unavailable' }));
  await page.goto(h.HOST_URL + '/plugin_disks');
  await h.waitText(page, '#dirNote', /entries/);
  return { context, page, errors };
}

describe('partial totals (intercepted replies)', () => {
  for (const reason of ['depth', 'entry_cap', 'unreadable', 'cloud', 'stalled', 'other']) {
    it(`"${reason}": at least, with the reason in words`, async () => {
      const d = reply([entry('a', 1536, { partial: reason, items: 12345, is_dir: true }), entry('b', 10)],
        { folder_partial: reason, largest: [], largest_partial: reason });
      const { context, page, errors } = await served(d);
      const cells = await page.$$eval('#rows tr:first-child td', (tds) => tds.map((td) => [td.textContent, td.title]));
      const at = 'At least: ' + WHY[reason];
      assert.deepEqual(cells.slice(1, 3), [[GE + '1.5 KB (at least: ' + WHY[reason] + ')', at], [GE + '1.5 KB', at]]);
      assert.deepEqual(cells[5], [GE + '12,345', at]);
      assert.deepEqual(await page.$$eval('#rows tr:nth-child(2) td', (tds) => tds.slice(1, 3).map((td) => [td.textContent, td.title])),
        [['10 B', ''], ['10 B', '']]);
      assert.equal(await h.textOf(page, '#dirNote'), `/home/t${h.DOT}${GE}1.5 KB${h.DOT}${GE}1.5 KB on disk${h.DOT}${GE}2 items${h.DOT}` +
        `40.0 GB used of 100 GB${h.DOT}2 entries${h.DOT}12 ms (these totals are at least: ${WHY[reason]})`);
      assert.equal(await h.textOf(page, '#lgPartial'), `Not every file below this folder was looked at (${WHY[reason]}), ` +
        'so larger files may be missing from this list.');
      assert.equal(await h.textOf(page, '#lgEmpty'), 'No files counted in this folder.');
      assert.equal(await page.locator('#lgEmpty').isVisible(), true);
      assert.deepEqual(errors, []);
      await context.close();
    });
  }
});

describe('modified as an age (intercepted replies)', () => {
  // Seconds before the reply's utc (2026-01-02T03:04:05Z), and what is shown.
  const now = Date.parse('2026-01-02T03:04:05Z');
  const cases = [
    [0, 'just now'], [59, 'just now'], [60, '1 minute ago'], [59 * 60 + 59, '59 minutes ago'], [3600, '1 hour ago'],
    [23 * 3600, '23 hours ago'], [86400, '1 day ago'], [29 * 86400, '29 days ago'], [30 * 86400, '1 month ago'],
    [11 * 30 * 86400, '11 months ago'], [364 * 86400, '12 months ago'], [365 * 86400, '1 year ago'],
    [3 * 365 * 86400, '3 years ago'], [-3600, 'in the future'],
  ];
  it('ages from the reply\'s own time, the stamp on hover; no time is a dash', async () => {
    const stamps = cases.map(([s]) => new Date(now - s * 1000).toISOString().replace(/\.\d{3}Z$/, 'Z'));
    const entries = stamps.map((m, i) => entry('e' + i, 1000 - i, { modified: m }));
    entries.push(entry('none', 1, { modified: null }));
    const { context, page, errors } = await served(reply(entries));
    const got = await page.$$eval('#rows tr', (trs) => trs.map((tr) => {
      const t = tr.children[6].querySelector('time');
      return t ? [t.textContent, t.title, t.getAttribute('datetime')] : [tr.children[6].textContent];
    }));
    assert.deepEqual(got, cases.map(([, text], i) => [text, stamp(stamps[i]), stamps[i]]).concat([[h.DASH]]));
    assert.deepEqual(errors, []);
    await context.close();
  });
});

describe('the folder shown (intercepted replies)', () => {
  it('Windows: the home path and the sub folder joined with backslashes', async () => {
    const d = reply([entry('x', 1)], { platform: 'windows', root: 'C:\\Users\\t', sub: 'a/b c' });
    const { context, page } = await served(d);
    assert.match(await h.textOf(page, '#dirNote'), new RegExp('^C:\\\\Users\\\\t\\\\a\\\\b c' + h.DOT));
    assert.equal(await h.textOf(page, '#lgNote'), 'C:\\Users\\t\\a\\b c');
    await context.close();
  });

  it('a reply without the detail fields: dashes, no bars, no card, today\'s note', async () => {
    const { context, page, errors } = await served(h.dirsReply([h.entry('old', 2048, { is_dir: true })]));
    assert.deepEqual(await rowsText(page, '#rows'), [['old', '2.0 KB', h.DASH, h.DASH, '1.5%', h.DASH, h.DASH, 'dir']]);
    assert.equal(await page.locator('#largest').isHidden(), true);
    assert.equal(await h.textOf(page, '#dirNote'), `/home/t${h.DOT}40.0 GB used of 100 GB${h.DOT}1 entries${h.DOT}12 ms`);
    await page.click('th[data-sort="disk_bytes"] button');
    assert.deepEqual(await names(page), ['old']);
    assert.deepEqual(errors, []);
    await context.close();
  });
});
