// The local host (host/server.js) as the plugin expects it: the CGI environment it
// gives the plugin on both routes, the header block it reads back, and the
// real plugin's gate behind it. No browser here.
'use strict';
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawn } = require('node:child_process');
const h = require('./helpers');

// A stand-in plugin that answers with the environment it was given.
const ENV_PLUGIN = `#!${process.execPath}
const q = process.env.QUERY_STRING || '';
const head = [];
if (q.includes('status401')) head.push('Status: 401 Unauthorized');
head.push('Content-Type: application/json; charset=utf-8', 'X-Plugin: env');
process.stdout.write(head.join('\\r\\n') + '\\r\\n\\r\\n' + JSON.stringify(process.env) + '\\n');
`;

let dir, envHost, envHostPw, locked;
before(async () => {
  dir = fs.mkdtempSync(path.join(os.tmpdir(), 'host-test-'));
  const plugin = path.join(dir, 'env_plugin.js');
  fs.writeFileSync(plugin, ENV_PLUGIN, { mode: 0o755 });
  envHost = await h.startHost(['--plugin', plugin, '--home', '/tmp/some home']);
  envHostPw = await h.startHost(['--plugin', plugin, '--home', '/tmp/h', '--password', 'p w']);
  locked = await h.startHost(['--plugin', h.PLUGIN, '--home', h.HOME_FIXTURE, '--password', 'sesame']);
});
after(async () => {
  await envHost.stop();
  await envHostPw.stop();
  await locked.stop();
  fs.rmSync(dir, { recursive: true, force: true });
});

async function get(base, pathAndQuery, headers) {
  const r = await fetch(base + pathAndQuery, { headers: headers || {} });
  return { status: r.status, headers: r.headers, text: await r.text() };
}

describe('CGI environment', () => {
  const cases = [
    {
      name: 'direct route: the raw query string, home in USERPROFILE and HOME, PATH, nothing else',
      path: '/plugin_disks?action=mounts&x=a%20b+c&y=%26', headers: {},
      env: { QUERY_STRING: 'action=mounts&x=a%20b+c&y=%26', USERPROFILE: '/tmp/some home', HOME: '/tmp/some home' },
    },
    {
      name: 'direct route without a query string: QUERY_STRING is empty',
      path: '/plugin_disks', headers: {}, env: { QUERY_STRING: '', USERPROFILE: '/tmp/some home', HOME: '/tmp/some home' },
    },
    {
      name: 'both password headers become HTTP_ variables, unchanged',
      path: '/plugin_disks?action=info', headers: { 'X-Zem-Password': 'a%20b', Authorization: 'Bearer  tok ' },
      env: {
        QUERY_STRING: 'action=info', USERPROFILE: '/tmp/some home', HOME: '/tmp/some home',
        HTTP_X_ZEM_PASSWORD: 'a%20b', HTTP_AUTHORIZATION: 'Bearer  tok',
      },
    },
    {
      name: 'hub route: plugin, node and id are the hub\'s; the rest reaches the plugin raw and in order',
      path: '/plugins?plugin=disks&action=dirs&node=alpha&id=7&pwd=x%26y&root=home', headers: { 'X-Zem-Password': 'x&y' },
      env: {
        QUERY_STRING: 'action=dirs&pwd=x%26y&root=home', USERPROFILE: '/tmp/some home', HOME: '/tmp/some home',
        HTTP_X_ZEM_PASSWORD: 'x&y',
      },
    },
    {
      name: 'hub route for the page: embed and theme pass through',
      path: '/plugins?plugin=disks&embed=1&node=local&theme=dark', headers: {},
      env: { QUERY_STRING: 'embed=1&theme=dark', USERPROFILE: '/tmp/some home', HOME: '/tmp/some home' },
    },
  ];
  for (const c of cases) {
    it(c.name, async () => {
      const r = await get(envHost.url, c.path, c.headers);
      assert.equal(r.status, 200);
      const env = JSON.parse(r.text);
      assert.ok(env.PATH);
      delete env.PATH;
      assert.deepEqual(env, c.env);
    });
  }

  it('a configured password reaches the plugin as ZEM_PASSWORD', async () => {
    const env = JSON.parse((await get(envHostPw.url, '/plugin_disks?action=info')).text);
    assert.equal(env.ZEM_PASSWORD, 'p w');
    assert.equal(env.USERPROFILE, '/tmp/h');
  });

  it('a "Status" line becomes the HTTP status; the other headers and the body pass unchanged', async () => {
    const r = await get(envHost.url, '/plugin_disks?status401');
    assert.equal(r.status, 401);
    assert.equal(r.headers.get('x-plugin'), 'env');
    assert.equal(r.headers.get('content-type'), 'application/json; charset=utf-8');
    assert.equal(r.headers.get('status'), null);
    assert.equal(JSON.parse(r.text).QUERY_STRING, 'status401');
  });

  it('another plugin name on the hub route is not found', async () => {
    const r = await get(envHost.url, '/plugins?plugin=other&action=mounts');
    assert.equal(r.status, 404);
    assert.deepEqual(JSON.parse(r.text), { ok: false, error: 'unknown_plugin' });
  });
});

