// Shows that the page velto-fprint-folder writes fits the window from a desktop's width down to
// a phone's: a group of 30 photos wraps its tiles into rows within the page, in job order, and
// the page itself never scrolls sideways (the score plot may, inside its own box). And that its
// summary shows the time of every stage the folder program runs, finding the photos included.
// Screenshots at both widths land in BUILD_DIR/test-artifacts.
'use strict';
const { test, after, before } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { run, openPage, closePage, outsideRequests } = require('./browser');

const build = path.resolve(process.argv[2] || process.env.BUILD_DIR || 'build');
const photos = path.resolve(__dirname, '../../examples/photos');
const artifacts = path.join(build, 'test-artifacts');
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'velto-browser-folder-'));
const kBurst = 30;

// Copies example photos into `folder` under new names, all taken at `time` (none: undated).
function dated(folder, copies, time) {
  for (const [name, from] of copies) fs.copyFileSync(path.join(photos, from), path.join(folder, name));
  if (!time) return;
  run('/usr/bin/exiv2', ['-M', `set Exif.Photo.DateTimeOriginal 2026:12:07 ${time}`,
                         ...copies.map(([name]) => name)], folder);
}

let context;
let page;
const requests = [];

before(async () => {
  // A burst of 30 cats (three photos over and over: one group), an hour later three coffees,
  // and an undated astronaut.
  const folder = path.join(scratch, 'photos');
  fs.mkdirSync(folder);
  const burst = [...Array(kBurst).keys()].map(
      (i) => [`burst_${String(i + 1).padStart(2, '0')}.jpg`, `cat_${i % 3 + 1}.jpg`]);
  dated(folder, burst, '14:03:00');
  dated(folder, [1, 2, 3].map((i) => [`coffee_${i}.jpg`, `coffee_${i}.jpg`]), '15:03:00');
  dated(folder, [['astronaut_1.jpg', 'astronaut_1.jpg']], '');
  const report = path.join(scratch, 'report.html');
  // The astronaut stays undated (not dated by its file); no prints cache of the user's.
  const r = run(path.join(build, 'velto-fprint-folder'),
                ['--undated', 'last', '--no-cache', '--report', report, folder], scratch);
  assert.match(r.stderr, /^velto-fprint-folder: 34 photos \(1 undated\)/);
  assert.equal(r.stdout.trim().split('\n').length, 1 + 34);  // the listing, under its header

  ({ context, page } = await openPage(report, scratch, requests));
});

after(() => closePage(context, scratch));

test('the page fetches nothing from the network', () => {
  assert.deepEqual(outsideRequests(requests), []);
});

test('the summary shows every stage the folder program times, none as zero', async () => {
  const shown = {};
  for (const key of ['photoSeconds', 'printSeconds', 'groupSeconds', 'renderSeconds']) {
    const cell = page.locator(`td[data-key="${key}"]`);
    assert.equal(await cell.count(), 1, key);
    const seconds = Number(await cell.getAttribute('data-value'));
    shown[key] = await cell.innerText();
    assert.ok(seconds > 0, `${key}: ${seconds}`);
    assert.match(shown[key], /^(< 1 µs|[1-9][0-9.]* (s|ms|µs))$/, key);
  }
  console.log(`# times shown: ${JSON.stringify(shown)}`);
});

// Where every tile lies against the page's width, and whether the page scrolls sideways.
async function layout() {
  return page.evaluate(() => {
    const root = document.documentElement;
    const tiles = [...document.querySelectorAll('figure.tile')].map((t) => {
      const r = t.getBoundingClientRect();
      return { index: Number(t.dataset.index), group: Number(t.dataset.group),
               left: r.left + window.scrollX, right: r.right + window.scrollX,
               top: r.top + window.scrollY };
    });
    const plot = document.querySelector('.plotbox').getBoundingClientRect();
    return { width: root.clientWidth, scrollWidth: root.scrollWidth, tiles,
             plotRight: plot.right + window.scrollX };
  });
}

for (const width of [1280, 360]) {
  test(`at ${width} px every tile lies within the page, the burst wrapped in order`, async () => {
    await page.setViewportSize({ width, height: 900 });
    await page.evaluate(() => new Promise((done) => requestAnimationFrame(() => done())));
    const l = await layout();
    assert.ok(l.width <= width && l.width > width - 30, `page width ${l.width}`);
    assert.ok(l.scrollWidth <= l.width, `the page scrolls sideways: ${l.scrollWidth} > ${l.width}`);
    assert.equal(l.tiles.length, kBurst + 4);
    for (const t of l.tiles) {
      assert.ok(t.left >= 0 && t.right <= l.width,
                `tile ${t.index} at ${t.left}..${t.right}, page ${l.width} wide`);
    }
    assert.ok(l.plotRight <= l.width, `the plot's box ends at ${l.plotRight}`);

    // The burst is one group, read left to right and then down, row after row.
    const burst = l.tiles.filter((t) => t.group === l.tiles[0].group);
    assert.equal(burst.length, kBurst);
    let rows = 1;
    for (let i = 1; i < burst.length; ++i) {
      const [a, b] = [burst[i - 1], burst[i]];
      if (b.top > a.top + 1) {
        ++rows;
      } else {
        assert.ok(Math.abs(b.top - a.top) <= 1 && b.left >= a.right, `tile ${b.index} after ${a.index}`);
      }
    }
    assert.ok(rows >= 2, `${rows} rows`);
    const perRow = burst.filter((t) => Math.abs(t.top - burst[0].top) <= 1).length;
    console.log(`# ${width} px: page ${l.width} px wide, burst in ${rows} rows of ${perRow}, ` +
                `tiles from ${Math.min(...l.tiles.map((t) => t.left))} to ` +
                `${Math.max(...l.tiles.map((t) => t.right))} px`);

    // Pointing at the plot's last point shows its value without widening the page.
    const last = page.locator('svg.plot circle.gap').last();
    await last.scrollIntoViewIfNeeded();
    await last.hover();
    await page.locator('#tip').waitFor({ state: 'visible', timeout: 2000 });
    const hovered = await layout();
    assert.ok(hovered.scrollWidth <= hovered.width,
              `the value shown widens the page to ${hovered.scrollWidth}`);
    await page.mouse.move(0, 0);

    fs.mkdirSync(artifacts, { recursive: true });
    const shot = path.join(artifacts, `folder-report-${width}.png`);
    await page.screenshot({ path: shot, fullPage: true });
    assert.ok(fs.statSync(shot).size > 10000);
  });
}
