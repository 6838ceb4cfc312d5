// Drawing: the real plugin's replies, then exact data through intercepted
// replies (tiles, drive cards, bar classes, bytes, folder table, notes) and
// text that must stay text.
'use strict';
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

let browser;
before(async () => { browser = await h.launch(); });
after(async () => { await browser.close(); });

async function open(query, setup) {
  const context = await browser.newContext();
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  const dialogs = [];
  page.on('dialog', (d) => { dialogs.push(d.message()); d.dismiss().catch(() => {}); });
  const replies = {};
  page.on('response', async (r) => {
    const a = h.actionOf(r.url());
    if (a) {
      const u = new URL(r.url());
      try { (replies[a + ':' + (u.searchParams.get('root') || '')] = await r.json()); } catch (e) { /* not JSON */ }
    }
  });
  if (setup) await setup(page);
  await page.goto(h.HOST_URL + '/plugin_disks' + (query || ''));
  // A reply as the page received it, once its body has been read here too.
  const reply = async (key) => {
    for (let i = 0; i < 400 && !replies[key]; i++) await new Promise((r) => setTimeout(r, 25));
    return replies[key];
  };
  return { context, page, errors, dialogs, reply };
}

describe('real plugin replies', () => {
  it('draws every drive of the mounts reply, in order, with inode figures on Linux', async () => {
    const { context, page, errors, reply } = await open('');
    await h.waitText(page, '#pPlatform', 'linux');
    const m = await reply('mounts:');
    assert.ok(m && m.ok === true && m.mounts.length > 0);
    // Drives first, memory file systems (tmpfs, devtmpfs) in their group.
    const cards = await page.$$eval('#mounts > .mnt, #memMounts > .mnt', (els) => els.map((e) => ({
      mp: e.querySelector('.h .mp').textContent,
      meta: [...e.querySelectorAll('.h .meta')].map((s) => s.textContent),
      nums: [...e.querySelectorAll('.nums span')].map((s) => s.textContent),
      fill: e.querySelector('.bar .fill').className,
      flagged: !!e.querySelector('.flag'),
    })));
    const memory = (x) => ['tmpfs', 'devtmpfs', 'ramfs', 'rootfs', 'hugetlbfs'].includes(x.fstype);
    const drives = m.mounts.filter((x) => !memory(x));
    assert.equal(cards.length, m.mounts.length);
    assert.equal(await page.locator('#mounts > .mnt').count(), drives.length);
    drives.concat(m.mounts.filter(memory)).forEach((x, i) => {
      assert.equal(cards[i].mp, x.mount);
      // The reply has the detail fields: a drive read-only by its mount or
      // by nature says so, one that needs attention is flagged instead.
      assert.deepEqual(cards[i].meta, [x.device + h.DOT + x.fstype, x.pct.toFixed(0) + '%']
        .concat(x.readonly && !x.attention ? ['read-only'] : []));
      assert.equal(cards[i].flagged, x.attention, x.mount);
      assert.equal(x.has_inodes, true, 'the Linux build reports inodes');
      assert.deepEqual(cards[i].nums, [h.bytes(x.used_bytes) + ' used', h.bytes(x.avail_bytes) + ' free',
        h.bytes(x.total_bytes) + ' total', 'inodes ' + x.inodes_pct.toFixed(0) + '%']);
    });
    assert.equal(await h.textOf(page, '#kCount'), String(m.count - (m.mounts.length - drives.length)));
    assert.equal(await h.textOf(page, '#kTotal'), h.bytes(drives.reduce((s, x) => s + x.total_bytes, 0)));
    assert.equal(await h.textOf(page, '#kUsed'), h.bytes(drives.reduce((s, x) => s + x.used_bytes, 0)));
    assert.equal(await h.textOf(page, '#kFree'), h.bytes(drives.reduce((s, x) => s + x.free_bytes, 0)));
    assert.equal(await h.textOf(page, '#nodeLine'),
      `plugin plugin_disks v1.0.2${h.DOT}pid ${m.pid}${h.DOT}${m.utc}${h.DOT}zero outbound network`);
    assert.equal(await page.$eval('#mountEmpty', (e) => e.className), 'muted hide');
    assert.deepEqual(errors, []);
    await context.close();
  });

  it('falls back to HOME and draws the home folder in reply order with its note', async () => {
    const { context, page, errors, reply } = await open('');
    await h.waitText(page, '#dirNote', new RegExp('^' + h.HOME_FIXTURE.replace(/[.*+?^${}()|[\]\\]/g, '\\$&') + h.DOT));
    const d = await reply('dirs:home');
    assert.equal((await reply('dirs:workspace')).error, 'root_unavailable');
    const rows = await page.$$eval('#rows tr', (trs) => trs.map((tr) => [...tr.children].map((td) => [td.className, td.textContent])));
    assert.equal(rows.length, d.entries.length);
    assert.ok(rows.length >= 10);
    d.entries.forEach((e, i) => {
      // Name, size, on disk, share and type; the other columns have tests of their own.
      assert.deepEqual([0, 1, 2, 4, 7].map((c) => rows[i][c]), [['nm', e.name], ['num', h.bytes(e.bytes)],
        ['num', h.bytes(e.disk_bytes)], ['num', e.pct.toFixed(1) + '%'], ['num hide-sm', e.is_dir ? 'dir' : 'file']]);
    });
    // Largest first, as the plugin sorts them.
    assert.equal(rows[0][0][1], 'Videos');
    // The folder's own totals (the fixture is within every limit: whole).
    assert.equal(d.folder_partial, null);
    assert.equal(await h.textOf(page, '#dirNote'), [d.root, h.bytes(d.folder_bytes), h.bytes(d.folder_disk_bytes) + ' on disk',
      d.folder_items + ' items', h.bytes(d.root_used_bytes) + ' used of ' + h.bytes(d.root_total_bytes), d.entries.length + ' entries',
      d.scan_ms + ' ms'].join(h.DOT));
    assert.deepEqual(await page.$$eval('#segRoot button', (bs) => bs.map((b) => b.className)), ['', 'on']);
    assert.equal(await page.$eval('#dirEmpty', (e) => e.className), 'muted hide');
    assert.deepEqual(errors, []);
    await context.close();
  });

  it('shows a file named as markup as text and runs nothing', async () => {
    const { context, page, errors, dialogs } = await open('');
    await h.waitText(page, '#dirNote', /entries/);
    const names = await page.$$eval('#rows td.nm', (tds) => tds.map((td) => td.textContent));
    assert.ok(names.includes('<img src=x onerror=alert(1)>'));
    assert.ok(names.includes('<svg onload=window.__pwned=1>'));
    assert.equal(await page.$$eval('img, svg', (e) => e.length), 0);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);
    assert.deepEqual(dialogs, []);
    assert.deepEqual(errors, []);
    await context.close();
  });
});

