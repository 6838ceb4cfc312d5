#!/usr/bin/env node
// The operator's merge that docs/prometheus.md asks for ("Merge ... of
// $d/prometheus.yml into /etc/prometheus/prometheus.yml"), done on the text
// as an editor would: the shipped rule file goes into the target's
// rule_files, the named jobs (each with the comment lines above it) at the
// end of its scrape_configs. The target must have both keys at the top
// level with scrape_configs last, as Debian's prometheus.yml has.
//
//   node merge.js TARGET SHIPPED [--rules] [--all | JOB...]
'use strict';
const fs = require('fs');

function fail(msg) {
  process.stderr.write(`merge.js: ${msg}\n`);
  process.exit(1);
}

const args = process.argv.slice(2);
const [target, shipped] = args;
if (!target || !shipped) fail('usage: node merge.js TARGET SHIPPED [--rules] [--all | JOB...]');
const rules = args.includes('--rules');
const all = args.includes('--all');
const wanted = args.slice(2).filter((a) => !a.startsWith('--'));

const topKey = (line) => /^[A-Za-z_]/.test(line);
const keyLine = (lines, key, file) => {
  const at = lines.findIndex((l) => new RegExp(`^${key}:\\s*(#.*)?$`).test(l));
  if (at < 0) fail(`${file} has no top-level ${key}`);
  return at;
};

const from = fs.readFileSync(shipped, 'utf8').replace(/\n$/, '').split('\n');
const into = fs.readFileSync(target, 'utf8').replace(/\n$/, '').split('\n');

// The shipped list items of rule_files, and its jobs: from the comment
// lines just above a job's "- job_name:" line to the next job's.
const rulesAt = keyLine(from, 'rule_files', shipped);
const ruleItems = [];
for (let i = rulesAt + 1; i < from.length && !topKey(from[i]); i++) {
  if (/^\s+-\s/.test(from[i])) ruleItems.push(from[i]);
}
const scrapeAt = keyLine(from, 'scrape_configs', shipped);
if (from.slice(scrapeAt + 1).some(topKey)) fail(`${shipped}: scrape_configs is not its last key`);
const starts = [];
for (let i = scrapeAt + 1; i < from.length; i++) {
  const m = /^ {2}- job_name: (\S+)\s*$/.exec(from[i]);
  if (!m) continue;
  let s = i;
  while (s - 1 > scrapeAt && /^\s+#/.test(from[s - 1])) s--;
  starts.push({ name: m[1], start: s });
}
const jobs = new Map(starts.map((j, k) => [j.name, from.slice(j.start, k + 1 < starts.length ? starts[k + 1].start : from.length)]));
for (const name of wanted) if (!jobs.has(name)) fail(`${shipped} has no job ${name}`);
const chosen = all ? [...jobs.keys()] : wanted;
if (!chosen.length && !rules) fail('nothing to merge');

// Into the target: the rule items right under its rule_files, the jobs at
// its end, with a blank line before each.
const targetScrape = keyLine(into, 'scrape_configs', target);
if (into.slice(targetScrape + 1).some(topKey)) fail(`${target}: scrape_configs is not its last key`);
if (rules) into.splice(keyLine(into, 'rule_files', target) + 1, 0, ...ruleItems);
for (const name of chosen) {
  const block = jobs.get(name);
  while (block.length && block[block.length - 1].trim() === '') block.pop();
  into.push('', ...block);
}
fs.writeFileSync(target, into.join('\n') + '\n');