describe('real plugin behind a host with a password', () => {
  const cases = [
    ['no password', '/plugin_disks?action=mounts', {}, 401],
    ['the header', '/plugin_disks?action=mounts', { 'X-Zem-Password': 'sesame' }, 200],
    ['a bearer token', '/plugin_disks?action=mounts', { Authorization: 'Bearer sesame' }, 200],
    ['the pwd parameter', '/plugin_disks?action=mounts&pwd=sesame', {}, 200],
    ['a wrong header', '/plugin_disks?action=mounts', { 'X-Zem-Password': 'nope' }, 401],
    ['the header on the hub route', '/plugins?plugin=disks&action=dirs&node=n&id=1&root=home', { 'X-Zem-Password': 'sesame' }, 200],
    ['pwd on the hub route', '/plugins?plugin=disks&action=mounts&pwd=sesame', {}, 200],
    ['nothing on the hub route', '/plugins?plugin=disks&action=mounts&node=n', {}, 401],
    ['the page without a password', '/plugin_disks', {}, 401],
    ['the page with pwd', '/plugin_disks?pwd=sesame', {}, 200],
  ];
  for (const [name, p, headers, status] of cases) {
    it(`${name}: ${status}`, async () => {
      const r = await get(locked.url, p, headers);
      assert.equal(r.status, status);
      if (status === 401) {
        assert.equal(r.text, '{"ok":false,"error":"invalid node password"}\n');
        assert.equal(r.headers.get('content-type'), 'application/json; charset=utf-8');
      }
    });
  }

  it('the page arrives with its header block as HTTP headers and the document as the body', async () => {
    const r = await get(locked.url, '/plugin_disks?pwd=sesame&embed=1');
    assert.equal(r.headers.get('content-type'), 'text/html; charset=utf-8');
    assert.equal(r.headers.get('cache-control'), 'no-store');
    assert.equal(r.headers.get('x-content-type-options'), 'nosniff');
    assert.ok(r.text.startsWith('<!DOCTYPE html>\n<html lang="en">'));
    assert.ok(r.text.endsWith('</script></body></html>\n'));
    assert.ok(!r.text.includes('Opened directly from the node API.'));
  });

  it('the hub page is served without the plugin', async () => {
    const r = await get(locked.url, '/hub');
    assert.equal(r.status, 200);
    assert.match(r.text, /<iframe id="frame"/);
  });
});

// Runs the host with ARGS until it exits or says it listens; then stops it.
// Resolves with its exit code (null when it was listening), its standard
// error and whether it listened.
function hostStart(args) {
  return new Promise((resolve, reject) => {
    const child = spawn(process.execPath, [path.join(h.REPO, 'host', 'server.js'), '--port', '0', ...args],
      { stdio: ['ignore', 'pipe', 'pipe'] });
    let out = '';
    let err = '';
    let listened = false;
    const timer = setTimeout(() => { child.kill('SIGKILL'); reject(new Error('host neither started nor stopped: ' + out + err)); }, 10000);
    child.stdout.on('data', (c) => {
      out += c;
      if (!listened && /listening on http/.test(out)) { listened = true; child.kill(); }
    });
    child.stderr.on('data', (c) => { err += c; });
    child.once('exit', (code) => {
      clearTimeout(timer);
      resolve({ code: listened ? null : code, stderr: err, listened });
    });
  });
}

describe('start checks', () => {
  let tmp;
  before(() => {
    tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'host-start-'));
    fs.writeFileSync(path.join(tmp, 'not_executable'), '#!/bin/sh\n', { mode: 0o644 });
    fs.mkdirSync(path.join(tmp, 'a_folder'));
    fs.writeFileSync(path.join(tmp, 'a_file'), 'x');
  });
  after(() => fs.rmSync(tmp, { recursive: true, force: true }));

  // [name, arguments (T is the scratch folder), listens, standard error]
  const cases = [
    ['a missing plugin is refused', ['--plugin', 'T/missing'], false,
      /^server\.js: plugin not found: T\/missing \(build it with scripts\/serve .*--plugin PATH\)\n$/],
    ['a plugin that is not executable is refused', ['--plugin', 'T/not_executable'], false,
      /^server\.js: plugin is not executable: T\/not_executable \(chmod \+x it\)\n$/],
    ['a folder as the plugin is refused', ['--plugin', 'T/a_folder'], false,
      /^server\.js: plugin is not a file: T\/a_folder\n$/],
    ['a missing home folder is warned about; the host starts', ['--plugin', h.PLUGIN, '--home', 'T/no_home'], true,
      /^server\.js: warning: home folder does not exist: T\/no_home \(the breakdown will refuse it\)\n$/],
    ['a file as the home folder is warned about; the host starts', ['--plugin', h.PLUGIN, '--home', 'T/a_file'], true,
      /^server\.js: warning: home folder is not a folder: T\/a_file \(the breakdown will refuse it\)\n$/],
    ['an existing plugin and home: nothing on standard error', ['--plugin', h.PLUGIN, '--home', 'T'], true, /^$/],
  ];
  for (const [name, args, listens, stderr] of cases) {
    it(name, async () => {
      const r = await hostStart(args.map((a) => a.replace(/^T(?=\/|$)/, tmp)));
      assert.equal(r.listened, listens);
      if (!listens) assert.equal(r.code, 1);
      const shown = r.stderr.split(tmp).join('T');
      assert.match(shown, stderr);
    });
  }
});
