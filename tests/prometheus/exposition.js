'use strict';
// Reads a reply of action=metrics (Prometheus text format 0.0.4) into its
// samples, checking on the way what the format asks of it: every family
// with its HELP and TYPE first and all its samples together, each series
// once, label values in valid UTF-8 with only \\, \" and \n escaped; a
// family is a gauge, or a counter whose name ends in _total.

// The body (a byte string, one character per byte) into
// { families: [name, ...], samples: [{ name, labels: {k: v}, value }] }.
// Label values come back as JavaScript strings (decoded from UTF-8).
// Throws on anything the format does not allow.
function parseExposition(body) {
  const families = [];
  const samples = [];
  const seen = new Set();
  const lines = body.split('\n');
  if (lines.pop() !== '') throw new Error('the body does not end with a line feed');
  let current = null;
  let helped = null;
  for (const [i, line] of lines.entries()) {
    const where = `line ${i + 1}`;
    let m;
    if ((m = /^# HELP ([a-zA-Z_:][a-zA-Z0-9_:]*) (.*)$/.exec(line))) {
      if (families.includes(m[1])) throw new Error(`${where}: family ${m[1]} again`);
      helped = m[1];
      continue;
    }
    if ((m = /^# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) (gauge|counter)$/.exec(line))) {
      if (helped !== m[1]) throw new Error(`${where}: TYPE of ${m[1]} without its HELP just before`);
      if ((m[2] === 'counter') !== m[1].endsWith('_total')) throw new Error(`${where}: ${m[1]} is a ${m[2]}`);
      families.push(m[1]);
      current = m[1];
      continue;
    }
    if (line.startsWith('#') || line === '') throw new Error(`${where}: unexpected line ${JSON.stringify(line)}`);
    const s = parseSample(line, where);
    if (s.name !== current) throw new Error(`${where}: sample of ${s.name} outside its family`);
    const key = s.name + JSON.stringify(Object.entries(s.labels).sort());
    if (seen.has(key)) throw new Error(`${where}: series written twice: ${line}`);
    seen.add(key);
    samples.push(s);
  }
  return { families, samples };
}

function parseSample(line, where) {
  const m = /^([a-zA-Z_:][a-zA-Z0-9_:]*)/.exec(line);
  if (!m) throw new Error(`${where}: no metric name`);
  const name = m[1];
  let at = name.length;
  const labels = {};
  if (line[at] === '{') {
    at++;
    while (line[at] !== '}') {
      const k = /^([a-zA-Z_][a-zA-Z0-9_]*)="/.exec(line.slice(at));
      if (!k) throw new Error(`${where}: bad label at ${at}`);
      at += k[0].length;
      let bytes = '';
      for (;;) {
        const c = line[at++];
        if (c === undefined) throw new Error(`${where}: unterminated label value`);
        if (c === '"') break;
        if (c === '\\') {
          const e = line[at++];
          if (e === '\\' || e === '"') bytes += e;
          else if (e === 'n') bytes += '\n';
          else throw new Error(`${where}: escape \\${e} in a label value`);
        } else bytes += c;
      }
      const buf = Buffer.from(bytes, 'latin1');
      const text = buf.toString('utf8');
      if (!Buffer.from(text, 'utf8').equals(buf)) throw new Error(`${where}: label value not valid UTF-8`);
      if (k[1] in labels) throw new Error(`${where}: label ${k[1]} twice`);
      labels[k[1]] = text;
      if (line[at] === ',') at++;
      else if (line[at] !== '}') throw new Error(`${where}: expected , or } at ${at}`);
    }
    at++;
  }
  const v = /^ ([0-9]+(\.[0-9]+)?)$/.exec(line.slice(at));
  if (!v) throw new Error(`${where}: bad value in ${JSON.stringify(line)}`);
  return { name, labels, value: v[1] };
}

// The body of a program's standard output (latin1 string): after the
// header block, which must be the metrics one.
const METRICS_HEADER = 'Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n' +
  'Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n';

function metricsBody(out) {
  if (!out.startsWith(METRICS_HEADER)) throw new Error('not a metrics reply: ' + JSON.stringify(out.slice(0, 200)));
  return out.slice(METRICS_HEADER.length);
}

// A JSON reply's object (the program's output as a latin1 string).
function jsonBody(out) {
  const at = out.indexOf('\r\n\r\n');
  return JSON.parse(Buffer.from(out.slice(at + 4), 'latin1').toString('utf8'));
}

module.exports = { parseExposition, metricsBody, jsonBody, METRICS_HEADER };
