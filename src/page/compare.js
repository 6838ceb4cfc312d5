/* What changed: the browser keeps a compact look of each detail reply
   (the first of each hour for two days, of each day for 30 days, SNAP_MAX
   characters in all, oldest dropped first; keyed SNAP + [node, root, sub,
   time]) to compare the folder with, or a saved reply. */
var SNAP = 'zem_disks_snap', SNAP_MAX = 1500000, HOUR = 3600000, DAY = 86400000;
var CMP_SEL = $('cmpSel'), CMP_IN = $('cmpIn'), MONTHS = 'Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec'.split(' ');
/* The choice, across polls and folders: '' (automatic: a look an hour
   old or more), 'none', 'today', 'day', 'week', 't' + time, 'file'. */
var CHOICE = '', FILE_BASE = null, CACHED = {}, STORE_BAD = false, OPTS = '', GONE_SIG = '';
var CHG = null, BASE = null, SINCE = '', CHG_TH = el('th', 'num chg');
CHG_TH.setAttribute('data-sort', 'change');
CHG_TH.appendChild(el('button', '', 'Change')).type = 'button';
SORTERS.push(CHG_TH);
sorter(CHG_TH);

/* "10 Dec 09:14", local time; with the year when not now's. */
function when(ms, now) {
  var x = new Date(ms), two = function (n) { return (n < 10 ? ':0' : ':') + n; };
  return x.getDate() + ' ' + MONTHS[x.getMonth()] + (new Date(now).getFullYear() !== x.getFullYear() ? ' ' + x.getFullYear() : '') +
    ' ' + two(x.getHours()).slice(1) + two(x.getMinutes());
}
function objs(a) { return a.filter(function (x) { return x && typeof x === 'object'; }); }
/* A look: time, folder, on disk, partial; entries as [name, on disk,
   size, items, partial, folder, children [name, on disk, size, folder]]. */
function snapOf(d) {
  return {
    t: replyTime(d), f: folderOf(d), d: num(d.folder_disk_bytes), p: +!!partialOf(d.folder_partial),
    e: objs(d.entries).map(function (x) {
      var r = [String(x.name), num(x.disk_bytes), num(x.bytes), num(x.items), +!!partialOf(x.partial), +(x.is_dir === true)];
      if (Array.isArray(x.children)) {
        r.push(objs(x.children).map(function (c) { return [String(c.name), num(c.disk_bytes), num(c.bytes), +(c.is_dir === true)]; }));
      }
      return r;
    })
  };
}

/* Storage full or refused: the page works on, with a note. */
function storeFailed() {
  if (!STORE_BAD) say('Earlier looks are not kept: this browser\'s storage is full or refused.');
  STORE_BAD = true;
}
function snapKeys() {
  var out = [];
  try {
    for (var i = 0; i < localStorage.length; i++) if (String(localStorage.key(i)).indexOf(SNAP + '[') === 0) out.push(localStorage.key(i));
  } catch (e) { storeFailed(); }
  return out;
}
function prefix() { return SNAP + JSON.stringify([node, ROOT, SUB]).slice(0, -1) + ','; }
/* The times of the folder's kept looks, oldest first. */
function looks() {
  var p = prefix();
  return snapKeys().filter(function (k) { return k.indexOf(p) === 0; }).map(function (k) { return Number(k.slice(p.length, -1)); })
    .filter(isFinite).sort(function (a, b) { return a - b; });
}
function keyTime(k) { try { return num(JSON.parse(k.slice(SNAP.length))[3]); } catch (e) { return 0; } }
function drop(k) { try { localStorage.removeItem(k); } catch (e) { storeFailed(); } }
/* Keeps d's look if its hour has none (have: the folder's times), then
   thins; true when what is kept changed. */
function keep(d, have) {
  var t = replyTime(d), p = prefix(), day = {}, text;
  if (have.some(function (x) { return Math.floor(x / HOUR) === Math.floor(t / HOUR); })) return false;
  text = JSON.stringify(snapOf(d));
  if (text.length > SNAP_MAX / 2) return false;
  have.forEach(function (x) {
    var k = new Date(x).toDateString();
    if (t - x > 30 * DAY || (t - x > 2 * DAY && day[k])) drop(p + x + ']');
    day[k] = 1;
  });
  var used = 0, all = snapKeys().map(function (k) {
    var n = k.length;
    try { n += String(localStorage.getItem(k)).length; } catch (e) { storeFailed(); }
    used += n;
    return { k: k, n: n, t: keyTime(k) };
  }).sort(function (a, b) { return a.t - b.t; });
  while (used + text.length > SNAP_MAX && all.length) { used -= all[0].n; drop(all.shift().k); }
  for (;;) {
    try { localStorage.setItem(p + t + ']', text); return true; } catch (e) {
      if (!all.length) { storeFailed(); return true; }
      drop(all.shift().k);
    }
  }
}
/* The folder's look of time t, parsed once. */
function look(t) {
  var k = prefix() + t + ']';
  if (CACHED.k !== k) {
    var v = null;
    try { v = JSON.parse(localStorage.getItem(k)); } catch (e) { v = null; }
    if (v && Array.isArray(v.e)) v.e = v.e.filter(Array.isArray);
    CACHED = { k: k, v: v && Array.isArray(v.e) ? v : null };
  }
  return CACHED.v;
}

