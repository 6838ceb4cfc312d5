// The folder map above the folder table, and the memory file systems apart
// from the drives. Against the real plugin (a host of its own over a home
// with a sparse image, folders of real data and many small files) in both
// themes, on both routes and framed in the hub; exact layouts, a reply
// without the detail fields and the drive groups through intercepted
// replies.
'use strict';
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const h = require('./helpers');

const KB = 1024;
const MB = 1024 * KB;

let browser, host, home;
const put = (rel, size, data) => h.putFile(home, rel, size, data);
before(async () => {
  browser = await h.launch();
  home = fs.mkdtempSync(path.join(process.env.BROWSER_TMP || os.tmpdir(), 'map-home-'));
  put('disk.img', 4 * 1024 * MB);                   // sparse: the largest by size, nothing on disk
  put('media/movie.mkv', 4 * MB, true);
  put('media/clips/a.mp4', MB, true);
  put('media/clips/b.mp4', 512 * KB, true);
  put('media/poster.jpg', 256 * KB, true);
  put('docs/report.pdf', 2 * MB, true);
  put('docs/letters/2026.odt', 64 * KB, true);
  put('backup.tar', 3 * MB, true);
  for (let i = 0; i < 30; i++) put(`small/f${i}.txt`, 100, true);
  for (let i = 0; i < 12; i++) put(`n${i}.txt`, 50, true);  // too small to see: "others"
  host = await h.startHost(['--plugin', h.PLUGIN, '--home', home]);
});
after(async () => {
  await browser.close();
  await host.stop();
  fs.rmSync(home, { recursive: true, force: true });
});

// Opens the dashboard of the test home: see helpers.openDashboard.
const open = (theme, query, viewport) => h.openDashboard(browser, host, shows, theme, query, viewport);

// Waits until the breadcrumb and the note say sub and the map shows its tiles.
async function shows(target, sub) {
  await h.waitFor(target, ([s, folder]) => {
    const c = document.querySelector('.crumbs');
    return (c.hidden ? '' : c.textContent) === (s ? 'HOME / ' + s.split('/').join(' / ') : '') &&
      document.getElementById('dirNote').textContent.startsWith(folder + '  \u00b7  ') &&
      document.querySelector('#dirMap .tile') !== null;
  }, [sub, sub ? path.join(home, sub) : home]);
}

// The map's tiles in DOM order, with their rectangles in the map's own
// box (its padding box, where the tiles are placed) and the map's size.
function tiles(target) {
  return target.evaluate(() => {
    const m = document.getElementById('dirMap'), mr = m.getBoundingClientRect();
    const x0 = mr.left + m.clientLeft, y0 = mr.top + m.clientTop;
    return {
      W: m.clientWidth,
      H: m.clientHeight,
      list: [...m.querySelectorAll('.tile')].map((t) => {
        const r = t.getBoundingClientRect(), cs = getComputedStyle(t);
        return {
          name: t.getAttribute('data-name'), parent: t.getAttribute('data-parent'), cls: t.className, tag: t.tagName,
          role: t.getAttribute('role'), label: t.getAttribute('aria-label'), tab: t.tabIndex,
          x: r.left - x0, y: r.top - y0, w: r.width, h: r.height,
          text: t.querySelector('.lbl .n').textContent, band: cs.borderTopWidth, bg: cs.backgroundColor, color: cs.color,
        };
      }),
    };
  });
}
const top = (m) => m.list.filter((t) => !t.parent);
const tile = (page, name, parent) => page.locator(parent ? `#dirMap .tile[data-parent="${parent}"][data-name="${name}"]`
  : `#dirMap .tile[data-name="${name}"]:not([data-parent])`);
const share = (p) => (p >= 9.95 ? p.toFixed(0) : p.toFixed(1)) + '%';
// Each top-level tile's part of the map is its entry's part of the
// folder on disk, within 2% of itself; "others" takes the rest.
function assertAreasFollowDisk(m, d) {
  const area = m.W * m.H;
  let covered = 0;
  for (const t of top(m)) {
    covered += t.w * t.h;
    if (!t.name) continue;
    const e = d.entries.find((x) => x.name === t.name);
    const want = e.disk_bytes / d.folder_disk_bytes, got = t.w * t.h / area;
    assert.ok(Math.abs(got - want) <= 0.02 * want + 1e-4, `${t.name}: ${got} of the map for ${want} of the folder on disk`);
  }
  assert.ok(Math.abs(covered / area - 1) < 1e-3, 'the tiles cover the map: ' + covered / area);
  for (const t of m.list) {
    assert.ok(t.x >= -0.5 && t.y >= -0.5 && t.x + t.w <= m.W + 0.5 && t.y + t.h <= m.H + 0.5, `${t.name} inside the map`);
  }
}

