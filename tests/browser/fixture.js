#!/usr/bin/env node
// Writes the home folder fixture of the browser tests:
//   node tests/browser/fixture.js DIR
// Sizes are apparent sizes (sparse files), so the fixture is cheap on disk
// while the table shows megabytes and gigabytes. Among the entries is a file
// whose name is markup, which the page must show as text.
'use strict';
const fs = require('fs');
const path = require('path');

const MB = 1024 * 1024;
// [relative path, apparent size in bytes]
const FILES = [
  ['Videos/holiday-2024.mkv', 1900 * MB],
  ['Videos/talk.mp4', 310 * MB],
  ['Downloads/debian-12.iso', 628 * MB],
  ['Downloads/archive.tar.gz', 45 * MB],
  ['projects/site/index.html', 12 * 1024],
  ['projects/site/assets/logo.png', 90 * 1024],
  ['projects/notes/deep/a/b/c/d.txt', 3000],
  ['Documents/report.pdf', 2 * MB + 300 * 1024],
  ['Documents/letters/2023.odt', 48 * 1024],
  ['.cache/thumbnails/big.db', 120 * MB],
  ['notes.txt', 4321],
  ['a b&c.txt', 1536],
  ['<img src=x onerror=alert(1)>', 777],
  ['<svg onload=window.__pwned=1>', 555],
];

function write(dir) {
  fs.mkdirSync(dir, { recursive: true });
  for (const [rel, size] of FILES) {
    const file = path.join(dir, rel);
    fs.mkdirSync(path.dirname(file), { recursive: true });
    fs.writeFileSync(file, '');
    fs.truncateSync(file, size);
  }
  fs.mkdirSync(path.join(dir, 'empty-folder'), { recursive: true });
}

module.exports = { FILES, write };
if (require.main === module) {
  if (process.argv.length !== 3) {
    process.stderr.write('usage: node tests/browser/fixture.js DIR\n');
    process.exit(2);
  }
  write(path.resolve(process.argv[2]));
}