describe('summary tiles (intercepted replies)', () => {
  const GB = 1024 ** 3;
  const cases = [
    {
      name: 'two drives: sums, most full, count from the reply',
      reply: h.mountsReply([
        h.drive({ mount: '/', total_bytes: 100 * GB, used_bytes: 60 * GB, free_bytes: 40 * GB, pct: 61.2 }),
        h.drive({ mount: '/srv', total_bytes: 50 * GB, used_bytes: 45 * GB, free_bytes: 5 * GB, pct: 91.0 }),
      ], { count: 7 }),
      tiles: ['7', '150 GB', '105 GB', '45.0 GB', '/srv 91%'], cards: 2, empty: false,
    },
    {
      name: 'equal highest percentages: the first in the reply is most full',
      reply: h.mountsReply([
        h.drive({ mount: '/a', pct: 80 }), h.drive({ mount: '/b', pct: 80 }), h.drive({ mount: '/c', pct: 20 }),
      ]),
      tiles: ['3', '2.9 GB', '1.5 GB', '1.5 GB', '/a 80%'], cards: 3, empty: false,
    },
    {
      name: 'no drives: zeros, an em dash and the empty line',
      reply: h.mountsReply([], { count: 3 }),
      tiles: ['3', '0 B', '0 B', '0 B', h.DASH], cards: 0, empty: true,
    },
    {
      name: 'no mounts array at all counts as empty',
      reply: { ok: true, platform: 'testos', plugin: 'plugin_disks', version: '1.0.2', pid: 1, utc: 'x', count: 0 },
      tiles: ['0', '0 B', '0 B', '0 B', h.DASH], cards: 0, empty: true,
    },
  ];
  for (const c of cases) {
    it(c.name, async () => {
      const { context, page, errors } = await open('', (p) => h.serveReplies(p, c.reply, h.dirsReply([])));
      await h.waitText(page, '#pPlatform', 'testos');
      const tiles = await page.$$eval('.grid .kpi .v', (vs) => vs.map((v) => v.textContent));
      assert.deepEqual(tiles, c.tiles);
      assert.equal(await page.$$eval('#mounts .mnt', (e) => e.length), c.cards);
      assert.equal(await page.$eval('#mountEmpty', (e) => e.classList.contains('hide')), !c.empty);
      assert.deepEqual(errors, []);
      await context.close();
    });
  }
});