for (const theme of ['light', 'dark']) {
  describe(`the folder map, ${theme} theme`, () => {
    it('areas follow the size on disk (the sparse image takes none); folders hold their largest children', async () => {
      const { context, page, errors, reply } = await open(theme);
      const d = await reply('');
      const img = d.entries.find((e) => e.name === 'disk.img');
      assert.deepEqual([img.bytes, img.disk_bytes], [4 * 1024 * MB, 0]);
      assert.equal(d.entries[0].name, 'disk.img', 'the largest by size');
      const m = await tiles(page);
      assertAreasFollowDisk(m, d);
      // Largest on disk first; the sparse image and the tiny files are not tiles of their own.
      const names = top(m).filter((t) => t.name).map((t) => t.name);
      const byDisk = d.entries.filter((e) => names.includes(e.name)).sort((a, b) => b.disk_bytes - a.disk_bytes).map((e) => e.name);
      assert.deepEqual(names, byDisk);
      assert.deepEqual(names.slice(0, 3), ['media', 'backup.tar', 'docs']);
      assert.ok(!names.includes('disk.img') && !names.includes('n0.txt'), names.join());
      // The tiny files in one "others" tile, which opens nothing.
      const others = m.list.filter((t) => t.cls.includes('others'));
      assert.equal(others.length, 1);
      const rest = d.entries.filter((e) => !names.includes(e.name));
      const restDisk = rest.reduce((s, e) => s + e.disk_bytes, 0);
      assert.deepEqual([others[0].tag, others[0].role, others[0].name], ['DIV', 'img', null]);
      assert.equal(others[0].label, `Others: ${rest.length} smaller items, ${h.bytes(restDisk)} on disk, ` +
        share(restDisk / d.folder_disk_bytes * 100));
      // Named for screen readers by name, size on disk and share.
      const media = d.entries.find((e) => e.name === 'media');
      const mt = m.list.find((t) => t.name === 'media' && !t.parent);
      assert.equal(mt.label, `media, ${h.bytes(media.disk_bytes)} on disk, ${share(media.disk_bytes / d.folder_disk_bytes * 100)}`);
      // Folders and files told apart by more than colour: a button with a
      // band and a slash after its name, an image without.
      const bt = m.list.find((t) => t.name === 'backup.tar');
      assert.deepEqual([mt.tag, mt.role, mt.text, mt.band], ['BUTTON', null, 'media/', '3px']);
      assert.deepEqual([bt.tag, bt.role, bt.text, bt.band], ['DIV', 'img', 'backup.tar', '0px']);
      // The second level: media's largest children, as the reply ranks
      // them, inside its tile, in proportion to what they take.
      assert.deepEqual(media.children.map((c) => c.name), ['movie.mkv', 'clips', 'poster.jpg']);
      const kids = m.list.filter((t) => t.parent === 'media');
      assert.deepEqual(kids.map((t) => t.name), ['movie.mkv', 'clips', 'poster.jpg']);
      for (const k of kids) {
        assert.ok(k.x >= mt.x && k.y >= mt.y + 20 && k.x + k.w <= mt.x + mt.w + 0.5 && k.y + k.h <= mt.y + mt.h + 0.5, k.name);
      }
      const [movie, clips] = media.children;
      assert.ok(Math.abs(kids[0].w * kids[0].h / (kids[1].w * kids[1].h) / (movie.disk_bytes / clips.disk_bytes) - 1) < 0.02);
      assert.equal(kids[1].label, `clips, ${h.bytes(clips.disk_bytes)} on disk, ${share(clips.disk_bytes / d.folder_disk_bytes * 100)}, in media`);
      assert.deepEqual([kids[1].tag, kids[1].text, kids[0].tag, kids[0].role], ['BUTTON', 'clips/', 'DIV', 'img']);
      // The colours are the theme's: its text on a tint of its palette.
      const text = await page.evaluate(() => {
        const p = document.createElement('span');
        p.style.color = 'var(--text)';
        document.body.appendChild(p);
        const c = getComputedStyle(p).color;
        p.remove();
        return c;
      });
      assert.ok(m.list.every((t) => t.color === text), 'tile text in --text');
      // rgb(r, g, b) with 0..255, or color(srgb r g b) with 0..1.
      const lum = (c) => {
        const [r, g, b] = c.match(/[\d.]+/g).map(Number), k = c.startsWith('color(') ? 1 : 255;
        return (0.2126 * r + 0.7152 * g + 0.0722 * b) / k;
      };
      assert.ok(theme === 'light' ? lum(mt.bg) > 0.6 : lum(mt.bg) < 0.35, mt.bg);
      // Labels are drawn inside their tiles.
      const spill = await page.$$eval('#dirMap .tile:not(.small) .lbl', (ls) => ls.filter((l) => {
        const r = l.getBoundingClientRect(), t = l.parentNode.getBoundingClientRect();
        return r.left < t.left - 0.5 || r.right > t.right + 0.5 || r.top < t.top - 0.5;
      }).length);
      assert.equal(spill, 0);
      // The table reads the same way: Of folder on disk.
      assert.equal(await h.textOf(page, '#mapHint'), 'Area: size on disk. A folder holds its largest items; click a folder to open it. ' +
        'Arrow keys move between tiles.');
      h.assertNoRise(await h.axeCounts(page), theme, 'map');
      assert.deepEqual(errors, []);
      await context.close();
    });

    it('a click, Enter or Space on a folder tile of either level opens it; arrows move, one tab stop', async () => {
      const { context, page, log } = await open(theme);
      await tile(page, 'media').click({ position: { x: 12, y: 10 } });  // on its name, above its children
      await shows(page, 'media');
      assert.equal(log.filter((r) => r.action === 'dirs').pop().path, '/plugin_disks?action=dirs&root=home&sub=media&detail=1');
      assert.deepEqual(top(await tiles(page)).map((t) => t.name), ['movie.mkv', 'clips', 'poster.jpg']);
      // The focus went to the new map's first tile.
      assert.equal(await page.evaluate(() => document.activeElement.getAttribute('data-name')), 'movie.mkv');
      await page.locator('.crumbs button', { hasText: 'HOME' }).click();
      await shows(page, '');
      // A child folder by keyboard, through its parent's tile.
      await tile(page, 'clips', 'media').focus();
      await page.keyboard.press('Enter');
      await shows(page, 'media/clips');
      assert.equal(log.filter((r) => r.action === 'dirs').pop().path, '/plugin_disks?action=dirs&root=home&sub=media%2Fclips&detail=1');
      await page.locator('.crumbs button', { hasText: 'HOME' }).click();
      await shows(page, '');
      await tile(page, 'docs').focus();
      await page.keyboard.press('Space');
      await shows(page, 'docs');
      await page.locator('.crumbs button', { hasText: 'HOME' }).click();
      await shows(page, '');
      // One tab stop: the tile last focused; arrows, Home and End move.
      const order = (await tiles(page)).list;
      await tile(page, 'media').focus();
      await page.keyboard.press('ArrowRight');
      assert.equal(await page.evaluate(() => document.activeElement.getAttribute('data-name')), order[1].name);
      await page.keyboard.press('End');
      assert.ok(await page.evaluate(() => document.activeElement.classList.contains('others')));
      await page.keyboard.press('Home');
      assert.equal(await page.evaluate(() => document.activeElement.getAttribute('data-name')), 'media');
      assert.deepEqual((await tiles(page)).list.filter((t) => t.tab === 0).map((t) => t.name), ['media']);
      await page.keyboard.press('Tab');
      assert.equal(await page.evaluate(() => document.activeElement.closest('#dirMap')), null);
      await page.keyboard.press('Shift+Tab');
      assert.equal(await page.evaluate(() => document.activeElement.getAttribute('data-name')), 'media');
      // A file tile opens nothing by itself; a file inside a folder's tile
      // opens that folder on a click.
      const asked = log.length;
      await tile(page, 'backup.tar').click();
      await tile(page, 'movie.mkv', 'media').press('Enter');
      await new Promise((r) => setTimeout(r, 200));
      assert.equal(log.length, asked);
      await tile(page, 'movie.mkv', 'media').click();
      await shows(page, 'media');
      await context.close();
    });

    it('a file tile tells its name, size, on disk and last change on hover and on focus', async () => {
      const { context, page, reply } = await open(theme);
      const d = await reply('');
      const e = d.entries.find((x) => x.name === 'backup.tar');
      const tipText = () => page.$$eval('#mapTip > *', (ls) => ls.map((l) => l.textContent));
      const want = ['backup.tar', 'Size ' + h.bytes(e.bytes), 'On disk ' + h.bytes(e.disk_bytes)];
      await tile(page, 'backup.tar').hover();
      assert.equal(await page.locator('#mapTip').isVisible(), true);
      const hovered = await tipText();
      assert.deepEqual(hovered.slice(0, 3), want);
      assert.match(hovered[3], new RegExp('^Last change (just now|\\d+ \\w+ ago) \\(' + e.modified.replace('T', ' ').replace('Z', ' UTC') + '\\)$'));
      // Beside the tile, inside the map's width.
      const box = (sel) => page.$eval(sel, (x) => x.getBoundingClientRect().toJSON());
      const [tip, wrap] = [await box('#mapTip'), await box('#mapWrap')];
      assert.ok(tip.left >= wrap.left - 0.5 && tip.right <= wrap.right + 0.5, JSON.stringify([tip, wrap]));
      await page.mouse.move(0, 0);
      assert.equal(await page.locator('#mapTip').isVisible(), false);
      await tile(page, 'backup.tar').focus();
      assert.deepEqual((await tipText()).slice(0, 3), want);
      assert.equal(await tile(page, 'backup.tar').getAttribute('aria-describedby'), 'mapTip');
      assert.equal(await page.getAttribute('#mapTip', 'role'), 'tooltip');
      await page.keyboard.press('Escape');
      assert.equal(await page.locator('#mapTip').isVisible(), false);
      // A child file: name, its folder, size and on disk (the reply tells no time for it).
      const movie = d.entries.find((x) => x.name === 'media').children[0];
      await tile(page, 'movie.mkv', 'media').focus();
      assert.deepEqual(await tipText(), ['movie.mkv', 'in media/', 'Size ' + h.bytes(movie.bytes), 'On disk ' + h.bytes(movie.disk_bytes)]);
      await context.close();
    });

    it('a poll redraws in place: the focused tile keeps the focus, no tile is taken out', async () => {
      const { context, page, reply } = await open(theme);
      await tile(page, 'media').focus();
      // The top-level tiles as they are (a child may go when it grows too
      // small to draw), and whether the map is ever empty.
      await page.evaluate(() => {
        const map = document.getElementById('dirMap');
        window.__focused = document.activeElement;
        window.__tiles = [...map.querySelectorAll('.tile[data-name]:not([data-parent])')];
        window.__emptied = false;
        new MutationObserver(() => { if (!map.querySelector('.tile')) window.__emptied = true; }).observe(map, { childList: true });
      });
      const grown = put(`docs/grown-${theme}.bin`, 3 * MB, true);
      try {
        await page.evaluate(() => document.getElementById('btnRefresh').click());  // leaves the focus where it is
        const d = await reply('', (r) => r.entries.find((e) => e.name === 'docs').children.some((c) => c.name === `grown-${theme}.bin`));
        const docs = d.entries.find((e) => e.name === 'docs');
        await h.waitFor(page, (l) => document.querySelector('#dirMap .tile[data-name="docs"]:not([data-parent])').getAttribute('aria-label') === l,
          `docs, ${h.bytes(docs.disk_bytes)} on disk, ${share(docs.disk_bytes / d.folder_disk_bytes * 100)}`);
        assert.deepEqual(await page.evaluate(() => [document.activeElement === window.__focused, document.activeElement.getAttribute('data-name'),
          window.__tiles.every((t) => t.isConnected), window.__emptied]), [true, 'media', true, false]);
        assert.equal(await page.locator('#mapTip').isVisible(), true);
        assert.equal(await page.locator('#mapTip b').textContent(), 'media/');
        assertAreasFollowDisk(await tiles(page), d);
      } finally {
        fs.rmSync(grown);
      }
      await context.close();
    });
  });
}

