/* First-paint theme: settles data-theme on <html> before anything is drawn.
   Order: ?theme= in the URL, then the stored "zem_theme", then the system
   preference, else dark. Every step that may throw is guarded. */
(function () {
  var root = document.documentElement, theme = null, query = '';
  try { query = String(location.search || ''); } catch (e) {}
  try {
    var m = /[?&]theme=(light|dark)/.exec(query);
    if (m) theme = m[1];
  } catch (e) {}
  if (!theme) {
    try {
      var s = localStorage.getItem('zem_theme');
      if (s === 'light' || s === 'dark') theme = s;
    } catch (e) {}
  }
  if (!theme) {
    try {
      theme = (window.matchMedia && window.matchMedia('(prefers-color-scheme: light)').matches) ? 'light' : 'dark';
    } catch (e) { theme = 'dark'; }
  }
  root.setAttribute('data-theme', theme);
  try {
    if (/[?&]embed=(1|true)(&|$)/.test(query)) root.classList.add('embedded');
  } catch (e) {}
  try { localStorage.setItem('zem_theme', theme); } catch (e) {}
})();
