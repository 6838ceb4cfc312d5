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
/* The parsed reply keeps its text as it came (_raw), for Save. */
function getJSON(u) {
  var o = { cache: 'no-store' };
  if (pwd && HEADER_SAFE.test(pwd)) o.headers = { 'X-Zem-Password': pwd };
  return fetch(u, o).then(function (r) { return r.text(); }).then(function (t) {
    var v = JSON.parse(t);
    if (v && typeof v === 'object') Object.defineProperty(v, '_raw', { value: t });
    return v;
  });
}

/* File systems held in memory (RAM, or RAM and swap) are not drives: they
   are shown apart, in a group closed by default, and left out of the
   summary, which would otherwise count the machine's memory as disk space.
   Windows lists no such file system. */
var MEMORY_FS = ['tmpfs', 'devtmpfs', 'ramfs', 'rootfs', 'hugetlbfs'];
function inMemory(m, x) { return m.platform !== 'windows' && MEMORY_FS.indexOf(String(x.fstype)) >= 0; }
/* The note under the tiles, in the card only while it has something to
   say (a hidden element would split the card for the landmark checks). */
var K_NOTE = el('p', 'sub knote');
K_NOTE.id = 'kNote';
/* Drives that need attention (the plugin decides which: attention in the
   mounts&detail=1 reply): said in the summary and on their cards in words,
   marked in colour besides. A drive read-only by its mount or by nature
   only says so, quietly. */
var K_ATTN = el('p', 'sub knote attn');
K_ATTN.id = 'kAttn';
var RO_WHY = { errors: 'read-only after file system errors', filesystem: 'read-only: its file system stopped taking writes' };
function needsAttention(x) { return x.attention === true; }
function attentionText(x) {
  var why = RO_WHY[x.readonly_reason] || 'its file system has recorded errors', n = x.error_count;
  if (typeof n === 'number' && n > 0) {
    why += DOT + n + ' error' + (n === 1 ? '' : 's') +
      (typeof x.last_error === 'string' ? ', the last ' + x.last_error.replace('T', ' ').replace('Z', ' UTC') : '');
  }
  return 'Needs attention: ' + why;
}
function mountCard(x) {
  var card = el('div', needsAttention(x) ? 'mnt attn' : 'mnt'), h = el('div', 'h'), bar = el('div', 'bar'), nums = el('div', 'nums');
  h.appendChild(el('span', 'mp', x.mount));
  h.appendChild(el('span', 'meta', x.device + DOT + x.fstype));
  h.appendChild(el('span', 'meta', num(x.pct).toFixed(0) + '%'));
  if (x.readonly === true && !needsAttention(x)) h.appendChild(el('span', 'meta', 'read-only'));
  var fill = el('div', cls(x.pct) ? 'fill ' + cls(x.pct) : 'fill');
  fill.style.width = Math.min(100, Math.max(0, num(x.pct))) + '%';
  bar.appendChild(fill);
  nums.appendChild(el('span', '', bytes(x.used_bytes) + ' used'));
  nums.appendChild(el('span', '', bytes(x.avail_bytes) + ' free'));
  nums.appendChild(el('span', '', bytes(x.total_bytes) + ' total'));
  nums.appendChild(el('span', '', x.has_inodes === true ? 'inodes ' + num(x.inodes_pct).toFixed(0) + '%' : 'inodes n/a'));
  card.appendChild(h); card.appendChild(bar); card.appendChild(nums);
  if (needsAttention(x)) card.appendChild(el('div', 'flag', attentionText(x)));
  return card;
}
function renderMounts(m) {
  var box = $('mounts'), list = Array.isArray(m.mounts) ? m.mounts : [];
  var total = 0, used = 0, free = 0, full = null, mem = [], kinds = [];
  box.textContent = '';
  $('memMounts').textContent = '';
  list.forEach(function (x) {
    if (inMemory(m, x)) {
      mem.push(x);
      if (kinds.indexOf(String(x.fstype)) < 0) kinds.push(String(x.fstype));
      $('memMounts').appendChild(mountCard(x));
      return;
    }
    total += num(x.total_bytes); used += num(x.used_bytes); free += num(x.free_bytes);
    if (full === null || x.pct > full.pct) full = x;
    box.appendChild(mountCard(x));
  });
  $('mountEmpty').classList.toggle('hide', list.length > 0);
  var many = mem.length + ' memory file system' + (mem.length === 1 ? '' : 's') + ' (' + kinds.join(', ') + ')';
  $('memGroup').classList.toggle('hide', !mem.length);
  txt('memSum', mem.length ? many + ', not drives' : '');
  K_NOTE.textContent = 'Not counted here: ' + many + ', which hold files in memory; they are listed apart under Mounted filesystems.';
  if (!mem.length) K_NOTE.remove();
  else if (!K_NOTE.parentNode) $('nodeLine').parentNode.insertBefore(K_NOTE, $('nodeLine'));
  txt('kCount', mem.length ? num(m.count) - mem.length : m.count);
  txt('kTotal', bytes(total));
  txt('kUsed', bytes(used));
  txt('kFree', bytes(free));
  txt('kFull', full ? full.mount + ' ' + num(full.pct).toFixed(0) + '%' : DASH);
  var attn = list.filter(needsAttention).map(function (x) { return x.mount; });
  K_ATTN.textContent = attn.length + (attn.length === 1 ? ' drive needs' : ' drives need') + ' attention: ' +
    attn.slice(0, 3).join(', ') + (attn.length > 3 ? ' and ' + (attn.length - 3) + ' more' : '') + '.';
  if (!attn.length) K_ATTN.remove();
  else if (!K_ATTN.parentNode) $('nodeLine').parentNode.insertBefore(K_ATTN, $('nodeLine'));
}