describe('the folder map on both routes, framed, and from 320 px to wide', () => {
  it('hub route: a tile opens its folder through the proxy route', async () => {
    const { context, page, log } = await open('dark', '&plugin=disks&node=local&id=3');
    await tile(page, 'media').click({ position: { x: 12, y: 10 } });
    await shows(page, 'media');
    assert.equal(log.filter((r) => r.action === 'dirs').pop().path,
      '/plugins?plugin=disks&action=dirs&node=local&id=3&root=home&sub=media&detail=1');
    await tile(page, 'a.mp4', 'clips').waitFor();
    await context.close();
  });

  it('framed in the hub page: the map is drawn and drills inside the frame', async () => {
    const context = await browser.newContext({ viewport: { width: 1100, height: 900 } });
    const page = await context.newPage();
    let d = null;
    page.on('response', async (r) => {
      if (h.actionOf(r.url()) !== 'dirs' || new URL(r.url()).searchParams.get('root') !== 'home') return;
      // A reply still being read when the test ends is of no interest.
      try { d = await r.json(); } catch (e) { /* the page has gone */ }
    });
    await page.goto(host.url + '/hub');
    const frame = await (await page.waitForSelector('iframe')).contentFrame();
    await shows(frame, '');
    for (let i = 0; i < 400 && !d; i++) await new Promise((r) => setTimeout(r, 25));
    assertAreasFollowDisk(await tiles(frame), d);
    await frame.locator('#dirMap .tile[data-name="clips"][data-parent="media"]').click();
    await shows(frame, 'media/clips');
    await context.close();
  });

  for (const width of [320, 1600]) {
    it(`fits the card at ${width} px, laid out again when the width changes`, async () => {
      const { context, page, reply } = await open('light', '', { width, height: 900 });
      const d = await reply('');
      // The map takes the card's width, or on a wide card what the views
      // by type and by age leave of it beside.
      const fit = () => page.evaluate(() => {
        const card = document.getElementById('dirMap').closest('.card'), m = document.getElementById('dirMap');
        const c = card.getBoundingClientRect(), r = m.getBoundingClientRect(), pad = parseFloat(getComputedStyle(card).paddingLeft);
        const k = document.getElementById('kinds').getBoundingClientRect(), full = c.width - 2 * pad - 2;
        const beside = k.width > 0 && k.left >= r.right;
        return [r.left >= c.left + pad - 0.5 && r.right <= c.right - pad + 0.5,
          beside ? Math.abs(k.right - (c.right - pad - 1)) < 1 && r.width > full / 2 : Math.abs(r.width - full) < 1,
          document.documentElement.scrollWidth <= window.innerWidth];
      });
      assert.deepEqual(await fit(), [true, true, true]);
      assertAreasFollowDisk(await tiles(page), d);
      // Near square tiles, not the stretched ones of the other width.
      const worst = (m) => Math.max(...top(m).filter((t) => t.w * t.h > 0.02 * m.W * m.H).map((t) => Math.max(t.w / t.h, t.h / t.w)));
      const before = await tiles(page);
      const styles = () => page.$$eval('#dirMap .tile', (ts) => ts.map((t) => t.style.cssText).join());
      const was = await styles();
      await page.setViewportSize({ width: width === 320 ? 1100 : 400, height: 900 });
      // Laid out again within a frame or two (the tiles' places change).
      for (let i = 0; i < 40 && (await styles()) === was; i++) await new Promise((r) => setTimeout(r, 25));
      const after = await tiles(page);
      assert.notEqual(after.W, before.W);
      assert.deepEqual(await fit(), [true, true, true]);
      assertAreasFollowDisk(after, d);
      assert.ok(worst(after) <= Math.max(4, worst(before)) + 0.5, `aspect ratios ${worst(before)} then ${worst(after)}`);
      await context.close();
    });
  }
});

