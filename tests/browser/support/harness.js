// The test bench: a fresh sample catalogue in a temporary folder, lighttpd serving the program
// over it on 127.0.0.1 (scripts/serve.sh --background), and a headless Chromium that may
// reach nothing but 127.0.0.1. Everything started here is stopped by stop(), by PID.
'use strict';

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { chromium } = require('playwright-core');
const catalogue = require('./catalogue');

const SOURCE_DIR = process.env.SHELFRA_SOURCE_DIR || path.resolve(__dirname, '../../..');
const EXE = process.env.SHELFRA_EXE || path.join(SOURCE_DIR, 'build/vovivavi.exe');
const SCREENSHOT_DIR = process.env.SHELFRA_SCREENSHOTS || path.join(SOURCE_DIR, 'build/browser-screenshots');
const CHROMIUM = process.env.SHELFRA_CHROMIUM || '/usr/bin/chromium';

function readState(file) {
  const state = {};
  for (const line of fs.readFileSync(file, 'utf8').split('\n')) {
    const eq = line.indexOf('=');
    if (eq > 0) state[line.slice(0, eq)] = line.slice(eq + 1);
  }
  return state;
}

function processAlive(pid) {
  try {
    process.kill(pid, 0);
  } catch {
    return false;
  }
  try {
    return !/^\d+ \(.*\) Z/.test(fs.readFileSync(`/proc/${pid}/stat`, 'utf8'));
  } catch {
    return false;
  }
}

// Options: exe, the program to serve (default SHELFRA_EXE); screenshots, the folder of this
// bench's screenshots (default SHELFRA_SCREENSHOTS), emptied of earlier runs' pictures.
async function startBench({ exe = EXE, screenshots = SCREENSHOT_DIR } = {}) {
  const bench = {
    dataDir: fs.mkdtempSync(path.join(os.tmpdir(), 'shelfra-catalogue-')),
    screenshots,
    blocked: [],
    serverPid: 0,
    context: null,
  };
  bench.stop = () => stopBench(bench);
  try {
    catalogue.buildSampleCatalogue(SOURCE_DIR, bench.dataDir);
    bench.books = catalogue.readTable(catalogue.sjisName(bench.dataDir, '図書.DBF')).records;
    bench.loans = catalogue.readTable(catalogue.sjisName(bench.dataDir, '貸出返却.DBF')).records;
    bench.settings = catalogue.readSettings(path.join(bench.dataDir, 'Shelfra.ini'));

    const stateFile = path.join(bench.dataDir, 'server.state');
    execFileSync(path.join(SOURCE_DIR, 'scripts/serve.sh'),
      ['--exe', exe, '--background', stateFile, '--owner', String(process.pid), bench.dataDir, 'auto'],
      { stdio: ['ignore', 'ignore', 'inherit'], timeout: 30000 });
    const state = readState(stateFile);
    bench.serverPid = Number(state.PID);
    bench.runDir = state.RUN_DIR;
    bench.url = state.URL;
    bench.origin = new URL(state.URL).origin;

    bench.browser = await chromium.launch({
      executablePath: CHROMIUM,
      headless: true,
      args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
        '--disable-component-update', '--disable-sync'],
      timeout: 30000,
    });
    bench.context = await newContext(bench, { viewport: { width: 1280, height: 900 } });
    // Screenshots of an earlier run would mislead: remove them (another bench's folders inside
    // stay).
    fs.mkdirSync(screenshots, { recursive: true });
    for (const f of fs.readdirSync(screenshots)) if (f.endsWith('.png')) fs.rmSync(path.join(screenshots, f));
    return bench;
  } catch (e) {
    await stopBench(bench);
    throw e;
  }
}

// A browser context of the bench's browser (options as Playwright's newContext takes them)
// that may reach only the server under test: anything else is refused and remembered.
async function newContext(bench, options) {
  const context = await bench.browser.newContext(options);
  await context.route('**/*', (route) => {
    const url = new URL(route.request().url());
    if (url.hostname === '127.0.0.1' || url.protocol === 'data:' || url.protocol === 'about:') return route.continue();
    bench.blocked.push(url.href);
    return route.abort();
  });
  return context;
}

async function stopBench(bench) {
  if (bench.browser) {
    await bench.browser.close().catch(() => {});
    bench.browser = null;
    bench.context = null;
  }
  if (bench.serverPid && processAlive(bench.serverPid)) {
    process.kill(bench.serverPid, 'SIGTERM');
    for (let i = 0; i < 50 && processAlive(bench.serverPid); i++) await new Promise((r) => setTimeout(r, 100));
    if (processAlive(bench.serverPid)) process.kill(bench.serverPid, 'SIGKILL');
  }
  bench.serverPid = 0;
  for (const dir of [bench.runDir, bench.dataDir]) {
    if (dir) fs.rmSync(dir, { recursive: true, force: true });
  }
}

// A new tab (of `context`, by default the bench's own) whose script errors are collected in
// page.errors.
async function newPage(bench, context = bench.context) {
  const page = await context.newPage();
  page.errors = [];
  page.on('pageerror', (e) => page.errors.push(String(e)));
  page.setDefaultTimeout(5000);
  page.setDefaultNavigationTimeout(10000);
  return page;
}

async function screenshot(page, name, bench) {
  await page.screenshot({ path: path.join(bench ? bench.screenshots : SCREENSHOT_DIR, `${name}.png`), fullPage: true });
}

module.exports = { startBench, newContext, newPage, screenshot, SOURCE_DIR, SCREENSHOT_DIR };