/* Drilling down: a folder row of HOME opens that folder; the breadcrumb
   beside the heading goes back to any level above it. */
var CRUMBS = document.querySelector('.crumbs'), GONE = document.querySelector('.gone');
var EMPTY = $('dirEmpty').textContent;
function subOf(name) { return SUB ? SUB + '/' + name : name; }
/* A folder is offered when the plugin would take its path: no name it
   refuses (a backslash or colon, legal in a Linux name, on no build), and
   within its length cap in UTF-8 bytes. drillableSub asks the same of a
   whole path in sub form ('' is home). */
function nameOk(n) { return typeof n === 'string' && !!n && n !== '.' && n !== '..' && !/[\/\\:\0]/.test(n); }
function fits(sub) { return new TextEncoder().encode(sub).length <= SUB_MAX; }
function drillable(name) { return nameOk(name) && fits(subOf(name)); }
function drillableSub(f) { return typeof f === 'string' && (!f || (f.split('/').every(nameOk) && fits(f))); }
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
  var to = mapFocusTarget() || document.querySelector('#rows button') ||
    (GONE.classList.contains('hide') ? up[up.length - 1] : GONE.querySelector('button'));
  if (to && (!document.activeElement || document.activeElement === document.body)) to.focus();
}
GONE.querySelector('button').addEventListener('click', function () {
  go(SUB.split('/').slice(0, -1).join('/'));
});

/* Totals the walk could not finish: shown as "at least", with the reason
   in words on hover and for screen readers. */
var PARTIAL = {
  depth: 'folders deeper than the walk\'s depth limit were not counted',
  entry_cap: 'the walk stopped at its limit of entries looked at',
  unreadable: 'a folder or file inside could not be read',
  cloud: 'cloud files not kept on this device were not opened',
  stalled: 'the file system stopped answering, so the walk was given up'
};
/* The words for a reason code; a code this page does not know still reads
   as partial. */
function why(reason) {
  return Object.prototype.hasOwnProperty.call(PARTIAL, reason) ? PARTIAL[reason] : 'not every file was counted';
}
/* A reply's partial field: the reason, or '' for a whole total (null or absent). */
function partialOf(v) { return typeof v === 'string' && v ? v : ''; }
/* A count with thousands separators; a dash when the reply has none. */
function count(n) { return n == null ? DASH : num(n).toLocaleString('en-US'); }
/* A cell (or note) text that may be a lower bound: "\u2265 1.5 GB". */
function atLeast(text, reason) { return reason && text !== DASH ? '\u2265 ' + text : text; }
/* Text for screen readers only. */
function hidden(t) { return el('span', 'sr', t); }
/* A cell of class c holding text, marked as a lower bound when reason is
   set: the reason on hover, and spoken too when asked (once per row is
   enough for a screen reader). */
function amountCell(c, text, reason, spoken) {
  var td = el('td', c, atLeast(text, reason));
  if (reason && text !== DASH) {
    td.title = 'At least: ' + why(reason);
    if (spoken) td.appendChild(hidden(' (at least: ' + why(reason) + ')'));
  }
  return td;
}
/* "3 months ago" from a stamp like utc's, measured from the reply's own
   time; the full stamp on hover and for screen readers. */
