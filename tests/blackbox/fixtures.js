'use strict';
// Named folder trees that the black-box cases use as home folders.
//
// Each generator fills an empty directory. Trees are built once into a cache
// folder and reused: a tree is built under a temporary name and renamed into
// place, so two runners sharing one cache (native and Wine at the same time)
// never see half a tree. The cache folder's name carries a hash of this file,
// so editing a generator gives fresh trees.

const fs = require('fs');
const path = require('path');
const crypto = require('crypto');

const KiB = 1024;
const GiB = 1024 * 1024 * 1024;
const TiB = 1024 * GiB;

// A file of `size` bytes. Large sizes are made sparse (no data written).
function file(p, size = 0, fill = 'x') {
  if (size <= 64 * KiB) {
    fs.writeFileSync(p, Buffer.alloc(size, fill));
  } else {
    const fd = fs.openSync(p, 'w');
    fs.ftruncateSync(fd, size);
    fs.closeSync(fd);
  }
}

function dir(p) {
  fs.mkdirSync(p, { recursive: true });
  return p;
}

// `n` empty files named prefix + zero-padded index, as fast as Node allows.
function emptyFiles(d, n, prefix = 'f') {
  const width = String(n - 1).length;
  for (let i = 0; i < n; i++) {
    fs.closeSync(fs.openSync(path.join(d, prefix + String(i).padStart(width, '0')), 'w'));
  }
}

// A tree of `total` countable entries: 12 directories p00..p11 directly in the
// root, the rest spread as files among them. Each directory holds one file
// "size" of 100 + index bytes, so every directory total is known.
function countTree(root, total) {
  const dirs = 12;
  let files = total - dirs;
  for (let i = 0; i < dirs; i++) {
    const d = dir(path.join(root, 'p' + String(i).padStart(2, '0')));
    const here = Math.floor(files / (dirs - i));
    files -= here;
    file(path.join(d, 'size'), 100 + i);
    emptyFiles(d, here - 1);
  }
}

