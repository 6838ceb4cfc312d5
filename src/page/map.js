/* The map of the folder shown, above its table: a squarified treemap (the
   layout of Bruls, Huizing and van Wijk, which keeps tiles close to
   square). A tile's area is the entry's size on disk in the folder's total
   (its size when the reply has no detail fields); a folder's tile holds its
   largest children as the reply lists them; entries too small to see are
   summed in one "others" tile. Tiles are kept by name across polls and
   moved in place, so a poll neither flickers nor takes the focus away.
   Part of the client script's function body: it uses the helpers there. */
var MAP_WRAP = $('mapWrap'), MAP = $('dirMap'), TIP = $('mapTip');
/* Tiles by key; the reply drawn; the folder they belong to; set when a
   tile opened a folder, so the focus goes to the new map. */
var MAP_KEYS = {}, MAP_DATA = null, MAP_OF = null, MAP_MOVED = false, MAP_W = 0, TIP_AT = null;
/* The one tile in the tab order (the map is one stop; arrow keys move
   between its tiles). */
var MAP_CUR = null;
/* An entry under MAP_MIN of the folder, or past the first MAP_MAX, goes to
   "others"; a child tile needs CHILD_MIN pixels each way. */
var MAP_MIN = 0.004, MAP_MAX = 40, CHILD_MIN = 4;
var HUES = ['--blue', '--teal', '--indigo', '--green', '--purple', '--orange'];

/* What the map (and the "Of folder" column) measures: on disk when the
   reply has the detail fields, else the size. */
function measureOf(d) {
  return d && d.folder_disk_bytes != null ? { key: 'disk_bytes', total: num(d.folder_disk_bytes), word: 'on disk' }
    : { key: 'bytes', total: d && d.folder_bytes != null ? num(d.folder_bytes) : 0, word: 'size' };
}
function share(p) { return (p >= 9.95 ? p.toFixed(0) : p.toFixed(1)) + '%'; }

/* Lays items ({v}, any order) out in the rectangle x, y, w, h; returns
   [{item, x, y, w, h}] with areas in proportion to v. Items are taken in
   the order given: a row grows while its worst aspect ratio improves, then
   is laid along the rectangle's shorter side, and the rest fills what is
   left. */
function squarify(items, x, y, w, h) {
  var out = [], total = 0, i = 0;
  items.forEach(function (it) { total += it.v; });
  if (!(total > 0) || !(w > 0) || !(h > 0)) return out;
  var scale = w * h / total;
  while (i < items.length) {
    var side = Math.min(w, h), row = [], sum = 0, hi = 0, lo = Infinity, worst = Infinity;
    for (; i < items.length; i++) {
      var a = items[i].v * scale, s = sum + a, nhi = Math.max(hi, a), nlo = Math.min(lo, a);
      var r = Math.max(side * side * nhi / (s * s), s * s / (side * side * nlo));
      if (row.length && r > worst) break;
      row.push({ item: items[i], a: a });
      sum = s; hi = nhi; lo = nlo; worst = r;
    }
    var thick = i < items.length ? sum / side : (w >= h ? w : h), at = 0;
    row.forEach(function (c) {
      var len = sum > 0 ? c.a / sum * side : 0;
      out.push(w >= h ? { item: c.item, x: x, y: y + at, w: thick, h: len } : { item: c.item, x: x + at, y: y, w: len, h: thick });
      at += len;
    });
    if (w >= h) { x += thick; w -= thick; } else { y += thick; h -= thick; }
  }
  return out;
}

/* The tile kept under key, made when new: a button when it opens a folder,
   else an image with a name (both focusable, both described by the tip). */
function tileFor(key, opens, seen) {
  while (MAP_KEYS[key] && seen.indexOf(MAP_KEYS[key]) >= 0) key += '\n';  // a name met twice
  var t = MAP_KEYS[key];
  if (!t) {
    t = document.createElement(opens ? 'button' : 'div');
    if (opens) t.type = 'button'; else t.setAttribute('role', 'img');
    t.tabIndex = -1;
    t.setAttribute('aria-describedby', 'mapTip');
    var lbl = el('span', 'lbl');
    lbl.setAttribute('aria-hidden', 'true');
    lbl.appendChild(el('span', 'n'));
    lbl.appendChild(el('span', 's'));
    lbl.appendChild(el('span', 'c'));
    t.appendChild(lbl);
    MAP_KEYS[key] = t;
  }
  seen.push(t);
  return t;
}
/* Places tile t on rectangle r of a map W x H (as percentages, so that it
   follows the card's width until the next layout), with its look; ch: its
   change, marked when large enough (an outline and a badge). */