// Intercepted replies of the detail shape.
function entry(name, disk, over) {
  return Object.assign({ name, path: '/home/t/' + name, bytes: disk, disk_bytes: disk, pct: 1.5, is_dir: false, items: 1,
    modified: '2026-01-02T03:04:05Z', partial: null }, over);
}
function reply(entries, over) {
  return h.dirsReply(entries, Object.assign({
    folder_bytes: entries.reduce((s, e) => s + e.bytes, 0), folder_disk_bytes: entries.reduce((s, e) => s + e.disk_bytes, 0),
    folder_items: entries.length, folder_partial: null, largest: [], largest_partial: null,
  }, over));
}
async function served(dirs, mounts, query = '', note = /entries|unavailable/) {
  const context = await browser.newContext({ viewport: { width: 1100, height: 900 }, reducedMotion: 'reduce' });
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  await h.serveReplies(page, mounts || h.mountsReply([]), (url) => (new URL(url).searchParams.get('root') === 'home' ? dirs
    : { ok: false, error: 'root_unavailable' }));
  await page.goto(h.HOST_URL + '/plugin_disks' + query);
  await h.waitText(page, '#dirNote', note);
  return { context, page, errors };
}

describe('the folder map (intercepted replies)', () => {
  it('squarified as Bruls, Huizing and van Wijk lay out 6, 6, 4, 3, 2, 2 and 1 on a 6 x 4 rectangle', async () => {
    const sizes = [6, 6, 4, 3, 2, 2, 1];
    const { context, page, errors } = await served(reply(sizes.map((s, i) => entry('abcdefg'[i], s * MB))));
    await page.addStyleTag({ content: '#dirMap{width:602px;height:402px}' });
    await h.waitFor(page, () => document.getElementById('dirMap').clientWidth === 600 &&
      document.querySelector('#dirMap .tile[data-name="a"]').style.width === '50%');
    const m = await tiles(page);
    const r = (n) => { const t = m.list.find((x) => x.name === n); return [t.x, t.y, t.w, t.h].map((v) => Math.round(v * 10) / 10); };
    // Rows: 6 and 6 down the left; 4 and 3 across the top of the rest;
    // then 2, 2 and 1, each a row of its own along the shorter side.
    assert.deepEqual(['a', 'b', 'c', 'd', 'e', 'f', 'g'].map(r), [
      [0, 0, 300, 200], [0, 200, 300, 200], [300, 0, 171.4, 233.3], [471.4, 0, 128.6, 233.3],
      [300, 233.3, 120, 166.7], [420, 233.3, 120, 166.7], [540, 233.3, 60, 166.7]]);
    assert.deepEqual(errors, []);
    await context.close();
  });

  it('a reply without the detail fields: areas by size, one level, the names say no "on disk"', async () => {
    const { context, page } = await served(h.dirsReply([h.entry('big', 3 * KB, { is_dir: true }), h.entry('small', KB)]));
    const m = await tiles(page);
    assert.deepEqual(m.list.map((t) => t.label), ['big, 3.0 KB, 75%', 'small, 1.0 KB, 25%']);
    assert.ok(Math.abs(m.list[0].w * m.list[0].h / (m.W * m.H) - 0.75) < 0.005);
    assert.match(await h.textOf(page, '#mapHint'), /^Area: size\. /);
    assert.equal(await h.textOf(page, 'th #ofMeasure'), 'size');
    await context.close();
  });

  it('a refusal, or a folder with nothing in it, hides the map', async () => {
    const { context, page } = await served({ ok: false, error: 'sub_not_found' });
    assert.equal(await page.locator('#mapWrap').isHidden(), true);
    await context.close();
    const empty = await served(reply([]));
    assert.equal(await empty.page.locator('#mapWrap').isHidden(), true);
    assert.equal(await empty.page.locator('#dirMap .tile').count(), 0);
    await empty.context.close();
  });
});

