/* Theme bridge: lets the hub push its theme by message, by qvApplyTheme or
   by the shared "zem_theme" key, and asks a framing hub for its theme. */
(function () {
  var root = document.documentElement;
  function apply(t) {
    if (t !== 'light' && t !== 'dark') return;
    if (root.getAttribute('data-theme') === t) return;
    root.setAttribute('data-theme', t);
    try { localStorage.setItem('zem_theme', t); } catch (e) {}
    try { window.dispatchEvent(new CustomEvent('zem-theme', { detail: t })); } catch (e) {}
  }
  window.qvApplyTheme = apply;
  window.qvTheme = function () {
    var t = root.getAttribute('data-theme');
    return (t === 'light' || t === 'dark') ? t : 'dark';
  };
  window.addEventListener('message', function (ev) {
    var d = ev ? ev.data : null;
    if (d && typeof d === 'object' && d.type === 'qv-theme') apply(d.theme);
  });
  try {
    if (window.parent && window.parent !== window) window.parent.postMessage({ type: 'qv-theme-request' }, '*');
  } catch (e) {}
})();