function place(t, r, W, H, c, hue, name, size, head, ch) {
  var mark = ch ? ch.mark : '';
  t.className = 'tile ' + c + (head ? ' head' : '') + (r.w < 30 || r.h < 15 ? ' small' : r.h < 32 && !head ? ' short' : '') + (mark ? ' ' + mark : '');
  t.style.left = r.x / W * 100 + '%';
  t.style.top = r.y / H * 100 + '%';
  t.style.width = r.w / W * 100 + '%';
  t.style.height = r.h / H * 100 + '%';
  if (hue) t.style.setProperty('--hue', 'var(' + hue + ')'); else t.style.removeProperty('--hue');
  t.firstChild.children[0].textContent = name;
  t.firstChild.children[1].textContent = size;
  /* Drawn by the sheet; the name says it in words. */
  t.firstChild.children[2].setAttribute('data-c', mark === 'new' ? 'new' : mark ? (mark === 'up' ? '\u25b2 ' : '\u25bc ') + ch.text : '');
}
/* Sets what a tile opens ('' for nothing; via: what a click on it opens,
   for a file drawn inside its folder's tile), its name and its tip. */
function describe(t, name, sub, label, tip, via, ch) {
  if (name == null) t.removeAttribute('data-name'); else t.setAttribute('data-name', name);
  t._sub = sub;
  t._via = via || '';
  t.setAttribute('aria-label', label + (ch ? ', ' + since(ch) : ''));
  if (ch) tip.push([sentence(since(ch)).slice(0, -1)]);
  t._tip = tip;
}
/* The lines of an entry's (or child's) tip. */
function tipOf(x, isDir, m, now, parent) {
  var lines = [[x.name + (isDir ? '/' : ''), 'b']], reason = partialOf(x.partial);
  if (parent) lines.push(['in ' + parent + '/']);
  lines.push(['Size ' + atLeast(bytes(x.bytes), reason)]);
  if (x.disk_bytes != null) lines.push(['On disk ' + atLeast(bytes(x.disk_bytes), reason)]);
  if (typeof x.modified === 'string' && isFinite(Date.parse(x.modified))) {
    lines.push(['Last change ' + ago(x.modified, now) + ' (' + x.modified.replace('T', ' ').replace('Z', ' UTC') + ')']);
  }
  if (isDir && x.items != null) lines.push([count(x.items) + (num(x.items) === 1 ? ' item' : ' items')]);
  if (reason) lines.push(['At least: ' + why(reason)]);
  return lines;
}

/* Draws the map of a successful reply d; hides it for anything else. */
function drawMap(d) {
  var of = ROOT + '\n' + SUB;
  if (MAP_OF !== of) { MAP.textContent = ''; MAP_KEYS = {}; MAP_OF = of; hideTip(); }
  MAP_DATA = d && Array.isArray(d.entries) && d.entries.length ? d : null;
  MAP_WRAP.classList.toggle('hide', !MAP_DATA);
  txt('mapHint', MAP_DATA ? 'Area: ' + (measureOf(d).key === 'disk_bytes' ? 'size on disk' : 'size') +
    '. A folder holds its largest items' + (ROOT === 'home' ? '; click a folder to open it' : '') +
    '. Arrow keys move between tiles.' + (CHG ? ' Outlined: grown or new (solid, \u25b2), shrunk (dashed, \u25bc).' : '') : '');
  layoutMap();
}

function layoutMap() {
  var d = MAP_DATA, seen = [];
  var W = MAP.clientWidth, H = MAP.clientHeight;
  MAP_W = W;
  if (d && W > 0 && H > 0) seen = layout(d, W, H);
  /* Tiles no longer drawn go; the others keep their place in the order,
     so the focused one is never taken out and put back. */
  Object.keys(MAP_KEYS).forEach(function (k) {
    if (seen.indexOf(MAP_KEYS[k]) < 0) {
      if (MAP_KEYS[k].contains(document.activeElement)) MAP.focus();
      MAP.removeChild(MAP_KEYS[k]);
      delete MAP_KEYS[k];
    }
  });
  order(seen);
  rove(seen[0] && seen.indexOf(MAP_CUR) < 0 ? seen[0] : MAP_CUR);
  if (TIP_AT && seen.indexOf(TIP_AT) >= 0) showTip(TIP_AT); else hideTip();
}