// Drives as a Linux machine lists them: two disks and three memory file
// systems, one of them the most full of all.
const LINUX = h.mountsReply([
  h.drive({ mount: '/', device: '/dev/sda2', fstype: 'ext4', total_bytes: 100 * 2 ** 30, used_bytes: 40 * 2 ** 30, free_bytes: 60 * 2 ** 30, pct: 40 }),
  h.drive({ mount: '/dev/shm', device: 'tmpfs', fstype: 'tmpfs', total_bytes: 16 * 2 ** 30, used_bytes: 2 ** 20, free_bytes: 16 * 2 ** 30, pct: 0.1 }),
  h.drive({ mount: '/data', device: '/dev/sdb1', fstype: 'xfs', total_bytes: 200 * 2 ** 30, used_bytes: 100 * 2 ** 30, free_bytes: 100 * 2 ** 30, pct: 50 }),
  h.drive({ mount: '/dev', device: 'udev', fstype: 'devtmpfs', total_bytes: 8 * 2 ** 30, used_bytes: 0, free_bytes: 8 * 2 ** 30, pct: 0 }),
  h.drive({ mount: '/run/user/0', device: 'tmpfs', fstype: 'tmpfs', total_bytes: 2 ** 30, used_bytes: 0.99 * 2 ** 30, free_bytes: 0.01 * 2 ** 30, pct: 99 }),
], { platform: 'linux' });

