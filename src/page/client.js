/* Dashboard client script: the body of one function expression called at
   once. Text from a reply reaches the page only through textContent. */
'use strict';

/* Page state, read once from the page URL; a refused storage reads as empty. */
var params = new URLSearchParams(location.search);
function param(k) { var v = params.get(k); return v === null ? '' : v; }
function stored(k) {
  try { var v = localStorage.getItem(k); return v == null ? '' : String(v); } catch (e) { return ''; }
}
var HUB = param('plugin'), node = param('node'), sid = param('id'), pwd = param('pwd');
if (!pwd && node) pwd = stored('zem_pwd_' + node);
if (!pwd) pwd = stored('zem_active_pwd');
var RATE = 0, TIMER = null, BUSY = false, ROOT = 'workspace';
/* The folder shown below HOME: names joined by "/", '' at the top. */
var SUB = '', MOVED = false, SUB_MAX = 1024;
var DOT = '  \u00b7  ', DASH = '\u2014', UNITS = ['B', 'KB', 'MB', 'GB', 'TB', 'PB'];

/* Helpers. */
function $(id) { return document.getElementById(id); }
function txt(id, v) { var e = $(id); if (e) e.textContent = v == null ? '' : String(v); }
function el(tag, c, t) {
  var e = document.createElement(tag);
  if (c) e.className = c;
  if (t != null) e.textContent = String(t);
  return e;
}
function bytes(n) {
  if (n == null) return DASH;
  var v = Number(n), u = 0;
  while (v >= 1024 && u < UNITS.length - 1) { v /= 1024; u++; }
  return (u === 0 || v >= 100 ? v.toFixed(0) : v.toFixed(1)) + ' ' + UNITS[u];
}
function cls(p) { return p >= 90 ? 'danger' : p >= 75 ? 'warn' : ''; }
function num(v) { var n = Number(v); return isFinite(n) ? n : 0; }
function buttons(id) { return Array.prototype.slice.call($(id).querySelectorAll('button')); }
function setOn(id, b) {
  buttons(id).forEach(function (x) { x.classList.remove('on'); });
  b.classList.add('on');
}

/* Requests: the hub proxy route when the page names a plugin, else the
   plugin's own route; then the context; the root last, for dirs. */
function base(a) {
  return HUB ? '/plugins?plugin=' + encodeURIComponent(HUB) + '&action=' + encodeURIComponent(a)
    : '/plugin_disks?action=' + encodeURIComponent(a);
}
function withCtx(u) {
  if (node) u += '&node=' + encodeURIComponent(node);
  if (sid) u += '&id=' + encodeURIComponent(sid);
  if (pwd) u += '&pwd=' + encodeURIComponent(pwd);
  return u;
}
/* A header value holds bytes only: a password with other characters (or a
   line break) would make fetch throw and every request fail, so such a
   password travels in the pwd parameter alone. */
var HEADER_SAFE = /^[^\0\r\n\u0100-\uffff]*$/;
function getJSON(u) {
  var o = { cache: 'no-store' };
  if (pwd && HEADER_SAFE.test(pwd)) o.headers = { 'X-Zem-Password': pwd };
  return fetch(u, o).then(function (r) { return r.json(); });
}