/* Lays the tiles of d out on a map W x H; returns them in drawing order. */
function layout(d, W, H) {
  var m = measureOf(d), now = replyTime(d), seen = [], sum = 0, onDisk = m.key === 'disk_bytes';
  var list = d.entries.filter(function (e) { return e && typeof e === 'object'; }).map(function (e) {
    var v = Math.max(0, num(e[m.key]));
    sum += v;
    return { e: e, v: v };
  });
  var total = Math.max(sum, m.total), shown = [], rest = total - sum, restN = 0;
  list.sort(function (a, b) { return b.v - a.v; });
  list.forEach(function (x) {
    if (x.v > 0 && shown.length < MAP_MAX && x.v >= total * MAP_MIN) shown.push(x);
    else { rest += x.v; restN++; }
  });
  // One entry left over is drawn as itself, not as "others".
  if (restN === 1 && rest === list[list.length - 1].v && rest > 0) { shown.push(list[list.length - 1]); rest = 0; restN = 0; }
  var items = shown.slice();
  if (rest > 0) items.push({ others: true, v: rest, n: restN });
  items.sort(function (a, b) { return b.v - a.v; });
  var amount = function (v, reason) { return atLeast(bytes(v), reason) + (onDisk ? ' on disk' : ''); };
  squarify(items, 0, 0, W, H).forEach(function (r) {
    var x = r.item, p = total > 0 ? x.v / total * 100 : 0;
    if (x.others) {
      var t = tileFor('o', false, seen), what = x.n ? x.n + ' smaller item' + (x.n === 1 ? '' : 's') : 'items not listed';
      place(t, r, W, H, 'others', '', 'others', bytes(x.v), false);
      describe(t, null, '', 'Others: ' + what + ', ' + amount(x.v, '') + ', ' + share(p),
        [['Others', 'b'], [what], [amount(x.v, '')]]);
      return;
    }
    var e = x.e, name = String(e.name), isDir = e.is_dir === true, reason = partialOf(e.partial);
    var opens = ROOT === 'home' && isDir && drillable(name), hue = HUES[shown.indexOf(x) % HUES.length];
    var kids = isDir && Array.isArray(e.children) ? e.children : [];
    var head = kids.length > 0 && r.w >= 56 && r.h >= 44;
    var t = tileFor((opens ? 'b' : 'i') + '\n' + name, opens, seen), ch = chgOf(e);
    place(t, r, W, H, (isDir ? 'dir' : 'file') + ' lv1', hue, name + (isDir ? '/' : ''), atLeast(bytes(x.v), reason), head, ch);
    describe(t, name, opens ? subOf(name) : '', name + ', ' + amount(x.v, reason) + ', ' + share(p), tipOf(e, isDir, m, now, ''), '', ch);
    if (head) drawChildren(e, x.v, { x: r.x + 2, y: r.y + 22, w: r.w - 4, h: r.h - 24 }, W, H, m, total, hue, opens, seen);
  });
  return seen;
}

/* The second level: the children of entry e (value v) in rectangle box;
   what they leave of the folder stays empty. */
function drawChildren(e, v, box, W, H, m, total, hue, opens, seen) {
  var kids = [], ksum = 0, parent = String(e.name);
  e.children.forEach(function (c) {
    var cv = c && typeof c === 'object' ? Math.max(0, num(c[m.key])) : 0;
    if (cv > 0) { kids.push({ c: c, v: cv }); ksum += cv; }
  });
  kids.sort(function (a, b) { return b.v - a.v; });
  var items = kids.slice();
  if (v > ksum) items.push({ rest: true, v: v - ksum });
  squarify(items, box.x, box.y, box.w, box.h).forEach(function (r) {
    if (r.item.rest || r.w < CHILD_MIN || r.h < CHILD_MIN) return;
    var c = r.item.c, name = String(c.name), isDir = c.is_dir === true;
    var sub = opens && isDir && nameOk(name) && fits(subOf(parent) + '/' + name) ? subOf(parent) + '/' + name : '';
    var t = tileFor('c' + (sub ? 'b' : 'i') + '\n' + parent + '\n' + name, !!sub, seen), ch = kidChg(e, c);
    place(t, r, W, H, (isDir ? 'dir' : 'file') + ' lv2', hue, name + (isDir ? '/' : ''), bytes(r.item.v), false, ch);
    t.setAttribute('data-parent', parent);
    describe(t, name, sub, name + ', ' + bytes(r.item.v) + (m.key === 'disk_bytes' ? ' on disk' : '') + ', ' +
      share(total > 0 ? r.item.v / total * 100 : 0) + ', in ' + parent, tipOf(c, isDir, m, 0, parent),
      opens ? subOf(parent) : '', ch);
  });
}