describe('drive cards (intercepted replies)', () => {
  let context, page;
  const pcts = [74.9, 75.0, 89.9, 90.0, 0, 42.5, 100, 120, -5];
  const sizes = [0, 1023, 1024, 1536, 100 * 1024, 100 * 1024 - 41, 1024 * 1024 - 1, 5 * 1024 ** 6, null];
  before(async () => {
    const mounts = pcts.map((pct, i) => h.drive({
      mount: '/m' + i, device: 'dev' + i, fstype: 'fs' + i, pct, used_bytes: sizes[i],
      has_inodes: i % 2 === 0, inodes_pct: 2.5,
    }));
    ({ context, page } = await open('', (p) => h.serveReplies(p, h.mountsReply(mounts), h.dirsReply([]))));
    await h.waitText(page, '#pPlatform', 'testos');
  });
  after(async () => { await context.close(); });
  const card = (i) => page.$eval(`#mounts .mnt:nth-child(${i + 1})`, (e) => ({
    html: e.innerHTML,
    fill: e.querySelector('.bar .fill').className,
    width: e.querySelector('.bar .fill').style.width,
    head: [...e.querySelector('.h').children].map((s) => [s.tagName, s.className, s.textContent]),
    nums: [...e.querySelector('.nums').children].map((s) => [s.tagName, s.className, s.textContent]),
  }));

  const classes = [
    [74.9, 'fill'], [75.0, 'fill warn'], [89.9, 'fill warn'], [90.0, 'fill danger'], [0, 'fill'], [42.5, 'fill'],
    [100, 'fill danger'],
  ];
  for (const [pct, cls] of classes) {
    it(`pct ${pct.toFixed(1)} gives the fill class "${cls}"`, async () => {
      assert.equal((await card(pcts.indexOf(pct))).fill, cls);
    });
  }

  const widths = [[42.5, '42.5%'], [74.9, '74.9%'], [120, '100%'], [-5, '0%']];
  for (const [pct, width] of widths) {
    it(`pct ${pct} gives the fill width ${width}`, async () => {
      assert.equal((await card(pcts.indexOf(pct))).width, width);
    });
  }

  const formats = [
    [0, '0 B'], [1023, '1023 B'], [1024, '1.0 KB'], [1536, '1.5 KB'], [100 * 1024, '100 KB'],
    [100 * 1024 - 41, '100.0 KB'], [1024 * 1024 - 1, '1024 KB'], [5 * 1024 ** 6, '5120 PB'], [null, h.DASH],
  ];
  for (const [n, text] of formats) {
    it(`bytes(${n}) is "${text}"`, async () => {
      const c = await card(sizes.indexOf(n));
      assert.deepEqual(c.nums[0], ['SPAN', '', text + ' used']);
    });
  }

  it('has the head, bar and numbers with their classes; inodes or n/a', async () => {
    const c0 = await card(0);
    assert.deepEqual(c0.head, [['SPAN', 'mp', '/m0'], ['SPAN', 'meta', 'dev0' + h.DOT + 'fs0'], ['SPAN', 'meta', '75%']]);
    assert.deepEqual(c0.nums.slice(1), [['SPAN', '', '400 MB free'], ['SPAN', '', '1000 MB total'], ['SPAN', '', 'inodes 3%']]);
    const c1 = await card(1);
    assert.deepEqual(c1.nums[3], ['SPAN', '', 'inodes n/a']);
    assert.equal((await card(5)).head[2][2], '43%');
  });
});