function renderMounts(m) {
  var box = $('mounts'), list = Array.isArray(m.mounts) ? m.mounts : [];
  var total = 0, used = 0, free = 0, full = null;
  box.textContent = '';
  list.forEach(function (x) {
    total += num(x.total_bytes); used += num(x.used_bytes); free += num(x.free_bytes);
    if (full === null || x.pct > full.pct) full = x;
    var card = el('div', 'mnt'), h = el('div', 'h'), bar = el('div', 'bar'), nums = el('div', 'nums');
    h.appendChild(el('span', 'mp', x.mount));
    h.appendChild(el('span', 'meta', x.device + DOT + x.fstype));
    h.appendChild(el('span', 'meta', num(x.pct).toFixed(0) + '%'));
    var fill = el('div', cls(x.pct) ? 'fill ' + cls(x.pct) : 'fill');
    fill.style.width = Math.min(100, Math.max(0, num(x.pct))) + '%';
    bar.appendChild(fill);
    nums.appendChild(el('span', '', bytes(x.used_bytes) + ' used'));
    nums.appendChild(el('span', '', bytes(x.avail_bytes) + ' free'));
    nums.appendChild(el('span', '', bytes(x.total_bytes) + ' total'));
    nums.appendChild(el('span', '', x.has_inodes === true ? 'inodes ' + num(x.inodes_pct).toFixed(0) + '%' : 'inodes n/a'));
    card.appendChild(h); card.appendChild(bar); card.appendChild(nums);
    box.appendChild(card);
  });
  $('mountEmpty').classList.toggle('hide', list.length > 0);
  txt('kCount', m.count);
  txt('kTotal', bytes(total));
  txt('kUsed', bytes(used));
  txt('kFree', bytes(free));
  txt('kFull', full ? full.mount + ' ' + num(full.pct).toFixed(0) + '%' : DASH);
}

/* Drilling down: a folder row of HOME opens that folder; the breadcrumb
   beside the heading goes back to any level above it. */
var CRUMBS = document.querySelector('.crumbs'), GONE = document.querySelector('.gone');
function subOf(name) { return SUB ? SUB + '/' + name : name; }
/* A folder is offered when the plugin would take its path: no name it
   refuses (a backslash or colon, legal in a Linux name, on no build), and
   within its length cap in UTF-8 bytes. */
function drillable(name) {
  if (typeof name !== 'string' || !name || name === '.' || name === '..' || /[\/\\:\0]/.test(name)) return false;
  return new TextEncoder().encode(subOf(name)).length <= SUB_MAX;
}
function go(sub) {
  SUB = sub;
  MOVED = true;
  drawCrumbs();
  loadDirs(false);
}
function crumb(label, sub) {
  var b = el('button', '', label);
  b.type = 'button';
  b.addEventListener('click', function () { go(sub); });
  return b;
}
function drawCrumbs() {
  CRUMBS.textContent = '';
  CRUMBS.hidden = !SUB;
  if (!SUB) return;
  var parts = SUB.split('/');
  CRUMBS.appendChild(crumb('HOME', ''));
  parts.forEach(function (p, i) {
    var sep = el('span', '', ' / ');
    sep.setAttribute('aria-hidden', 'true');
    CRUMBS.appendChild(sep);
    if (i < parts.length - 1) {
      CRUMBS.appendChild(crumb(p, parts.slice(0, i + 1).join('/')));
    } else {
      var here = el('span', '', p);
      here.setAttribute('aria-current', 'location');
      CRUMBS.appendChild(here);
    }
  });
}
/* After a move, keyboard focus goes to the first folder of the new list, or
   else to the way back up. */
function placeFocus() {
  if (!MOVED) return;
  MOVED = false;
  var up = CRUMBS.querySelectorAll('button');
  var to = document.querySelector('#rows button') ||
    (GONE.classList.contains('hide') ? up[up.length - 1] : GONE.querySelector('button'));
  if (to && (!document.activeElement || document.activeElement === document.body)) to.focus();
}
GONE.querySelector('button').addEventListener('click', function () {
  go(SUB.split('/').slice(0, -1).join('/'));
});