const generators = {
  // Nothing but "." and "..".
  empty() {},
  // A folder nobody but root may list (its mode is 000).
  locked(root) { fs.chmodSync(root, 0); },

  // Known sizes that add up. Totals: docs 3400, "my file.txt" 250,
  // one.txt 100, .cache 11, .hidden 7, B/a/ab 5 each (a tie), emptydir 0.
  sizes(root) {
    const docs = dir(path.join(root, 'docs'));
    file(path.join(docs, 'readme.txt'), 1000);
    file(path.join(docs, '.keep'), 0);
    file(path.join(dir(path.join(docs, 'sub')), 'data.bin'), 2345);
    file(path.join(dir(path.join(docs, 'sub', 'deeper')), 'z'), 55);
    file(path.join(root, 'my file.txt'), 250);
    file(path.join(root, 'one.txt'), 100);
    file(path.join(dir(path.join(root, '.cache')), 'c'), 11);
    file(path.join(root, '.hidden'), 7);
    for (const n of ['B', 'a', 'ab']) file(path.join(root, n), 5);
    dir(path.join(root, 'emptydir'));
  },

  // Sparse files: 5 GiB at the root, 5 GiB + 1 inside a folder, and one of
  // 8 TiB, far above any test volume, whose percentage is held at 100.
  sparse(root) {
    file(path.join(root, 'five.img'), 5 * GiB);
    const big = dir(path.join(root, 'big'));
    file(path.join(big, 'inner.img'), 5 * GiB);
    file(path.join(big, 'x'), 1);
    file(path.join(root, 'huge.img'), 8 * TiB);
    file(path.join(root, 'small'), 1);
  },

  // Links to directories: one at the root, one inside a listed folder
  // pointing back up (a loop if it were followed).
  'links-dir'(root) {
    const real = dir(path.join(root, 'real'));
    file(path.join(real, 'f'), 500);
    fs.symlinkSync('real', path.join(root, 'to-real'));
    fs.symlinkSync('..', path.join(real, 'up'));
    fs.symlinkSync('/', path.join(real, 'to-slash'));
  },

  // Links to files, at the root and inside a listed folder.
  'links-file'(root) {
    const real = dir(path.join(root, 'real'));
    file(path.join(real, 'f'), 500);
    file(path.join(root, 'plain'), 20);
    fs.symlinkSync('plain', path.join(root, 'to-plain'));
    fs.symlinkSync('f', path.join(real, 'to-f'));
    fs.symlinkSync('missing', path.join(root, 'dangling'));
  },

  // d1/d2/.../d9, one file in each: the file in dN has 2^(N-1) bytes.
  // Files down to d8 (level 9) count: 1 + 2 + ... + 128 = 255; the file in
  // d9 (level 10, 256 bytes) does not.
  depth(root) {
    let d = root;
    for (let i = 1; i <= 9; i++) {
      d = dir(path.join(d, 'd' + i));
      file(path.join(d, 'f' + i), 2 ** (i - 1));
    }
  },

  // Exactly 512 and 513 countable root entries.
  root512(root) { emptyFiles(root, 512); },
  root513(root) { emptyFiles(root, 513); },

  // Exactly 120000 and 120001 countable entries in all.
  count120000(root) { countTree(root, 120000); },
  count120001(root) { countTree(root, 120001); },

  // A name that would be markup if it were ever pasted into a page.
  markup(root) {
    file(path.join(root, '<img src=x onerror=alert(1)>'), 3);
  },

  // Names that json_str must escape, plus a space and high bytes.
  bytes(root) {
    const names = [
      Buffer.from('q"uote'),
      Buffer.from('back\\slash'),
      Buffer.from([0x63, 0x01, 0x78]),         // c \x01 x
      Buffer.from([0x74, 0x09, 0x62]),         // t \t b
      Buffer.from([0x64, 0x7f, 0x65]),         // d \x7f e
    ];
    names.forEach((n, i) => {
      const p = Buffer.concat([Buffer.from(root + path.sep), n]);
      fs.writeFileSync(p, Buffer.alloc(10 + i, 'y'));
    });
  },

  // Names in UTF-8 beyond any one code page: Latin accents and
  // Japanese. Totals: Música 300, Téléchargements 200, 日本語.txt 50.
  'utf8-names'(root) {
    const music = dir(path.join(root, 'Música'));
    file(path.join(music, 'canción.mp3'), 300);
    file(path.join(dir(path.join(root, 'Téléchargements')), 'été.pdf'), 200);
    file(path.join(root, '日本語.txt'), 50);
  },

  // Names that the Western code page (1252) holds. Totals: Música 300,
  // Téléchargements 200.
  'latin-names'(root) {
    const music = dir(path.join(root, 'Música'));
    file(path.join(music, 'canción.mp3'), 300);
    file(path.join(dir(path.join(root, 'Téléchargements')), 'été.pdf'), 200);
  },

  // Long paths. Under the root: a{90}/a{90}/a{90}/f (5 bytes; that folder's
  // path passes 259 bytes), b{200} five levels deep with f (7 bytes) on
  // level 6 (its folder's path passes 1023 bytes), and a 255-byte name
  // with a folder beneath it (3 bytes).
  'long-paths'(root) {
    const chain = (name, levels, size) => {
      let d = root;
      for (let i = 0; i < levels; i++) d = dir(path.join(d, name));
      file(path.join(d, 'f'), size);
    };
    chain('a'.repeat(90), 3, 5);
    chain('b'.repeat(200), 5, 7);
    file(path.join(dir(path.join(root, 'n'.repeat(255), 'sub')), 'f'), 3);
  },

  // Names of many multi-byte characters, each as long as a Linux name can
  // be: 日 x 85 (255 bytes) three levels deep with f (9 bytes), so the
  // deepest folder's path passes 259 UTF-16 units; U+1F600 x 63 (252
  // bytes, two UTF-16 units each; 11 bytes); é x 127 (254 bytes; 2 bytes).
  'wide-names'(root) {
    const sun = '\u65e5'.repeat(85);
    file(path.join(dir(path.join(root, sun, sun, sun)), 'f'), 9);
    file(path.join(root, '\u{1F600}'.repeat(63)), 11);
    file(path.join(root, '\u00e9'.repeat(127)), 2);
  },

  // Names that are not valid UTF-8: Latin-1 bytes, a lone 0xFF, and a
  // folder whose name is cut in the middle of a character.
  'byte-names'(root) {
    const at = (...parts) => Buffer.concat([Buffer.from(root + path.sep), ...parts]);
    fs.writeFileSync(at(Buffer.from([0x64, 0xe9, 0x6a, 0xe0])), Buffer.alloc(30, 'y'));  // d\xe9j\xe0
    fs.writeFileSync(at(Buffer.from([0xff])), Buffer.alloc(20, 'y'));
    fs.mkdirSync(at(Buffer.from([0x63, 0x75, 0x74, 0xe2, 0x82])));                  // cut\xe2\x82
    fs.writeFileSync(at(Buffer.from([0x63, 0x75, 0x74, 0xe2, 0x82]), Buffer.from('/f')), Buffer.alloc(10, 'y'));
  },

  // Names a metrics label value must escape or repair, files only (so
  // each takes one 4 KiB block on both builds): q"uote (10 bytes),
  // back\slash (11), new<LF>line (12), t<TAB>ab (13), d\xe9j\xe0 (14),
  // \xff (15) and \xfe (16), the last two the same label value.
  'label-names'(root) {
    const names = [
      Buffer.from('q"uote'),
      Buffer.from('back\\slash'),
      Buffer.from('new\nline'),
      Buffer.from('t\tab'),
      Buffer.from([0x64, 0xe9, 0x6a, 0xe0]),
      Buffer.from([0xff]),
      Buffer.from([0xfe]),
    ];
    names.forEach((n, i) => {
      fs.writeFileSync(Buffer.concat([Buffer.from(root + path.sep), n]), Buffer.alloc(10 + i, 'y'));
    });
  },

  // Names that end in a dot or a space, or are only dots, which Windows
  // strips from a path it normalises: "x." (3 bytes beneath) beside a link
  // "x" to a folder outside home, "y " (6 bytes) and "..." (8 bytes).
  'dot-names'(root) {
    file(path.join(dir(path.join(root, 'x.')), 'real.txt'), 3);
    fs.symlinkSync('/', path.join(root, 'x'));
    file(path.join(dir(path.join(root, 'y ')), 'f'), 6);
    file(path.join(dir(path.join(root, '...')), 'g'), 8);
  },

  // The detail reply's tree, with set times (seconds since 1970, UTC). On
  // a volume of 4 KiB blocks: top.bin 10000 bytes (12288 on disk),
  // ordinary/plain.txt 5000 (8192), sparse/disk.img 10 MiB with no data
  // (0), links/orig with nine more names l1..l9 (one file of 40000 bytes,
  // 40960), deep/mid.bin 30000 (32768) and deep/a/b/c/big.bin 60000
  // (61440), ties/B and ties/a 20000 each (20480), and past/d1/.../d8/far.bin
  // (64000) one level past the depth limit, never counted.
  detail(root) {
    const at = (...p) => path.join(root, ...p);
    const times = [];
    const put = (p, size, t) => { file(p, size); times.push([p, t]); };
    const folder = (p, t) => { dir(p); times.push([p, t]); return p; };
    put(at('top.bin'), 10000, 1451606400);                          // 2016-01-01
    put(path.join(folder(at('ordinary'), 1614834367), 'plain.txt'), 5000, 1614834367);  // 2021-03-04T05:06:07Z
    put(path.join(folder(at('sparse'), 1577836800), 'disk.img'), 10 * 1024 * 1024, 1577836800);  // 2020-01-01
    put(path.join(folder(at('links'), 1651820889), 'orig'), 40000, 1651820889);  // 2022-05-06T07:08:09Z
    for (let i = 1; i <= 9; i++) fs.linkSync(at('links', 'orig'), at('links', 'l' + i));
    folder(at('deep'), 1546300800);                                 // 2019-01-01
    put(at('deep', 'mid.bin'), 30000, 1546300800);
    folder(at('deep', 'a'), 1546300800);
    folder(at('deep', 'a', 'b'), 1546300800);
    folder(at('deep', 'a', 'b', 'c'), 1546300800);
    put(at('deep', 'a', 'b', 'c', 'big.bin'), 60000, 1672531200);  // 2023-01-01
    folder(at('ties'), 1514764800);                                 // 2018-01-01
    put(at('ties', 'B'), 20000, 1514764800);
    put(at('ties', 'a'), 20000, 1514764800);
    let d = folder(at('past'), 1483228800);                         // 2017-01-01
    for (let i = 1; i <= 8; i++) d = folder(path.join(d, 'd' + i), 1483228800);
    put(path.join(d, 'far.bin'), 64000, 1893456000);                // 2030-01-01
    // Deepest first: setting a time inside a folder changes nothing of
    // the folder's own, but creating an entry did.
    for (const [p, t] of times.reverse()) fs.utimesSync(p, t, t);
  },

  // Links take blocks of their own, which du counts: own/ holds twenty
  // links with 100-byte targets (a block each on ext4), a short one (kept
  // in the inode: none) and real.txt (5000 bytes); top-link, a long link
  // in the folder itself, is no entry.
  'link-blocks'(root) {
    const own = dir(path.join(root, 'own'));
    file(path.join(own, 'real.txt'), 5000);
    for (let i = 0; i < 20; i++) {
      fs.symlinkSync('t'.repeat(98) + String(i).padStart(2, '0'), path.join(own, 'l' + i));
    }
    fs.symlinkSync('real.txt', path.join(own, 'short'));
    fs.symlinkSync('own/' + 'r'.repeat(96), path.join(root, 'top-link'));
    file(path.join(root, 'plain.txt'), 100);
  },

  // A symbolic link with two names (as cp -al and rsnapshot make them):
  // its own block counts once, in the entry named first, as du counts it.
  'linked-links'(root) {
    const a = dir(path.join(root, 'a'));
    const b = dir(path.join(root, 'b'));
    fs.symlinkSync('t'.repeat(300), path.join(a, 's'));
    fs.linkSync(path.join(a, 's'), path.join(b, 's2'));
    file(path.join(b, 'f'), 100);
  },

  // Hard links shared by sibling entries, each to go to the entry whose
  // name comes first in byte order: Media/film (300000 bytes written, not
  // sparse) is also zz/copy; x is in a, b and c; Shared, a file of the
  // folder itself, is also c/shared.
  shared(root) {
    const at = (...p) => path.join(root, ...p);
    dir(at('Media'));
    fs.writeFileSync(at('Media', 'film'), Buffer.alloc(300000, 'f'));
    dir(at('zz'));
    fs.linkSync(at('Media', 'film'), at('zz', 'copy'));
    file(at('zz', 'own'), 10);
    for (const d of ['c', 'b', 'a']) dir(at(d));
    file(at('c', 'x'), 20000);
    fs.linkSync(at('c', 'x'), at('b', 'x'));
    fs.linkSync(at('c', 'x'), at('a', 'x'));
    file(at('Shared'), 9000);
    fs.linkSync(at('Shared'), at('c', 'shared'));
  },

  // Files by type and by age (kinds_vs_find.js): extensions in upper
  // case, several dots, a leading or a trailing dot, none, 16 bytes and
  // longer, UTF-8 names; more than twelve types; times in every band
  // counted from when the tree is made (one in the future); a file with
  // names in two entries (the one named first holds it) and one with two
  // names of different types in one entry; a file past the depth limit.
  kinds(root) {
    const at = (...p) => path.join(root, ...p);
    const now = Math.floor(Date.now() / 1000), day = 86400;
    const put = (rel, size, t) => {
      const p = at(...rel.split('/'));
      dir(path.dirname(p));
      file(p, size);
      fs.utimesSync(p, t, t);
    };
    put('Videos/Holiday.MKV', 300000, now - 400 * day);
    put('Videos/clip.mp4', 120000, now - 40 * day);
    put('Videos/trailer.MP4', 20000, now - 3600);
    put('Documents/report.final.pdf', 50000, now - 3 * day);
    put('Documents/notes.txt', 3000, now - 12 * day);
    put('Documents/README', 1000, now - 2 * day);
    put('Documents/.hidden', 500, now - 2 * day);
    put('Documents/odd.', 700, now - 20 * day);
    put('Code/archive.tar.gz', 40000, now - 200 * day);
    put('Code/build.some_long_suffix_name', 9000, now - day - 60);
    put('Code/x.ABCDEFGHIJKLMNOP', 800, now - 5 * day);
    put('Música/canción.MP3', 60000, now - 800 * day);
    put('Música/été.FlÀc', 6000, now - 100 * day);
    put('Future/from.tomorrow', 100, now + day);
    for (let i = 0; i < 6; i++) put(`Misc/f.t${i}`, 100 * (i + 1), now - i * 30 * day);
    put('AAA/first.iso', 30000, now - 500 * day);
    fs.linkSync(at('AAA', 'first.iso'), at('Misc', 'last.img'));
    put('Pairs/z.zip', 25000, now - 6 * day);
    fs.linkSync(at('Pairs', 'z.zip'), at('Pairs', 'y.bin'));
    put('Deep/1/2/3/4/5/6/7/8/far.log', 70000, now - 400 * day);
    put('Deep/1/2/3/4/5/6/7/near.log', 700, now - 400 * day);
  },

  // Largest files of one size, whose order only their paths decide: a/x
  // before a0 on both builds (names compared one by one), and a name that
  // holds a backslash (odd/back\slash), which Wine hands out as it is.
  'path-order'(root) {
    file(path.join(dir(path.join(root, 'a')), 'x'), 3000);
    file(path.join(root, 'a0'), 3000);
    file(path.join(dir(path.join(root, 'odd')), 'back\\slash'), 3000);
  },

  // A folder that may be read but not searched: shut (mode 644) holds two
  // files, beside open.txt. Walked by another user than its owner, its
  // names can be listed but nothing in it can be looked at.
  unsearchable(root) {
    const shut = dir(path.join(root, 'shut'));
    file(path.join(shut, 'a'), 100);
    file(path.join(shut, 'b'), 50);
    file(path.join(root, 'open.txt'), 10);
    fs.chmodSync(shut, 0o644);
  },

  // Folders below home for sub= requests. two/levels holds a.txt (100)
  // and inner/b (50); Música/Canción holds été.mp3 (300); top/d1/.../d9
  // is the depth tree one level down; many holds 513 files. On the way: a link
  // to "/", a link to a folder, a file. box/inner holds 120000 countable
  // entries, so box holds 120001.
  nest(root) {
    const levels = dir(path.join(root, 'two', 'levels'));
    file(path.join(levels, 'a.txt'), 100);
    file(path.join(dir(path.join(levels, 'inner')), 'b'), 50);
    file(path.join(root, 'two', 'other.bin'), 7);
    file(path.join(dir(path.join(root, 'Música', 'Canción')), 'été.mp3'), 300);
    fs.symlinkSync('/', path.join(root, 'to-slash'));
    dir(path.join(root, 'real', 'inside'));
    fs.symlinkSync('real', path.join(root, 'link-real'));
    file(path.join(root, 'file.txt'), 20);
    generators.depth(dir(path.join(root, 'top')));
    emptyFiles(dir(path.join(root, 'many')), 513);
    countTree(dir(path.join(root, 'box', 'inner')), 120000);
  },
};