/* Puts the map's tiles in the order tiles, moving every tile but the one
   that has the focus (moving it would take the focus away). */
function order(tiles) {
  var now = Array.prototype.slice.call(MAP.children);
  if (now.length === tiles.length && now.every(function (t, i) { return t === tiles[i]; })) return;
  var f = tiles.indexOf(document.activeElement), i;
  if (f < 0) {
    tiles.forEach(function (t) { MAP.appendChild(t); });
    return;
  }
  for (i = f - 1; i >= 0; i--) MAP.insertBefore(tiles[i], tiles[i + 1]);
  for (i = f + 1; i < tiles.length; i++) MAP.insertBefore(tiles[i], tiles[i - 1].nextSibling);
}

/* Makes t the map's tab stop. */
function rove(t) {
  if (MAP_CUR && MAP_CUR !== t) MAP_CUR.tabIndex = -1;
  MAP_CUR = t || null;
  if (MAP_CUR) MAP_CUR.tabIndex = 0;
}
/* Arrow keys: the next or previous tile in the map's order (largest first,
   each folder before its children); Home and End: the first and last. */
MAP.addEventListener('keydown', function (ev) {
  var t = tileOf(ev.target), tiles = Array.prototype.slice.call(MAP.querySelectorAll('.tile'));
  if (!t) return;
  var i = tiles.indexOf(t), to = { ArrowRight: i + 1, ArrowDown: i + 1, ArrowLeft: i - 1, ArrowUp: i - 1, Home: 0, End: tiles.length - 1 }[ev.key];
  if (to === undefined) return;
  ev.preventDefault();
  if (tiles[to]) tiles[to].focus();
});

/* The tip of tile t: beside it, inside the map's width, on hover and focus. */
function showTip(t) {
  if (!t || !t._tip) return;
  TIP_AT = t;
  TIP.textContent = '';
  t._tip.forEach(function (l) { TIP.appendChild(el(l[1] || 'div', '', l[0])); });
  TIP.hidden = false;
  var mw = MAP.clientWidth, mh = MAP.clientHeight, tw = TIP.offsetWidth, th = TIP.offsetHeight;
  var left = Math.max(0, Math.min(t.offsetLeft, mw - tw)), top = t.offsetTop + t.offsetHeight + 4;
  if (top + th > mh && t.offsetTop - th - 4 >= 0) top = t.offsetTop - th - 4;
  else if (top + th > mh) top = t.offsetTop + Math.min(t.offsetHeight, 22);
  TIP.style.left = left + 'px';
  TIP.style.top = top + 'px';
}
function hideTip() {
  TIP_AT = null;
  TIP.hidden = true;
}
function tileOf(n) { return n && n.closest ? n.closest('#dirMap .tile') : null; }
MAP.addEventListener('mouseover', function (ev) { var t = tileOf(ev.target); if (t) showTip(t); });
MAP.addEventListener('mouseleave', function () {
  var f = tileOf(document.activeElement);
  if (f) showTip(f); else hideTip();
});
MAP.addEventListener('focusin', function (ev) {
  var t = tileOf(ev.target);
  if (!t) return;
  rove(t);
  showTip(t);
});
MAP.addEventListener('focusout', function (ev) { if (!tileOf(ev.relatedTarget)) hideTip(); });
document.addEventListener('keydown', function (ev) { if (ev.key === 'Escape') hideTip(); });
/* A folder tile opens its folder, as a click on its row does (a button:
   Enter and Space click it too); a click on a file inside a folder's tile
   opens that folder. */
MAP.addEventListener('click', function (ev) {
  var t = tileOf(ev.target), to = t && (t._sub || t._via);
  if (!to) return;
  MAP_MOVED = true;
  go(to);
});
/* After a tile opened a folder, the focus goes to the new map's first tile. */
function mapFocusTarget() {
  var moved = MAP_MOVED;
  MAP_MOVED = false;
  return moved ? MAP.querySelector('.tile') : null;
}
/* A new width lays the tiles out again (until then they stretch with it). */
if (typeof ResizeObserver === 'function') {
  new ResizeObserver(function () { if (MAP.clientWidth !== MAP_W) layoutMap(); }).observe(MAP);
}
