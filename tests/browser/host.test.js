// The local host (host/server.js) as the plugin expects it: the CGI environment it
// gives the plugin on both routes, the header block it reads back, and the
// real plugin's gate behind it. No browser here.
'use strict';
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
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
