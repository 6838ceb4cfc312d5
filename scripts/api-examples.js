'use strict';
// The example blocks of docs/api.md against the replies scripts/api-examples
// produced. A block is the fenced block right after a marker line
//   <!-- example: NAME -->
// and holds the file NAME of the replies folder: a "$" line with the run,
// then the reply with its CR LF line ends written as LF.
//
//   node api-examples.js write <replies folder> <doc>   rewrite the blocks
//   node api-examples.js check <replies folder> <doc>   compare them
//
// Every marker must name a reply, and every reply must have a block. The
// check allows the process id, the stamp, the walk time and the free-space
// figures to differ (they change from run to run) and nothing else; it also
// checks each JSON reply against its schema in docs/schema.

const fs = require('fs');
const path = require('path');
const { normaliseLive } = require('../tests/blackbox/reply');
const schemas = require('../tests/blackbox/schemas');

const MARKER = /(<!-- example: ([a-z_]+) -->\n```[^\n]*\n)([\s\S]*?)(```)/g;

function main() {
  const [mode, dir, docPath] = process.argv.slice(2);
  if (!['write', 'check'].includes(mode) || !dir || !docPath) {
    process.stderr.write('usage: node api-examples.js write|check <replies folder> <doc>\n');
    process.exit(2);
  }
  const replies = new Map();
  for (const f of fs.readdirSync(dir)) {
    const p = path.join(dir, f);
    if (/^[a-z_]+$/.test(f) && fs.statSync(p).isFile()) {
      replies.set(f, fs.readFileSync(p, 'latin1'));
    }
  }
  const doc = fs.readFileSync(docPath, 'latin1');
  const errs = [];
  const used = new Set();
  const check = schemas.load();
  const next = doc.replace(MARKER, (all, head, name, old, close) => {
    const fresh = replies.get(name);
    if (fresh === undefined) {
      errs.push(`${docPath}: the block "${name}" names no example`);
      return all;
    }
    used.add(name);
    // The reply without its "$" line, with CR LF back, for the schema.
    const v = check.check(withCrLf(fresh.slice(fresh.indexOf('\n') + 1)));
    if (v && v.errors.length) errs.push(`example "${name}" does not meet its schema:\n    ${v.errors.join('\n    ')}`);
    if (mode === 'check' && normaliseBlock(old) !== normaliseBlock(fresh)) {
      errs.push(`${docPath}: the block "${name}" differs from what the program writes now:\n` +
        `  in the document: ${old.trimEnd()}\n  written now:     ${fresh.trimEnd()}`);
    }
    return head + fresh + close;
  });
  for (const name of replies.keys()) {
    if (!used.has(name)) errs.push(`${docPath}: no block for the example "${name}"`);
  }
  if (mode === 'write' && !errs.length) {
    fs.writeFileSync(docPath, next, 'latin1');
    process.stdout.write(`${docPath}: ${used.size} example blocks written\n`);
  }
  if (errs.length) {
    for (const e of errs) process.stderr.write(e + '\n');
    if (mode === 'check') process.stderr.write('run scripts/api-examples to rewrite the blocks\n');
    process.exit(1);
  }
  if (mode === 'check') process.stdout.write(`${docPath}: ${used.size} example blocks match the program\n`);
}

// A reply as the program wrote it: the header lines end in CR LF again.
function withCrLf(text) {
  const end = text.indexOf('\n\n');
  if (end < 0) return text;
  return text.slice(0, end).split('\n').join('\r\n') + '\r\n\r\n' + text.slice(end + 2);
}

// Each line of a block: a JSON body normalised, the rest as it is. The
// example tree's times are whole days before the hour of the run, so a
// time is compared as the whole days it lies before the reply's utc.
function normaliseBlock(text) {
  return text.split('\n').map((line) => normaliseLive(daysBefore(line))).join('\n');
}

function daysBefore(line) {
  const utc = /"utc":"([^"]+)"/.exec(line);
  if (!utc) return line;
  const now = Date.parse(utc[1]);
  return line.replace(/"modified":"([^"]+)"/g, (all, t) =>
    `"modified":"utc-${Math.floor((now - Date.parse(t)) / 86400000)}d"`);
}

main();
