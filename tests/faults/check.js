'use strict';
// Checks one captured reply of the plugin.
//
//   node check.js REPLY_FILE [EXPECT_JSON]
//
// Always: a header block of "Name: value" lines each ended by CR LF, an
// empty line, and one body ended by a single LF; a JSON body (by its
// content type) is one object with "ok" first, and a dirs reply's count
// equals its entries. EXPECT_JSON may give top-level values that must
// match ("count", "truncated", "ok", ...) and "entries": {name: bytes}
// that must be exactly the listed entries and their sizes.
// Exits 0 when the reply is good; otherwise prints why and exits 1.
const fs = require('fs');

function fail(msg) {
  console.log(msg);
  process.exit(1);
}

const raw = fs.readFileSync(process.argv[2]);
const expect = process.argv[3] ? JSON.parse(process.argv[3]) : {};
const text = raw.toString('latin1');

const end = text.indexOf('\r\n\r\n');
if (end < 0) fail('no empty line after the header block');
const lines = text.slice(0, end).split('\r\n');
for (const l of lines) {
  if (/[\r\n]/.test(l)) fail('bare CR or LF in header line ' + JSON.stringify(l));
  if (!/^[A-Za-z-]+: ./.test(l)) fail('bad header line ' + JSON.stringify(l));
}
const body = text.slice(end + 4);
if (!body.endsWith('\n') || body.endsWith('\n\n') || body.endsWith('\r\n'))
  fail('body does not end in exactly one LF');
if (body.includes('\r\n\r\n')) fail('a second header block');

const type = lines.find((l) => l.startsWith('Content-Type: '));
if (!type) fail('no Content-Type');
if (type === 'Content-Type: text/html; charset=utf-8') {
  if (!body.startsWith('<!DOCTYPE html>')) fail('page does not start with a doctype');
  if (Object.keys(expect).length) fail('expected a JSON reply, got the page');
  process.exit(0);
}
if (type !== 'Content-Type: application/json; charset=utf-8') fail('content type ' + type);

let obj;
try {
  // Names are 8-bit bytes; decode as UTF-8 only for parsing.
  obj = JSON.parse(raw.subarray(Buffer.byteLength(text.slice(0, end + 4), 'latin1')).toString('utf8'));
} catch (e) {
  fail('JSON body does not parse: ' + e.message);
}
if (Object.keys(obj)[0] !== 'ok') fail('"ok" is not the first key');
if (/\s/.test(body.slice(0, -1).replace(/"(?:[^"\\]|\\.)*"/g, '""')))
  fail('whitespace between tokens');
if (obj.action === 'dirs') {
  if (obj.count !== obj.entries.length) fail(`count ${obj.count} for ${obj.entries.length} entries`);
  for (let i = 1; i < obj.entries.length; i++)
    if (obj.entries[i - 1].bytes < obj.entries[i].bytes) fail('entries out of order');
}
for (const [k, v] of Object.entries(expect)) {
  if (k === 'entries') {
    const got = {};
    for (const e of obj.entries) got[e.name] = e.bytes;
    const a = JSON.stringify(Object.entries(got).sort());
    const b = JSON.stringify(Object.entries(v).sort());
    if (a !== b) fail(`entries ${a}, expected ${b}`);
  } else if (JSON.stringify(obj[k]) !== JSON.stringify(v)) {
    fail(`${k} is ${JSON.stringify(obj[k])}, expected ${JSON.stringify(v)}`);
  }
}
