// What the browser tests share: running the built programs, and Debian's chromium started so
// that the page under test can reach nothing but file: and data: addresses.
'use strict';
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const path = require('node:path');
const { chromium } = require('playwright-core');

// Runs `program` (a path) with `args` in `cwd`; fails the test unless it exits 0. Returns what
// it wrote: { stdout, stderr }.
function run(program, args, cwd) {
  const r = spawnSync(program, args, { cwd, encoding: 'utf8' });
  assert.equal(r.status, 0, `${path.basename(program)} failed: ${r.stderr}`);
  return { stdout: r.stdout, stderr: r.stderr };
}

// A headless chromium with its profile in `profile`. Every address asked for is pushed onto
// `requests`; anything but file: and data: is refused.
async function launch(profile, viewport, requests) {
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    viewport,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  context.on('request', (r) => requests.push(r.url()));
  await context.route(/^(?!file:|data:)/, (route) => route.abort());
  const page = context.pages()[0] || await context.newPage();
  return { context, page };
}

module.exports = { run, launch };
