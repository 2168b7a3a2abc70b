// Shows that the report of a real-photo job, opened from file:// in Debian's chromium, shows
// every photo once with its picture, in the groups velto-fprint makes, and a score plot whose
// points, threshold line and hover values agree with the numbers behind them (the threshold's
// value itself is the unit tests' and report_test.cpp's).
'use strict';
const { test, after, before } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { run: runIn, openPage, closePage, outsideRequests } = require('./browser');

const build = path.resolve(process.argv[2] || process.env.BUILD_DIR || 'build');
const examples = path.resolve(__dirname, '../../examples');
const artifacts = path.join(build, 'test-artifacts');
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'velto-browser-'));

// Runs one of the built programs on the example job from the examples folder.
function run(program, output) {
  assert.deepEqual(runIn(path.join(build, program), ['job.json', output], examples),
                   { stdout: '', stderr: '' });
}

let context;
let page;
let job;
let groups;
const requests = [];

before(async () => {
  job = JSON.parse(fs.readFileSync(path.join(examples, 'job.json'), 'utf8'));
  const report = path.join(scratch, 'report.html');
  run('velto-fprint-report', report);
  run('velto-fprint', path.join(scratch, 'result.json'));
  groups = JSON.parse(fs.readFileSync(path.join(scratch, 'result.json'), 'utf8')).groups;

  ({ context, page } = await openPage(report, scratch, requests));
});

after(() => closePage(context, scratch));

test('the page fetches nothing from the network', () => {
  assert.deepEqual(outsideRequests(requests), []);
});

// A time that was not taken is left out, not shown as 0: velto-fprint-report reads its photos
// from the job file and finds none.
test('the summary shows the times of the stages this program runs, none as zero', async () => {
  assert.equal(await page.locator('td[data-key="photoSeconds"]').count(), 0);
  for (const key of ['printSeconds', 'groupSeconds', 'renderSeconds']) {
    const cell = page.locator(`td[data-key="${key}"]`);
    assert.equal(await cell.count(), 1, key);
    assert.ok(Number(await cell.getAttribute('data-value')) > 0, key);
    assert.match(await cell.innerText(), /^(< 1 µs|[1-9][0-9.]* (s|ms|µs))$/, key);
  }
});

test('every photo appears once, visible, with its picture loaded', async () => {
  const tiles = page.locator('figure.tile');
  assert.equal(await tiles.count(), job.photos.length);
  for (let i = 0; i < job.photos.length; ++i) {
    const tile = page.locator(`figure.tile[data-index="${i}"]`);
    assert.equal(await tile.count(), 1, `photo ${i}`);
    await tile.scrollIntoViewIfNeeded();
    assert.ok(await tile.isVisible(), `photo ${i} visible`);
    // Nothing covers the picture: the element under its centre belongs to this tile.
    const seen = await tile.evaluate((el) => {
      const img = el.querySelector('img');
      const r = img.getBoundingClientRect();
      const top = document.elementFromPoint(r.left + r.width / 2, r.top + r.height / 2);
      return { complete: img.complete, natural: img.naturalWidth, width: r.width,
               height: r.height, covered: !el.contains(top), alt: img.alt };
    });
    assert.ok(seen.complete && seen.natural > 0, `photo ${i} picture decoded`);
    assert.ok(seen.width >= 60 && seen.height >= 40, `photo ${i} shown at a useful size`);
    assert.equal(seen.covered, false, `photo ${i} not covered`);
    assert.equal(seen.alt, job.photos[i]);
    assert.match(await tile.locator('figcaption').innerText(),
                 new RegExp(`^${i + 1} ${path.basename(job.photos[i]).replace('.', '\\.')}$`));
  }
});

test('the groups on the sheet are the groups velto-fprint writes', async () => {
  const shown = await page.locator('figure.tile').evaluateAll((tiles) => tiles.map((t) => {
    const box = t.closest('.group');
    const label = box.querySelector('.gnum').innerText;
    const m = /^Group (\d+)$/.exec(label);
    return { index: Number(t.dataset.index), label, group: m ? Number(m[1]) : 0,
             data: Number(t.dataset.group) };
  }));
  shown.sort((a, b) => a.index - b.index);
  assert.deepEqual(shown.map((s) => s.group), groups);
  assert.deepEqual(shown.map((s) => s.data), groups);
  assert.equal(await page.locator('#sheet .group').count(), new Set(groups).size);
});

test('the plot has one point per gap on one scale with the threshold line', async () => {
  const points = page.locator('svg.plot circle.gap');
  assert.equal(await points.count(), job.photos.length - 1);
  await page.locator('svg.plot').scrollIntoViewIfNeeded();
  const pts = await points.evaluateAll((cs) => cs.map((c) => {
    const r = c.getBoundingClientRect();
    return { gap: Number(c.dataset.gap), score: Number(c.dataset.score), y: r.top + r.height / 2 };
  }));
  assert.deepEqual(pts.map((p) => p.gap), [...pts.keys()]);
  // Screen y as a straight line of the score, fitted through all points.
  const n = pts.length;
  const mx = pts.reduce((s, p) => s + p.score, 0) / n;
  const my = pts.reduce((s, p) => s + p.y, 0) / n;
  const sxx = pts.reduce((s, p) => s + (p.score - mx) ** 2, 0);
  const slope = pts.reduce((s, p) => s + (p.score - mx) * (p.y - my), 0) / sxx;
  const yOf = (score) => my + slope * (score - mx);
  assert.ok(slope < 0, 'higher scores are drawn higher up');
  for (const p of pts) assert.ok(Math.abs(p.y - yOf(p.score)) < 0.75, `gap ${p.gap} on the scale`);

  const line = page.locator('svg.plot line.threshold');
  assert.equal(await line.count(), 1);
  const t = await line.evaluate((l) => {
    const r = l.getBoundingClientRect();
    return { value: Number(l.dataset.value), y: r.top + r.height / 2 };
  });
  assert.ok(Math.abs(t.y - yOf(t.value)) < 1, `threshold at y ${t.y}, scale says ${yOf(t.value)}`);
  assert.match(await page.locator('svg.plot .thresholdlabel').textContent(),
               new RegExp(`tSplit ${t.value.toFixed(3)}`));
});

test('pointing at a point shows its value', async () => {
  const points = page.locator('svg.plot circle.gap');
  const tip = page.locator('#tip');
  for (let i = 0; i < await points.count(); ++i) {
    const point = points.nth(i);
    const score = Number(await point.getAttribute('data-score')).toFixed(4);
    assert.ok((await point.locator('title').textContent()).includes(score), `title of gap ${i}`);
    await point.hover();
    await tip.waitFor({ state: 'visible', timeout: 2000 });
    assert.ok((await tip.innerText()).includes(score), `tip of gap ${i}: ${await tip.innerText()}`);
  }
  // Leave the pointer on the first cut, so the screenshot shows a value as a person sees it.
  await page.locator('svg.plot circle.gap.cut').first().hover();
  fs.mkdirSync(artifacts, { recursive: true });
  await page.screenshot({ path: path.join(artifacts, 'report.png'), fullPage: true });
  assert.ok(fs.statSync(path.join(artifacts, 'report.png')).size > 10000);
});