/* The time of the look choice c names in have (oldest first) at time t. */
function chosen(c, have, t) {
  var last = function (lim) {
    for (var i = have.length - 1; i >= 0; i--) if (have[i] <= lim) return have[i];
    return NaN;
  };
  var mid = new Date(t), at = Number(c.slice(1));
  mid.setHours(0, 0, 0, 0);
  return c === 'today' ? last(mid.getTime() - 1) : c === 'hour' ? last(t - HOUR) : c === 'day' ? last(t - DAY) : c === 'week' ? last(t - 7 * DAY)
    : /^t\d/.test(c) ? (have.indexOf(at) >= 0 ? at : last(at + HOUR)) : NaN;
}

/* From then to now, either maybe a lower bound (np, tp). */
function change(now, np, then, tp) {
  var v = now - then, a = bytes(Math.abs(v)), q = np && tp ? '\u2248 ' : np ? '\u2265 ' : tp ? '\u2264 ' : '';
  var w = np && tp ? 'about ' : (np ? v < 0 : tp && v >= 0) ? 'at most ' : q ? 'at least ' : '';
  return { v: v, q: !!q, text: q + (v > 0 ? '+' : v < 0 ? '-' : '') + a, words: !v && !q ? 'no change' : (v < 0 ? 'down ' : 'up ') + w + a };
}
/* Marked on the map: new, or changed by 64 KB and by 1% of what it took. */
function marked(c, then) {
  c.mark = Math.abs(c.v) >= 65536 && Math.abs(c.v) >= then / 100 ? (c.v > 0 ? 'up' : 'down') : '';
  return c;
}
function since(c) { return c.words + ' since ' + SINCE; }
/* Entry e's change; its child c's when both looks list it. */
function chgOf(e) { return CHG && e ? CHG.get(String(e.name)) || null : null; }
function kidChg(e, c) {
  var p = chgOf(e), b = p && p.kids && p.kids.get(String(c.name));
  return b ? marked(change(num(c.disk_bytes), p.np, b[1], p.tp), b[1]) : null;
}

/* For a successful reply d (else null): keeps its look, finds the
   baseline, draws the control, the Change heading and the gone list. */
function compare(d) {
  CHG = BASE = null;
  var detail = !!d && d.folder_disk_bytes != null && Array.isArray(d.entries), t = detail ? replyTime(d) : 0;
  var have = detail ? looks() : [], c = CHOICE, at = NaN, gone = [], table = $('rows').parentNode, head = table.querySelector('thead tr');
  if (detail && keep(d, have)) have = looks();
  have = have.filter(function (x) { return x < t; });
  if (!c) {
    at = chosen('today', have, t);
    c = isFinite(at) ? 'today' : 'none';
    if (!isFinite(at) && isFinite(at = chosen('hour', have, t))) c = 't' + at;
  } else {
    at = chosen(c, have, t);
  }
  if (detail) BASE = c === 'file' ? (FILE_BASE.f === folderOf(d) ? FILE_BASE : null) : isFinite(at) ? look(at) : null;
  options(have, t, c, at, d);
  $('cmpSave').disabled = !d || typeof d._raw !== 'string';
  if (BASE) {
    SINCE = when(BASE.t, t);
    CHG = new Map();
    var now = new Map();
    objs(d.entries).forEach(function (e) { now.set(String(e.name), e); });
    BASE.e.forEach(function (b) {
      var e = now.get(b[0]), np = !!e && !!partialOf(e.partial);
      if (!e) return gone.push(b);
      var x = marked(change(num(e.disk_bytes), np, b[1], !!b[4]), b[1]);
      x.np = np; x.tp = !!b[4];
      if (Array.isArray(b[6])) x.kids = new Map(b[6].map(function (k) { return [k[0], k]; }));
      CHG.set(b[0], x);
    });
    now.forEach(function (e, name) {
      if (!CHG.has(name)) CHG.set(name, { v: num(e.disk_bytes), text: 'new', words: 'new', mark: 'new' });
    });
    if (!CHG_TH.parentNode) head.insertBefore(CHG_TH, head.children[3]);
  } else {
    CHG_TH.remove();
    if (SORT === 'change') { SORT = ''; drawSorters(); }
  }
  table.classList.toggle('chgs', !!BASE);
  drawGone(gone, d);
}

/* The baseline's entries no longer listed (a poll finding the same
   leaves the list alone). */