function ago(stamp, now) {
  var s = Math.floor((now - Date.parse(stamp)) / 1000);
  if (!isFinite(s)) return DASH;
  if (s < 0) return 'in the future';
  var steps = [[60, 'minute'], [3600, 'hour'], [86400, 'day'], [30 * 86400, 'month'], [365 * 86400, 'year']];
  var n = 0, unit = '';
  steps.forEach(function (x) { if (s >= x[0]) { n = Math.floor(s / x[0]); unit = x[1]; } });
  return unit ? n + ' ' + unit + (n === 1 ? '' : 's') + ' ago' : 'just now';
}
/* A cell of class c with the age of stamp at now; a dash when the stamp is
   absent or unreadable. */
function modifiedCell(stamp, now, c) {
  var td = el('td', c);
  if (typeof stamp !== 'string' || !isFinite(Date.parse(stamp))) { td.textContent = DASH; return td; }
  var full = stamp.replace('T', ' ').replace('Z', ' UTC'), t = el('time', '', ago(stamp, now));
  t.setAttribute('datetime', stamp);
  t.title = full;
  td.appendChild(t);
  td.appendChild(hidden(' (' + full + ')'));
  return td;
}
/* The folder listed: the home path, then the names of sub with the
   platform's separator. */
function folderOf(d) {
  var root = d.root == null ? '' : String(d.root), sub = typeof d.sub === 'string' ? d.sub : '';
  if (!sub) return root;
  var sep = d.platform === 'windows' ? '\\' : '/';
  return root + (root.slice(-1) === sep ? '' : sep) + sub.split('/').join(sep);
}
/* The reply's own time (its utc) in milliseconds, else the browser's. */
function replyTime(d) {
  var t = Date.parse(d.utc);
  return isFinite(t) ? t : Date.now();
}
/* A reply's message as a sentence for the panel. */
function sentence(m) {
  m = String(m);
  return m.charAt(0).toUpperCase() + m.slice(1) + (/[.!?]$/.test(m) ? '' : '.');
}

/* Sorting in the browser: '' keeps the reply's order; otherwise the listed
   rows by that field, largest first (dir -1) or smallest first (dir 1),
   ties in reply order. The last drawn reply is kept to sort it again. */
var SORT = '', SORT_DIR = -1, SHOWN = null;
var SORTERS = Array.prototype.slice.call(document.querySelectorAll('th[data-sort]'));
/* What On disk counts, on hover. */
document.querySelector('th[data-sort="disk_bytes"]').title =
  'What the files take on the volume, as du counts it: a file with several names counts once, ' +
  'in the entry whose name comes first (capitals before small letters); a link only its own blocks';
function sorted(list) {
  if (!SORT) return list;
  var key = function (e) {
    if (SORT === 'change') { var c = chgOf(e); return c ? c.v : -Infinity; }
    return e && e[SORT] != null ? num(e[SORT]) : -1;
  };
  return list.map(function (e, i) { return [e, i]; }).sort(function (a, b) {
    var x = key(a[0]), y = key(b[0]);
    return x === y ? a[1] - b[1] : (x < y ? -SORT_DIR : SORT_DIR);
  }).map(function (p) { return p[0]; });
}
/* aria-sort on the heading the rows are sorted by, on no other. */
function drawSorters() {
  SORTERS.forEach(function (th) {
    if (th.getAttribute('data-sort') === SORT) th.setAttribute('aria-sort', SORT_DIR < 0 ? 'descending' : 'ascending');
    else th.removeAttribute('aria-sort');
  });
}
function sorter(th) {
  th.querySelector('button').addEventListener('click', function () {
    var k = th.getAttribute('data-sort');
    SORT_DIR = SORT === k ? -SORT_DIR : -1;
    SORT = k;
    drawSorters();
    if (SHOWN) drawRows(SHOWN);
  });
}
SORTERS.forEach(sorter);

/* Fills the table body from a successful reply, in the order chosen;
   returns the number of rows. */