describe('memory file systems apart from the drives (intercepted replies)', () => {
  for (const theme of ['light', 'dark']) {
    it(`${theme} theme: in a closed group that says how many, left out of the tiles with a note`, async () => {
      const { context, page, errors } = await served(reply([entry('a', MB)]), LINUX, '?theme=' + theme);
      await h.waitText(page, '#kCount', '2');
      assert.deepEqual(await page.$$eval('#mounts > .mnt .mp', (e) => e.map((x) => x.textContent)), ['/', '/data']);
      assert.equal(await page.locator('#memGroup').isVisible(), true);
      assert.equal(await page.$eval('#memGroup details', (e) => e.open), false);
      assert.equal(await h.textOf(page, '#memSum'), '3 memory file systems (tmpfs, devtmpfs), not drives');
      assert.equal(await page.locator('#memMounts .mnt').first().isVisible(), false);
      // The summary counts the two disks alone: 300 GB, not 325; the
      // full memory file system is not the most full drive.
      assert.deepEqual(await Promise.all(['#kTotal', '#kUsed', '#kFree', '#kFull'].map((s) => h.textOf(page, s))),
        ['300 GB', '140 GB', '160 GB', '/data 50%']);
      assert.equal(await h.textOf(page, '#kNote'), 'Not counted here: 3 memory file systems (tmpfs, devtmpfs), which hold files ' +
        'in memory; they are listed apart under Mounted filesystems.');
      assert.equal(await page.locator('#kNote').isVisible(), true);
      h.assertNoRise(await h.axeCounts(page), theme, 'memory closed');
      // Opened, it shows their cards, and a poll keeps it open.
      await page.click('#memSum');
      assert.deepEqual(await page.$$eval('#memMounts .mnt .mp', (e) => e.map((x) => x.textContent)), ['/dev/shm', '/dev', '/run/user/0']);
      assert.equal(await page.locator('#memMounts .mnt').first().isVisible(), true);
      await page.$eval('#memMounts .mnt', (c) => { c.dataset.old = '1'; });
      await page.click('#btnRefresh');
      await h.waitFor(page, () => !document.querySelector('#memMounts .mnt').dataset.old);
      assert.equal(await page.$eval('#memGroup details', (e) => e.open), true);
      h.assertNoRise(await h.axeCounts(page), theme, 'memory open');
      assert.deepEqual(errors, []);
      await context.close();
    });
  }

  it('no memory file system: no group, no note; Windows has no such group', async () => {
    const disks = h.mountsReply([LINUX.mounts[0], LINUX.mounts[2]], { platform: 'linux' });
    const { context, page } = await served(reply([entry('a', MB)]), disks);
    await h.waitText(page, '#kCount', '2');
    assert.equal(await page.locator('#memGroup').isHidden(), true);
    assert.equal(await page.locator('#kNote').count(), 0);
    await context.close();
    const win = await served(reply([entry('a', MB)]), Object.assign({}, LINUX, { platform: 'windows' }));
    await h.waitText(win.page, '#kCount', '5');
    assert.equal(await win.page.locator('#mounts > .mnt').count(), 5);
    assert.equal(await win.page.locator('#memGroup').isHidden(), true);
    assert.equal(await win.page.locator('#kNote').count(), 0);
    await win.context.close();
  });

  it('hub route and framed in the hub: the group and the tiles the same', async () => {
    const { context, page } = await served(reply([entry('a', MB)]), LINUX, '?plugin=disks&node=local&id=3');
    await h.waitText(page, '#kTotal', '300 GB');
    assert.equal(await h.textOf(page, '#memSum'), '3 memory file systems (tmpfs, devtmpfs), not drives');
    await context.close();
    const hub = await browser.newContext();
    const framed = await hub.newPage();
    await h.serveReplies(framed, LINUX, reply([entry('a', MB)]));
    await framed.goto(host.url + '/hub');
    const frame = await (await framed.waitForSelector('iframe')).contentFrame();
    await h.waitText(frame, '#kTotal', '300 GB');
    assert.equal(await h.textOf(frame, '#memSum'), '3 memory file systems (tmpfs, devtmpfs), not drives');
    assert.equal(await frame.locator('#dirMap .tile[data-name="a"]').count(), 1);
    await hub.close();
  });
});