function drawGone(gone, d) {
  var list = $('cmpList'), sum = 0, part = 0, sig = SINCE + JSON.stringify(gone) + (d && d.truncated);
  if (sig === GONE_SIG) return;
  GONE_SIG = sig;
  list.textContent = '';
  $('cmpGone').hidden = !gone.length;
  gone.forEach(function (b) {
    var li = el('li'), nm = el('span', 'nm', b[0] + (b[5] ? '/' : ''));
    nm.title = nm.textContent;
    li.appendChild(nm);
    li.appendChild(el('span', 'num', atLeast(bytes(b[1]), b[4]) + ' on disk'));
    list.appendChild(li);
    sum += b[1]; part |= b[4];
  });
  txt('cmpGoneHd', gone.length ? 'Gone since ' + SINCE + ': ' + gone.length + (gone.length === 1 ? ' entry, ' : ' entries, ') +
    (part ? 'at least ' : '') + bytes(sum) + ' on disk' + (d.truncated === true ? ' (the listing was cut short)' : '') : '');
}

/* Rebuilt only when they change: a poll leaves an open list alone. */
function options(have, t, c, at, d) {
  var list = [['none', 'none']], none = ' (none kept of this folder)';
  [['today', 'last look before today'], ['day', 'a day ago'], ['week', 'a week ago']].forEach(function (o) {
    var x = chosen(o[0], have, t);
    if (isFinite(x) || c === o[0]) list.push([o[0], o[1] + (isFinite(x) ? ' (' + when(x, t) + ')' : none)]);
  });
  have.slice().reverse().forEach(function (x) { list.push(['t' + x, when(x, t)]); });
  if (/^t\d/.test(c) && have.indexOf(at) < 0) list.push([c, when(Number(c.slice(1)), t) + (isFinite(at) ? '' : none)]);
  if (FILE_BASE) list.push(['file', 'the file of ' + when(FILE_BASE.t, t) + (d && FILE_BASE.f === folderOf(d) ? '' : ' (another folder)')]);
  if (JSON.stringify(list) !== OPTS) {
    OPTS = JSON.stringify(list);
    CMP_SEL.textContent = '';
    list.forEach(function (o) { CMP_SEL.appendChild(el('option', '', o[1])).value = o[0]; });
  }
  CMP_SEL.value = c;
}

function say(m) { txt('cmpMsg', m); }
function redraw() { if (SHOWN) renderDirs(SHOWN, true); }
CMP_SEL.addEventListener('change', function () {
  CHOICE = CMP_SEL.value;
  if (!STORE_BAD) say('');
  redraw();
});

/* Save: the reply as it came, named by node, folder and time. */
$('cmpSave').addEventListener('click', function () {
  var a = el('a');
  a.download = ('disks-' + (node || location.hostname) + '-' + ROOT + (SUB ? '-' + SUB : '') + '-' + String(SHOWN.utc).replace(/[-:]/g, ''))
    .replace(/[^\w.-]+/g, '_') + '.json';
  a.href = URL.createObjectURL(new Blob([SHOWN._raw], { type: 'application/json' }));
  document.body.appendChild(a);
  a.click();
  a.remove();
  setTimeout(function () { URL.revokeObjectURL(a.href); }, 1000);
});

/* Compare with a file: anything but a saved reply of the folder shown
   is refused with a message and changes nothing. */
$('cmpFile').addEventListener('click', function () { CMP_IN.click(); });
CMP_IN.addEventListener('change', function () {
  var f = CMP_IN.files[0];
  CMP_IN.value = '';
  if (!f) return;
  f.text().then(function (text) {
    var r = fromFile(text);
    if (typeof r === 'string') return say('Not compared: ' + f.name + ' ' + r);
    FILE_BASE = r;
    CHOICE = 'file';
    say('Compared with ' + f.name + ', a look of ' + when(r.t, Date.now()) + '.');
    redraw();
  }, function (e) { say('Not compared: ' + f.name + ' could not be read (' + e + ').'); });
});
/* The look of a saved reply, or why not. */
function fromFile(text) {
  var d;
  try { d = JSON.parse(text); } catch (e) { return 'is damaged: it is not whole JSON.'; }
  if (!d || d.ok !== true || d.action !== 'dirs' || !Array.isArray(d.entries) || !isFinite(Date.parse(d.utc)) || d.folder_disk_bytes == null) {
    return 'is not a folder breakdown saved from this page.';
  }
  if (!d.entries.every(function (e) { return e && typeof e.name === 'string' && Number.isFinite(e.disk_bytes); })) {
    return 'is damaged: an entry lacks its size on disk.';
  }
  return SHOWN && SHOWN.folder_disk_bytes != null && folderOf(d) === folderOf(SHOWN) ? snapOf(d) : 'is of another folder (' + folderOf(d) + ').';
}