function drawRows(d) {
  var list = Array.isArray(d.entries) ? d.entries : [], now = replyTime(d);
  /* The part of the folder in the measure the map shows: what the entries
     take on disk when the reply tells it (a sparse image does not fill the
     bar), else their size; the heading says which. */
  var m = measureOf(d), whole = m.total;
  txt('ofMeasure', m.word);
  $('rows').textContent = '';
  sorted(list).forEach(function (e) {
    var tr = el('tr'), reason = partialOf(e.partial);
    if (ROOT === 'home' && e.is_dir === true && drillable(e.name)) {
      var nm = el('td', 'nm'), b = el('button', '', e.name), to = subOf(e.name);
      b.type = 'button';
      b.title = e.name;
      nm.appendChild(b);
      tr.className = 'go';
      tr.appendChild(nm);
      tr.addEventListener('click', function () { go(to); });
    } else {
      var cell = el('td', 'nm', e.name);
      cell.title = e.name;
      tr.appendChild(cell);
    }
    tr.appendChild(amountCell('num', bytes(e.bytes), reason, true));
    tr.appendChild(amountCell('num', bytes(e.disk_bytes), reason, false));
    /* On disk against the look compared with. */
    var c = chgOf(e);
    if (CHG) {
      var td = el('td', 'num chg', c ? c.text : DASH);
      if (c && c.q) { td.title = c.words; td.appendChild(hidden(' (' + c.words + ')')); }
      tr.appendChild(td);
    }
    /* The entry's part of the folder listed, as a bar and a number. */
    var part = el('td', 'num part');
    if (d.folder_bytes == null) {
      part.textContent = DASH;
    } else {
      var p = whole > 0 ? Math.min(100, Math.max(0, num(e[m.key]) / whole * 100)) : 0;
      var bar = el('span', 'pbar'), fill = el('span', 'fill');
      bar.setAttribute('aria-hidden', 'true');
      fill.style.width = p + '%';
      bar.appendChild(fill);
      part.appendChild(bar);
      part.appendChild(el('span', '', p.toFixed(1) + '%'));
    }
    tr.appendChild(part);
    tr.appendChild(el('td', 'num', num(e.pct).toFixed(1) + '%'));
    tr.appendChild(amountCell('num hide-sm', count(e.items), reason, false));
    tr.appendChild(modifiedCell(e.modified, now, 'num hide-sm'));
    tr.appendChild(el('td', 'num hide-sm', e.is_dir === true ? 'dir' : 'file'));
    $('rows').appendChild(tr);
  });
  return list.length;
}

/* The note under the heading: the folder shown, its totals when the reply
   has them (items: everything counted beneath it, at every level), the
   volume, the entries listed (the table's rows), the time taken. */
function drawNote(d, listed) {
  var reason = partialOf(d.folder_partial), detail = d.folder_bytes != null, parts = [folderOf(d)];
  if (detail) {
    parts.push(atLeast(bytes(d.folder_bytes), reason), atLeast(bytes(d.folder_disk_bytes), reason) + ' on disk',
      atLeast(count(d.folder_items), reason) + (num(d.folder_items) === 1 ? ' item' : ' items'));
    if (BASE) parts.push(change(num(d.folder_disk_bytes), !!reason, BASE.d, !!BASE.p).text + ' on disk since ' + SINCE);
  }
  parts.push(bytes(d.root_used_bytes) + ' used of ' + bytes(d.root_total_bytes));
  parts.push(listed + ' entries');
  parts.push(d.scan_ms + ' ms');
  if (d.truncated === true) parts.push('truncated');
  txt('dirNote', parts.join(DOT));
  if (reason) {
    $('dirNote').title = 'At least: ' + why(reason);
    $('dirNote').appendChild(hidden(' (these totals are at least: ' + why(reason) + ')'));
  } else {
    $('dirNote').removeAttribute('title');
  }
}

/* The largest files below the folder shown, when the reply has them; each
   file's folder is a way to drill there. The first LG_FEW are shown until
   all are asked for; that choice stays across polls and folders. */
var LARGEST = $('largest'), LG_FEW = 10, LG_ALL = false;
/* A folder in sub form as the breadcrumb writes it. */
function folderLabel(f) { return f ? 'HOME / ' + f.split('/').join(' / ') : 'HOME'; }
/* Fills the card from a successful home reply with the list; hides it for
   anything else (a refusal, the workspace root, a program without it). */
