#!/usr/bin/env node
// Takes what the load client compares replies with, by running the plugin
// once per kind with the environment the host gives it.
//
//   node tests/load/prepare.js PLUGIN TREE_JSON OUT_JSON
//
// TREE_JSON is gentree.js's output. OUT_JSON gets
//   { "tree": TREE_JSON's object, "page": the page body in base64,
//     "mounts": the mount points of one mounts reply }
// after checking that the tree's listing is what the plugin reports for it
// and that the page is the same on two runs. Exit status 1 on a mismatch.
'use strict';

const fs = require('fs');
const { execFileSync } = require('child_process');

const [plugin, treeFile, outFile] = process.argv.slice(2);
if (!outFile) {
  process.stderr.write('usage: prepare.js PLUGIN TREE_JSON OUT_JSON\n');
  process.exit(2);
}
const tree = JSON.parse(fs.readFileSync(treeFile, 'utf8'));

// The host's environment for a request with this query string.
function run(query) {
  const env = { PATH: process.env.PATH || '/usr/local/bin:/usr/bin:/bin', QUERY_STRING: query,
    USERPROFILE: tree.root, HOME: tree.root };
  const out = execFileSync(plugin, [], { env, stdio: ['ignore', 'pipe', 'pipe'], maxBuffer: 64 << 20 });
  const end = out.indexOf('\r\n\r\n');
  if (end < 0) throw new Error('no header block for query "' + query + '"');
  return out.subarray(end + 4);
}

function die(msg) {
  process.stderr.write('prepare.js: ' + msg + '\n');
  process.exit(1);
}

const page = run('');
if (!page.equals(run(''))) die('the page differs between two runs');

const mounts = JSON.parse(run('action=mounts').toString('utf8'));
if (mounts.ok !== true || !Array.isArray(mounts.mounts)) die('mounts reply is not ok');

const dirs = JSON.parse(run('action=dirs&root=home').toString('utf8'));
const got = JSON.stringify(dirs.entries.map((e) => ({ name: e.name, path: e.path, bytes: e.bytes, is_dir: e.is_dir })));
if (dirs.ok !== true || dirs.truncated !== false || got !== JSON.stringify(tree.expect)) {
  die('the listing of the tree is not the expected one:\n  got  ' + got + '\n  want ' + JSON.stringify(tree.expect));
}

fs.writeFileSync(outFile, JSON.stringify({
  tree,
  page: page.toString('base64'),
  mounts: mounts.mounts.map((m) => m.mount),
}) + '\n');
