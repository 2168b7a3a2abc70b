// What the browser tests share: running the built programs, and Debian's chromium started so
// that the page under test can reach nothing but file: and data: addresses.
'use strict';
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { pathToFileURL } = require('node:url');
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

// The page at `file` in a fresh chromium (profile in `scratch`) at 1280 x 900: { context, page }.
async function openPage(file, scratch, requests) {
  const opened = await launch(path.join(scratch, 'profile'), { width: 1280, height: 900 },
                              requests);
  await opened.page.goto(pathToFileURL(file).href, { waitUntil: 'load' });
  return opened;
}

// Closes the browser, if it was started, and removes `scratch`.
async function closePage(context, scratch) {
  if (context) await context.close();
  fs.rmSync(scratch, { recursive: true, force: true });
}

// The addresses the page asked for beyond its own file and data: URIs.
function outsideRequests(requests) {
  return requests.filter((u) => !/^(file|data):/.test(u));
}

module.exports = { run, launch, openPage, closePage, outsideRequests };
