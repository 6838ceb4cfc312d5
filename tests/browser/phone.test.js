// Phone widths: at 320, 360 and 414 px, in both themes, directly and framed
// in the hub, nothing scrolls sideways (the page, each card, the tables'
// boxes, the drive cards) and no folder or file name runs over two lines;
// a name too long for its line ends in an ellipsis and is whole on hover,
// on focus and for screen readers. Screenshots of the three widths are
// written beside the others (docs/ with UPDATE_SCREENSHOTS=1).
'use strict';
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const h = require('./helpers');

const KB = 1024;
const MB = 1024 * KB;
const LONG = 'a-folder-name-far-too-long-for-any-phone-screen-to-show-whole';
// The names of a home as a developer's looks: short dot folders that a
// squeezed column used to break (".pyen / v"), names with spaces, and one
// long name without any.
const TREE = [
  ['.pyenv/versions/3.12.1/lib/libpython.so', 30 * MB], ['.rustup/toolchains/stable/lib/librustc.so', 28 * MB],
  ['.cache/pip/wheels/x.whl', 9 * MB], ['.local/share/Trash/files/old.tar', 7 * MB], ['.npm/_cacache/index', 5 * MB],
  ['.cargo/registry/cache/crate.tar', 4 * MB], ['Documents/report.pdf', 3 * MB], ['Downloads/debian-12.iso', 2 * MB],
  ['VirtualBox VMs/dev/dev.vdi', MB + 300 * KB], ['photos of the summer holiday/img_0001.jpg', MB],
  [LONG + '/inside-a-folder-with-another-long-name.bin', 900 * KB], ['notes.txt', 300 * KB], ['.bash_history', 20 * KB],
];
// Drives with long names, and memory file systems apart.
const DRIVES = h.mountsReply([
  h.drive({ mount: '/', device: '/dev/nvme0n1p2', pct: 61.2 }),
  h.drive({ mount: '/media/alex/My Passport Ultra 4TB backup', device: '/dev/mapper/luks-0b8e5c1d-7f2a-4c3e-9d11-2f6a8b9c0e1f', fstype: 'fuseblk', pct: 92 }),
  h.drive({ mount: '/home', device: '/dev/nvme0n1p3', pct: 78 }),
  h.drive({ mount: '/dev/shm', device: 'tmpfs', fstype: 'tmpfs', pct: 1 }),
]);
const WIDTHS = [320, 360, 414];
const OUT = process.env.UPDATE_SCREENSHOTS === '1' ? path.join(h.REPO, 'docs') : (process.env.BROWSER_TMP || os.tmpdir());

let browser, host, home;
before(async () => {
  browser = await h.launch();
  home = fs.mkdtempSync(path.join(process.env.BROWSER_TMP || os.tmpdir(), 'phone-home-'));
  for (const [rel, size] of TREE) {
    const file = path.join(home, rel);
    fs.mkdirSync(path.dirname(file), { recursive: true });
    fs.writeFileSync(file, Buffer.alloc(size, 1));
  }
  host = await h.startHost(['--plugin', h.PLUGIN, '--home', home]);
});
after(async () => {
  await browser.close();
  await host.stop();
  fs.rmSync(home, { recursive: true, force: true });
});

// In the page: how far each box scrolls sideways (only those that do), the
// names that take more than one line, and the names cut with an ellipsis.
function measure() {
  const boxes = [document.documentElement, ...document.querySelectorAll('.card, .tblwrap, .mnt, .mapwrap')];
  const scroll = boxes.map((b) => [b.id || b.className || b.tagName, b.scrollWidth - b.clientWidth]).filter((x) => x[1] > 0);
  const lines = (node) => {
    const r = document.createRange();
    r.selectNodeContents(node);
    return new Set([...r.getClientRects()].filter((q) => q.width > 0).map((q) => Math.round(q.top))).size;
  };
  // The name itself: the button of a folder, else the cell's first text.
  const nameOf = (td) => td.querySelector('button') || td.firstChild;
  const cells = [...document.querySelectorAll('#rows td.nm, #lgRows td.nm')].filter((td) => td.offsetParent !== null);
  const broken = cells.filter((td) => lines(nameOf(td)) > 1).map((td) => td.textContent);
  const cut = cells.filter((td) => { const e = td.querySelector('button') || td; return e.scrollWidth > e.clientWidth; })
    .map((td) => { const e = td.querySelector('button') || td; return { text: td.textContent, title: e.title || td.title }; });
  return { scroll, names: cells.length, broken, cut };
}

async function ready(target) {
  await h.waitFor(target, () => /entries/.test(document.getElementById('dirNote').textContent) &&
    !document.getElementById('largest').hidden && document.querySelectorAll('.mnt').length > 0);
}