function drawLargest(d) {
  var list = d && Array.isArray(d.largest) ? kindFilter(d.largest) : null;
  LARGEST.hidden = list === null || ROOT !== 'home';
  $('lgRows').textContent = '';
  if (LARGEST.hidden) return;
  var now = replyTime(d), reason = partialOf(d.largest_partial);
  (LG_ALL ? list : list.slice(0, LG_FEW)).forEach(function (f) {
    /* A name cut short on a narrow screen is whole on hover. */
    var tr = el('tr'), nm = el('td', 'nm', f.name), where = el('td', 'nm');
    nm.title = f.name;
    var links = num(f.links);
    if (links > 1) {
      var tag = el('span', 'tag', 'linked \u00d7' + links);
      tag.title = links + ' links to this file: deleting it here alone frees nothing';
      nm.appendChild(document.createTextNode(' '));
      nm.appendChild(tag);
      nm.appendChild(hidden(' (deleting it here alone frees nothing)'));
    }
    if (typeof f.folder === 'string' && f.folder !== SUB && drillableSub(f.folder)) {
      var b = el('button', '', folderLabel(f.folder)), to = f.folder;
      b.type = 'button';
      b.title = b.textContent;
      b.addEventListener('click', function () { go(to); });
      where.appendChild(b);
    } else {
      where.textContent = typeof f.folder === 'string' ? folderLabel(f.folder) : DASH;
      where.title = where.textContent;
    }
    tr.appendChild(nm);
    tr.appendChild(where);
    tr.appendChild(el('td', 'num', bytes(f.bytes)));
    tr.appendChild(el('td', 'num', bytes(f.disk_bytes)));
    tr.appendChild(modifiedCell(f.modified, now, 'num hide-sm'));
    $('lgRows').appendChild(tr);
  });
  txt('lgNote', folderOf(d));
  $('lgMore').classList.toggle('hide', list.length <= LG_FEW);
  txt('lgMore', LG_ALL ? 'Show the first ' + LG_FEW : 'Show all ' + list.length);
  $('lgEmpty').classList.toggle('hide', list.length > 0);
  $('lgPartial').classList.toggle('hide', !reason);
  txt('lgPartial', reason ? 'Not every file below this folder was looked at (' + why(reason) +
    '), so larger files may be missing from this list.' : '');
}

$('lgMore').addEventListener('click', function () {
  LG_ALL = !LG_ALL;
  drawLargest(SHOWN);
});

/* What the operator can do about a home folder the node names none of:
   the web server's snippet as the package ships it sets USERPROFILE empty. */
var NO_HOME = 'this root does not exist on this node';
function homeHint(d) {
  return !!d && d.error === 'root_unavailable' && d.requested === 'home' && d.message === NO_HOME
    ? ' Set the home folder (USERPROFILE) in the web server\'s snippet for plugin_disks, then reload the server.'
    : '';
}

function renderDirs(d, ok) {
  $('rows').textContent = '';
  GONE.classList.add('hide');
  SHOWN = ok ? d : null;
  compare(SHOWN);
  SHOWN = null;
  drawKinds(ok ? d : null);
  drawLargest(ok ? d : null);
  drawMap(ok ? d : null);
  if (!ok) {
    var err = d && d.error ? String(d.error) : '';
    var msg = d && typeof d.message === 'string' && d.message ? sentence(d.message) : '';
    if (SUB && /^sub_/.test(err)) {
      /* The folder shown went away, or became something not listed: said
         here, with the way up. Nothing is asked in return; a poll asks for
         the same folder once per tick, as for any folder. */
      GONE.firstChild.textContent = (err === 'sub_not_found' || err === 'sub_not_folder'
        ? 'This folder no longer exists.' : 'This folder cannot be listed (' + err + ').') + (msg ? ' ' + msg : '');
      GONE.classList.remove('hide');
      $('dirEmpty').classList.add('hide');
    } else {
      txt('dirEmpty', (msg || EMPTY) + homeHint(d));
      $('dirEmpty').classList.remove('hide');
    }
    $('dirNote').removeAttribute('title');
    txt('dirNote', err ? 'unavailable: ' + err : 'unavailable');
    placeFocus();
    return;
  }
  SHOWN = d;
  var listed = drawRows(d);
  txt('dirEmpty', EMPTY);
  $('dirEmpty').classList.toggle('hide', listed > 0);
  drawNote(d, listed);
  placeFocus();
}

/* The folders of ROOT, falling back once from "workspace" to "home", with
   the detail fields (on-disk sizes, item counts, times, the largest files;
   a program without them answers as before). A reply that arrives after
   another root was chosen is dropped, not drawn. */
function loadDirs(fallbackDone) {
  var asked = ROOT, sub = SUB;
  return getJSON(withCtx(base('dirs')) + '&root=' + encodeURIComponent(asked) +
    (sub ? '&sub=' + encodeURIComponent(sub) : '') + '&detail=1').then(function (d) {
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
  getJSON(withCtx(base('mounts')) + '&detail=1').then(function (m) {
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
