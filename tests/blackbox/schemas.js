'use strict';
// Checks a JSON reply of the program against the schemas in docs/schema.
//
// A reply is the program's whole standard output as a byte string (one
// character per byte). The header block decides whether it is JSON at all;
// the 401 status, or else `ok` with `action` or `error`, names the schema.

const fs = require('fs');
const path = require('path');
const Ajv2020 = require('ajv/dist/2020');
const { splitReply } = require('./reply');

const SCHEMA_DIR = path.resolve(__dirname, '..', '..', 'docs', 'schema');
const BASE = 'https://plugin-disks.invalid/schema/';

function isJson(reply) {
  return reply.headers.some((h) => h.name.toLowerCase() === 'content-type' &&
    /^application\/json\b/.test(h.value));
}

// The schema a reply must meet, named by its kind: the action of a success,
// the error code of a refusal, "unauthorized" for the 401.
function kindOf(status, doc) {
  if (status === 401) return 'unauthorized';
  if (doc === null || typeof doc !== 'object') return null;
  if (doc.ok === true) return typeof doc.action === 'string' ? doc.action : null;
  if (doc.ok === false) return typeof doc.error === 'string' ? doc.error : null;
  return null;
}

// A schema sees parsed numbers, to which 5, 5.0 and 5e0 are the same. The
// program writes two kinds: counts as plain digits, and percentages with
// one decimal. Each number token of the body is checked against its key.
const PERCENT_KEYS = new Set(['pct', 'root_pct', 'inodes_pct']);

function numberText(body) {
  const errs = [];
  const re = /"([a-z_]+)":(-?[0-9][0-9.eE+-]*)/g;
  for (let m; (m = re.exec(body));) {
    const [, key, text] = m;
    const want = PERCENT_KEYS.has(key) ? /^(0|[1-9][0-9]{0,2})\.[0-9]$/ : /^(0|[1-9][0-9]*)$/;
    if (!want.test(text)) {
      errs.push(`${key}: ${text} is not written as ${PERCENT_KEYS.has(key) ? 'a percentage with one decimal' : 'plain digits'}`);
    }
  }
  return errs;
}

function load(dir = SCHEMA_DIR) {
  const ajv = new Ajv2020({ strict: true, allErrors: true });
  const kinds = new Map();
  for (const f of fs.readdirSync(dir).filter((n) => n.endsWith('.schema.json')).sort()) {
    const schema = JSON.parse(fs.readFileSync(path.join(dir, f), 'utf8'));
    if (schema.$id !== BASE + f) throw new Error(`${f}: $id must be ${BASE + f}`);
    ajv.addSchema(schema);
    if (f !== 'defs.schema.json') kinds.set(f.replace(/\.schema\.json$/, ''), schema.$id);
  }
  const validators = new Map();
  for (const [kind, id] of kinds) validators.set(kind, ajv.getSchema(id));

  // Returns null for output that is not a JSON reply, else { kind, errors }
  // with errors empty when the reply meets its schema.
  function check(out) {
    const reply = splitReply(out);
    if (!reply || !isJson(reply)) return null;
    let doc;
    try {
      doc = JSON.parse(Buffer.from(reply.body, 'latin1').toString('utf8'));
    } catch (e) {
      return { kind: null, errors: ['body is not JSON: ' + e.message] };
    }
    const numbers = numberText(reply.body);
    if (numbers.length) return { kind: null, errors: numbers };
    const kind = kindOf(reply.status, doc);
    const validate = kind && validators.get(kind);
    if (!validate) return { kind, errors: [`no schema for this reply (kind ${JSON.stringify(kind)})`] };
    if (validate(doc)) return { kind, errors: [] };
    return {
      kind,
      errors: validate.errors.map((e) => `${kind}.schema.json: ${e.instancePath || '/'} ${e.message}` +
        (e.params && Object.keys(e.params).length ? ' ' + JSON.stringify(e.params) : '')),
    };
  }
  return { check, kinds: [...kinds.keys()] };
}

module.exports = { load, SCHEMA_DIR };
