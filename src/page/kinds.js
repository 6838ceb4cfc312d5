/* The files by type and by age beside the map, made here from the detail
   reply's types and ages; a type chosen narrows the Largest files card to
   its files. Part of the client script's function body. */
var KINDS = el('div', 'kinds'), KD_TYPES = el('ul', 'krows'), KD_BAR = el('div', 'abar');
var KD_OLD = el('p', 'ksum'), KD_BANDS = el('ul', 'klegend'), KD_WHY = el('p', 'sub kwhy');
var KD_LG = el('p', 'muted klg'), KD_LG_TEXT = el('span'), KD_LG_ALL = el('button', 'ghost', 'Show every type');
var LG_EMPTY = $('lgEmpty').textContent;
/* The type chosen ('t' and its type, 'o' the others, '' none), the folder
   it was chosen in, the types the reply named. */
var KD_PICK = '', KD_OF = '', KD_NAMED = [];
var BANDS = { day: ['under a day', '--green'], week: ['a day to a week', '--teal'], month: ['a week to a month', '--blue'],
  year: ['a month to a year', '--indigo'], older: ['over a year', '--orange'], unknown: ['time not told', '--gray'] };
[['By type', KD_TYPES, 'Choose a type to list only its files under Largest files.'], ['By age', KD_BAR]].forEach(function (v, i) {
  var s = el('section', 'kind'), hd = el('h3', '', v[0]);
  hd.id = i ? 'kAgeHead' : 'kTypeHead';
  s.setAttribute('aria-labelledby', hd.id);
  s.appendChild(hd);
  s.appendChild(v[1]);
  if (i) { s.appendChild(KD_OLD); s.appendChild(KD_BANDS); } else s.appendChild(el('p', 'sub khint', v[2]));
  KINDS.appendChild(s);
});
KINDS.appendChild(KD_WHY);
KINDS.id = 'kinds';
KINDS.hidden = KD_LG.hidden = true;
KD_BAR.setAttribute('role', 'img');
KD_BAR.tabIndex = 0;
MAP_WRAP.appendChild(KINDS);
KD_LG.setAttribute('role', 'status');
KD_LG_ALL.type = 'button';
KD_LG.appendChild(KD_LG_TEXT);
KD_LG.appendChild(KD_LG_ALL);
LARGEST.insertBefore(KD_LG, LARGEST.querySelector('.tblwrap'));
KD_LG_ALL.addEventListener('click', function () { pickKind(''); });

/* A file name's type as the plugin tells it: after the last dot, A to Z
   lowered; '' for none (no dot, or one that only begins or ends the
   name); null for no type (over 16 bytes, or bytes the reply replaced). */
var UTF8 = new TextEncoder();
function typeOf(name) {
  var n = String(name), i = n.lastIndexOf('.'), ext = n.slice(i + 1);
  if (i <= 0 || !ext) return '';
  if (ext.indexOf('\ufffd') >= 0 || UTF8.encode(ext).length > 16) return null;
  return ext.replace(/[A-Z]/g, function (c) { return c.toLowerCase(); });
}
function kindKey(r) { return r.type === null ? 'o' : 't' + r.type; }
function kindName(t) { return t === null ? 'others' : t === '' ? 'no extension' : '.' + t; }
function fileCount(r, reason) { return atLeast(count(r.files), reason) + (num(r.files) === 1 ? ' file' : ' files'); }

/* The Largest files as the chosen type narrows them; the card says so. */
function kindFilter(list) {
  KD_LG.hidden = !KD_PICK;
  $('lgEmpty').textContent = KD_PICK ? 'None of the largest files below this folder is of this type.' : LG_EMPTY;
  if (!KD_PICK) return list;
  var t = KD_PICK === 'o' ? null : KD_PICK.slice(1), out = list.filter(function (f) {
    var k = f && typeOf(f.name);
    return t === null ? k === null || KD_NAMED.indexOf(k) < 0 : k === t;
  });
  KD_LG_TEXT.textContent = 'Only the ' + (t === null ? 'other types\' files' : kindName(t) + ' files') + ' of the ' +
    list.length + ' largest: ' + out.length + '.';
  return out;
}
function pickKind(key) {
  KD_PICK = KD_PICK === key ? '' : key;
  KD_TYPES.querySelectorAll('button').forEach(function (b) { b.setAttribute('aria-pressed', String(b._key === KD_PICK)); });
  if (SHOWN) drawLargest(SHOWN);
}

/* A row of By type: a button with the type, its files' size on disk,
   share and count, and a bar of the share. */
