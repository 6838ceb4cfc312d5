// Screenshots of the dashboard with the real plugin's data, light and dark
// (1100 px wide viewport, the whole page).
// They are written to $BROWSER_TMP; with UPDATE_SCREENSHOTS=1 to docs/
// (docs/dashboard-light.png and docs/dashboard-dark.png).
'use strict';
const { it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const h = require('./helpers');

const OUT = process.env.UPDATE_SCREENSHOTS === '1' ? path.join(h.REPO, 'docs') : (process.env.BROWSER_TMP || '/tmp');
let browser;
before(async () => { browser = await h.launch(); fs.mkdirSync(OUT, { recursive: true }); });
after(async () => { await browser.close(); });

for (const theme of ['light', 'dark']) {
  it(`dashboard in the ${theme} theme`, async () => {
    const context = await browser.newContext({ viewport: { width: 1100, height: 900 }, reducedMotion: 'reduce' });
    const page = await context.newPage();
    await page.goto(h.HOST_URL + '/plugin_disks?theme=' + theme);
    await h.waitText(page, '#pPlatform', 'linux');
    await h.waitText(page, '#dirNote', /entries/);
    assert.equal(await page.evaluate(() => document.documentElement.getAttribute('data-theme')), theme);
    const file = path.join(OUT, `dashboard-${theme}.png`);
    await page.screenshot({ path: file, fullPage: true });
    const png = fs.readFileSync(file);
    assert.deepEqual([...png.subarray(0, 8)], [137, 80, 78, 71, 13, 10, 26, 10]);
    assert.equal(png.readUInt32BE(16), 1100);
    assert.ok(png.readUInt32BE(20) >= 900);
    await context.close();
  });
}