// A path that is never created: a home folder that does not exist.
const absent = new Set(['missing']);

function cacheRoot(base) {
  const hash = crypto.createHash('sha1')
    .update(fs.readFileSync(__filename)).digest('hex').slice(0, 10);
  return path.join(base, 'trees-' + hash);
}

function has(name) {
  return Object.prototype.hasOwnProperty.call(generators, name) || absent.has(name);
}

// The path of the named tree inside `base`, building it when missing.
function ensure(base, name) {
  const root = cacheRoot(base);
  const target = path.join(root, name);
  if (absent.has(name)) return target;
  if (!Object.prototype.hasOwnProperty.call(generators, name)) {
    throw new Error('unknown fixture: ' + name);
  }
  if (fs.existsSync(target)) return target;
  fs.mkdirSync(root, { recursive: true });
  const tmp = `${target}.tmp-${process.pid}`;
  fs.rmSync(tmp, { recursive: true, force: true });
  fs.mkdirSync(tmp);
  generators[name](tmp);
  try {
    fs.renameSync(tmp, target);
  } catch (e) {
    // Another runner finished the same tree first: use theirs.
    fs.rmSync(tmp, { recursive: true, force: true });
    if (!fs.existsSync(target)) throw e;
  }
  return target;
}

module.exports = { ensure, has, names: () => [...Object.keys(generators), ...absent] };

// "node fixtures.js <dir>" builds every tree into <dir> ahead of the runs.
if (require.main === module) {
  const base = process.argv[2];
  if (!base) {
    process.stderr.write('usage: node fixtures.js <dir>\n');
    process.exit(2);
  }
  for (const name of module.exports.names()) ensure(path.resolve(base), name);
  process.stdout.write('fixtures ready in ' + cacheRoot(path.resolve(base)) + '\n');
}