function typeRow(r, total, key, reason) {
  var b = el('button', 'krow'), p = total > 0 ? Math.min(100, num(r[key]) / total * 100) : 0;
  var figs = el('span', 'kfig', atLeast(bytes(r[key]), reason)), bar = el('span', 'kbar'), fill = el('span', 'fill');
  b.type = 'button';
  b._key = kindKey(r);
  b.setAttribute('aria-pressed', String(b._key === KD_PICK));
  b.title = 'List only its files under Largest files';
  b.appendChild(el('span', 'kname', (r.exact === false ? '\u2248 ' : '') + kindName(r.type)));
  b.appendChild(hidden(': '));
  figs.appendChild(hidden(key === 'disk_bytes' ? ' on disk, ' : ', '));
  figs.appendChild(el('span', 'kpct', share(p)));
  figs.appendChild(hidden(', '));
  figs.appendChild(el('span', '', fileCount(r, reason)));
  b.appendChild(figs);
  bar.setAttribute('aria-hidden', 'true');
  fill.style.width = p + '%';
  bar.appendChild(fill);
  b.appendChild(bar);
  b.addEventListener('click', function () { pickKind(b._key); });
  var li = el('li');
  li.appendChild(b);
  return li;
}

/* Both views from a successful reply d; hidden for anything else. */
function drawKinds(d) {
  var types = d && Array.isArray(d.types) ? d.types.filter(function (r) { return r && typeof r === 'object'; }) : null;
  var ages = d && Array.isArray(d.ages) ? d.ages : null, of = ROOT + '\n' + SUB;
  if (KD_OF !== of || !types || !ages) { KD_OF = of; KD_PICK = ''; }
  KINDS.hidden = !types || !ages;
  MAP_WRAP.classList.toggle('haskinds', !KINDS.hidden);
  if (KINDS.hidden) return;
  var reason = partialOf(d.files_partial), total = num(d.files_disk_bytes), key = 'disk_bytes';
  if (!(total > 0)) { total = num(d.files_bytes); key = 'bytes'; }
  KD_NAMED = types.filter(function (r) { return typeof r.type === 'string'; }).map(function (r) { return r.type; });
  if (!types.some(function (r) { return kindKey(r) === KD_PICK; })) KD_PICK = '';
  /* The rows anew, the focus kept on its type. */
  var was = KD_TYPES.contains(document.activeElement) ? document.activeElement._key : null;
  KD_TYPES.textContent = '';
  types.forEach(function (r) { KD_TYPES.appendChild(typeRow(r, total, key, reason)); });
  if (!types.length) KD_TYPES.appendChild(el('li', 'muted', 'No files counted in this folder.'));
  KD_TYPES.querySelectorAll('button').forEach(function (b) { if (b._key === was) b.focus(); });
  /* By age: one bar in bands, the words for the oldest, the bands. */
  KD_BAR.textContent = KD_BANDS.textContent = '';
  var spoken = [], old = 0;
  ages.forEach(function (a) {
    var band = a && BANDS[a.age];
    if (!band || !Object.prototype.hasOwnProperty.call(BANDS, a.age)) return;
    var v = num(a[key]), p = total > 0 ? Math.min(100, v / total * 100) : 0, text = atLeast(bytes(v), reason) + ', ' + share(p);
    if (a.age === 'older') old = v;
    if (p > 0) {
      var seg = el('span', 'aseg');
      seg.style.width = p + '%';
      seg.style.setProperty('--hue', 'var(' + band[1] + ')');
      seg.title = band[0] + ': ' + text;
      KD_BAR.appendChild(seg);
    }
    var li = el('li'), sw = el('span', 'asw');
    sw.style.setProperty('--hue', 'var(' + band[1] + ')');
    sw.setAttribute('aria-hidden', 'true');
    li.appendChild(sw);
    li.appendChild(el('span', 'aname', band[0]));
    li.appendChild(hidden(': '));
    li.appendChild(el('span', 'kfig', text + ', ' + fileCount(a, reason)));
    KD_BANDS.appendChild(li);
    spoken.push(band[0] + ' ' + share(p));
  });
  KD_BAR.setAttribute('aria-label', 'By the time since the last change: ' + spoken.join(', '));
  KD_OLD.textContent = 'Not changed for over a year: ' + atLeast(bytes(old), reason) + ', ' + share(total > 0 ? old / total * 100 : 0);
  var notes = [];
  if (reason) notes.push('At least: ' + why(reason) + '.');
  if (types.some(function (r) { return r.exact === false; })) {
    notes.push('More types than the walk could tell apart: one counted with the others may outrank a row marked \u2248.');
  }
  KD_WHY.textContent = notes.join(' ');
  KD_WHY.hidden = !notes.length;
}