describe('folder table (intercepted replies)', () => {
  // Replies as a program without the detail fields writes them: those
  // columns show a dash.
  const D = h.DASH;
  const cases = [
    {
      name: 'entries in reply order, share to one decimal, dir or file',
      reply: h.dirsReply([
        h.entry('small-first', 10, { pct: 0.04 }), h.entry('big', 5 * 1024 ** 3, { pct: 5.04, is_dir: true }),
        h.entry('mid', 2048, { pct: 12.35, is_dir: 1 }),
      ]),
      rows: [['small-first', '10 B', D, D, '0.0%', D, D, 'file'], ['big', '5.0 GB', D, D, '5.0%', D, D, 'dir'],
        ['mid', '2.0 KB', D, D, '12.3%', D, D, 'file']],
      note: `/home/t${h.DOT}40.0 GB used of 100 GB${h.DOT}3 entries${h.DOT}12 ms`,
      empty: false,
    },
    {
      name: 'truncated: the note ends with the separator and "truncated"',
      reply: h.dirsReply([h.entry('x', 1)], { truncated: true, scan_ms: 999, root: 'C:\\Users\\t' }),
      rows: [['x', '1 B', D, D, '1.5%', D, D, 'file']],
      note: `C:\\Users\\t${h.DOT}40.0 GB used of 100 GB${h.DOT}1 entries${h.DOT}999 ms${h.DOT}truncated`,
      empty: false,
    },
    {
      name: 'no entries: "0 entries" and the empty line',
      reply: h.dirsReply([]),
      rows: [],
      note: `/home/t${h.DOT}40.0 GB used of 100 GB${h.DOT}0 entries${h.DOT}12 ms`,
      empty: true,
    },
    {
      name: 'markup in a reply stays text',
      reply: h.dirsReply([h.entry('<b id=inj>bold</b>', 1), h.entry('<img src=x onerror="window.__pwned=1">', 2)],
        { root: '<i>root</i>' }),
      rows: [['<b id=inj>bold</b>', '1 B', D, D, '1.5%', D, D, 'file'],
        ['<img src=x onerror="window.__pwned=1">', '2 B', D, D, '1.5%', D, D, 'file']],
      note: `<i>root</i>${h.DOT}40.0 GB used of 100 GB${h.DOT}2 entries${h.DOT}12 ms`,
      empty: false,
    },
  ];
  for (const c of cases) {
    it(c.name, async () => {
      const { context, page, errors } = await open('', (p) => h.serveReplies(p, h.mountsReply([]), c.reply));
      await h.waitText(page, '#dirNote', /entries/);
      const rows = await page.$$eval('#rows tr', (trs) => trs.map((tr) => [...tr.children].map((td) => td.textContent)));
      assert.deepEqual(rows, c.rows);
      assert.equal(await h.textOf(page, '#dirNote'), c.note);
      assert.equal(await page.$eval('#dirEmpty', (e) => e.classList.contains('hide')), !c.empty);
      assert.equal(await page.$$eval('#inj, img, i', (e) => e.length), 0);
      assert.equal(await page.evaluate(() => window.__pwned), undefined);
      assert.deepEqual(errors, []);
      await context.close();
    });
  }

  it('markup in a drive reply stays text', async () => {
    const evil = '<img src=x onerror="window.__pwned=1">';
    const reply = h.mountsReply([h.drive({ mount: evil, device: '<b>d</b>', fstype: '<i>f</i>' })],
      { platform: '<u>os</u>', plugin: '<s>p</s>' });
    const { context, page, errors } = await open('', (p) => h.serveReplies(p, reply, h.dirsReply([])));
    await h.waitText(page, '#pPlatform', '<u>os</u>');
    assert.equal(await h.textOf(page, '#mounts .mp'), evil);
    assert.equal(await h.textOf(page, '#kFull'), evil + ' 56%');
    assert.match(await h.textOf(page, '#nodeLine'), /^plugin <s>p<\/s> v1\.0\.2/);
    assert.equal(await page.$$eval('img, b, i, u, s', (e) => e.length), 0);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);
    assert.deepEqual(errors, []);
    await context.close();
  });
});