function renderDirs(d, ok) {
  $('rows').textContent = '';
  GONE.classList.add('hide');
  if (!ok) {
    var err = d && d.error ? String(d.error) : '';
    if (SUB && /^sub_/.test(err)) {
      /* The folder shown went away, or became something not listed: said
         here, with the way up. Nothing is asked in return; a poll asks for
         the same folder once per tick, as for any folder. */
      GONE.firstChild.textContent = err === 'sub_not_found' || err === 'sub_not_folder'
        ? 'This folder no longer exists.' : 'This folder cannot be listed (' + err + ').';
      GONE.classList.remove('hide');
      $('dirEmpty').classList.add('hide');
    } else {
      $('dirEmpty').classList.remove('hide');
    }
    txt('dirNote', err ? 'unavailable: ' + err : 'unavailable');
    placeFocus();
    return;
  }
  var list = Array.isArray(d.entries) ? d.entries : [];
  list.forEach(function (e) {
    var tr = el('tr');
    if (ROOT === 'home' && e.is_dir === true && drillable(e.name)) {
      var nm = el('td', 'nm'), b = el('button', '', e.name), to = subOf(e.name);
      b.type = 'button';
      nm.appendChild(b);
      tr.className = 'go';
      tr.appendChild(nm);
      tr.addEventListener('click', function () { go(to); });
    } else {
      tr.appendChild(el('td', 'nm', e.name));
    }
    tr.appendChild(el('td', 'num', bytes(e.bytes)));
    tr.appendChild(el('td', 'num', num(e.pct).toFixed(1) + '%'));
    tr.appendChild(el('td', 'num hide-sm', e.is_dir === true ? 'dir' : 'file'));
    $('rows').appendChild(tr);
  });
  $('dirEmpty').classList.toggle('hide', list.length > 0);
  txt('dirNote', d.root + DOT + bytes(d.root_used_bytes) + ' used of ' + bytes(d.root_total_bytes) +
    DOT + list.length + ' entries' + DOT + d.scan_ms + ' ms' + (d.truncated === true ? DOT + 'truncated' : ''));
  placeFocus();
}

/* The folders of ROOT, falling back once from "workspace" to "home". A reply
   that arrives after another root was chosen is dropped, not drawn. */
function loadDirs(fallbackDone) {
  var asked = ROOT, sub = SUB;
  return getJSON(withCtx(base('dirs')) + '&root=' + encodeURIComponent(asked) +
    (sub ? '&sub=' + encodeURIComponent(sub) : '')).then(function (d) {
    if (asked !== ROOT || sub !== SUB) return;
    if (d && d.error === 'root_unavailable' && asked === 'workspace' && !fallbackDone) {
      ROOT = 'home';
      buttons('segRoot').forEach(function (b) { b.classList.toggle('on', b.getAttribute('data-root') === 'home'); });
      return loadDirs(true);
    }
    renderDirs(d, !!d && d.ok === true);
  }).catch(function (err) {
    if (asked === ROOT && sub === SUB) renderDirs({ error: String(err) }, false);
  });
}

/* Both panels; at most one drives request in flight. */
function poll() {
  if (BUSY) return;
  BUSY = true;
  getJSON(withCtx(base('mounts'))).then(function (m) {
    if (!m || m.ok === false) { txt('pState', 'error'); return; }
    txt('pPlatform', m.platform);
    txt('nodeLine', 'plugin ' + m.plugin + ' v' + m.version + DOT + 'pid ' + m.pid + DOT + m.utc +
      DOT + 'zero outbound network');
    renderMounts(m);
  }).catch(function () {
    txt('pState', 'error');
  }).then(function () {
    BUSY = false;
  });
  loadDirs(false);
}

function schedule() {
  if (TIMER !== null) { clearInterval(TIMER); TIMER = null; }
  var pill = $('pState');
  if (RATE > 0) {
    TIMER = setInterval(poll, RATE);
    pill.textContent = 'live ' + RATE / 1000 + 's';
    pill.className = 'pill live';
  } else {
    pill.textContent = 'paused';
    pill.className = 'pill';
  }
}

/* Controls. */
buttons('segRate').forEach(function (b) {
  b.addEventListener('click', function () {
    setOn('segRate', b);
    RATE = parseInt(b.getAttribute('data-ms'), 10) || 0;
    schedule();
    if (RATE > 0) poll();
  });
});
buttons('segRoot').forEach(function (b) {
  b.addEventListener('click', function () {
    setOn('segRoot', b);
    ROOT = b.getAttribute('data-root') || 'workspace';
    SUB = '';
    drawCrumbs();
    loadDirs(false);
  });
});
$('btnRefresh').addEventListener('click', function () { poll(); });

/* Late re-read of the stored theme, to follow a hub that has set one. */
try {
  var t = localStorage.getItem('zem_theme');
  if (t === 'light' || t === 'dark') document.documentElement.setAttribute('data-theme', t);
} catch (e) {}

poll();
schedule();