for (const theme of ['light', 'dark']) {
  describe(`phone widths, ${theme} theme`, () => {
    for (const width of WIDTHS) {
      it(`${width} px: no sideways scroll, no name over two lines, long names cut and whole on hover`, async () => {
        const context = await browser.newContext({ viewport: { width, height: 780 }, reducedMotion: 'reduce' });
        const page = await context.newPage();
        await page.route(h.isAction('mounts'), (route) => h.json(route, DRIVES));
        await page.goto(host.url + '/plugin_disks?theme=' + theme);
        await ready(page);
        const got = await page.evaluate(measure);
        assert.deepEqual(got.scroll, [], 'sideways scroll');
        assert.equal(got.names, TREE.length + 2 * 10, 'every row, and the name and folder of the ten largest files');
        assert.deepEqual(got.broken, [], 'names over two lines');
        // Cut with an ellipsis: the long name at every width, and whole in
        // its title.
        assert.ok(got.cut.some((c) => c.text === LONG), JSON.stringify(got.cut));
        for (const c of got.cut) assert.equal(c.title, c.text);
        // Still a table for screen readers, the long name whole in its cell;
        // on focus the name shows whole, over as many lines as it needs.
        const rows = page.locator('#rows');
        assert.equal(await rows.getByRole('row').count(), TREE.length);
        assert.equal(await rows.getByRole('cell', { name: LONG, exact: true }).count(), 1);
        const b = rows.getByRole('button', { name: LONG, exact: true });
        await b.focus();
        await page.keyboard.press('Shift+Tab');
        await page.keyboard.press('Tab');
        assert.deepEqual(await b.evaluate((e) => [e.scrollWidth <= e.clientWidth, e.getBoundingClientRect().height > 30]), [true, true]);
        await page.evaluate(() => document.activeElement.blur());
        if (theme === 'light' || width === 360) {
          await page.screenshot({ path: path.join(OUT, `dashboard-${width}-${theme}.png`), fullPage: true });
        }
        await context.close();
      });
    }

    it('what was added beyond the table of four columns meets AA contrast, on a phone and wide', async () => {
      for (const width of [360, 1100]) {
        const context = await browser.newContext({ viewport: { width, height: 900 }, reducedMotion: 'reduce' });
        const page = await context.newPage();
        await page.route(h.isAction('mounts'), (route) => h.json(route, DRIVES));
        await page.goto(host.url + '/plugin_disks?theme=' + theme);
        await ready(page);
        await page.evaluate(() => { document.querySelector('.memfs').open = true; });
        const got = await h.axeCounts(page);
        assert.deepEqual(got.onNew, [], width + ' px');
        // axe leaves the labels on striped (file) tiles undecided: each
        // label's colour against every pixel of the tile behind it, drawn
        // with the labels hidden.
        await page.addStyleTag({ content: '.map .lbl{visibility:hidden}' });
        const shot = (await page.locator('#dirMap').screenshot()).toString('base64');
        await page.addStyleTag({ content: '.map .lbl{visibility:visible}' });
        const worst = await page.evaluate(async (png) => {
          const img = new Image();
          img.src = 'data:image/png;base64,' + png;
          await img.decode();
          const c = document.createElement('canvas');
          c.width = img.width; c.height = img.height;
          const g = c.getContext('2d');
          g.drawImage(img, 0, 0);
          const lin = (v) => { v /= 255; return v <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4; };
          const lum = (r, gr, b) => 0.2126 * lin(r) + 0.7152 * lin(gr) + 0.0722 * lin(b);
          const map = document.getElementById('dirMap').getBoundingClientRect();
          let min = Infinity, labels = 0, at = '';
          for (const span of document.querySelectorAll('#dirMap .lbl span')) {
            const r = span.getBoundingClientRect();
            if (!r.width || !r.height || getComputedStyle(span).display === 'none') continue;
            labels++;
            const [fr, fg, fb] = getComputedStyle(span).color.match(/\d+/g).map(Number);
            const lf = lum(fr, fg, fb);
            // Only what the tile shows of the label: inside its padding box.
            const tile = span.closest('.tile'), t = tile.getBoundingClientRect(), cs = getComputedStyle(tile);
            const left = Math.max(r.left, t.left + 1), right = Math.min(r.right, t.right - 1);
            const top = Math.max(r.top, t.top + parseFloat(cs.borderTopWidth) + 1), bottom = Math.min(r.bottom, t.bottom - 1);
            if (right - left < 1 || bottom - top < 1) continue;
            const x0 = Math.round(left - map.left), y0 = Math.round(top - map.top);
            const px = g.getImageData(x0, y0, Math.floor(right - left), Math.floor(bottom - top)).data;
            for (let i = 0; i < px.length; i += 4) {
              const lb = lum(px[i], px[i + 1], px[i + 2]);
              const k = (Math.max(lf, lb) + 0.05) / (Math.min(lf, lb) + 0.05);
              if (k < min) { min = k; at = tile.className + ' ' + tile.getAttribute('aria-label') + ' ' + px.slice(i, i + 3).join(','); }
            }
          }
          return { min, labels, at };
        }, shot);
        assert.ok(worst.labels > 4, JSON.stringify(worst));
        assert.ok(worst.min >= 4.5, width + ' px: a map label at ' + worst.min.toFixed(2) + ':1');
        await context.close();
      }
    });

    it('framed in the hub at 320 and 360 px: the same', async () => {
      for (const width of [320, 360]) {
        const context = await browser.newContext({ viewport: { width, height: 780 }, reducedMotion: 'reduce' });
        const page = await context.newPage();
        await page.route(h.isAction('mounts'), (route) => h.json(route, DRIVES));
        await page.goto(host.url + '/hub?theme=' + theme);
        const frame = await (await page.waitForSelector('#frame')).contentFrame();
        await ready(frame);
        const got = await frame.evaluate(measure);
        assert.deepEqual(got.scroll, [], width + ' px: sideways scroll in the frame');
        assert.equal(got.names, TREE.length + 2 * 10);
        assert.deepEqual(got.broken, [], width + ' px: names over two lines in the frame');
        assert.equal(await page.evaluate(() => document.documentElement.scrollWidth - document.documentElement.clientWidth), 0);
        await context.close();
      }
    });
  });
}
