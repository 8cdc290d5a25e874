// The UTF-8 pages (shelfra.cgi) as visitors meet them, in a real browser through lighttpd:
// axe-core's WCAG 2.1 A and AA rules on every kind of page at a desktop's and a phone's width,
// nothing the pages' content security policy refuses (the book page's linked data included),
// no sideways scrolling at 320 px (also with wider text spacing) and at 200 % zoom, nothing
// that moves, and a visit made with the keyboard alone (Tab and Enter), with JavaScript on and
// off, whose every stop shows its focus.
// Screenshots of each page at both widths go to <screenshots>/shelfra/.
'use strict';

const fs = require('node:fs');
const path = require('node:path');
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { startBench, newContext, newPage, screenshot, SOURCE_DIR, SCREENSHOT_DIR } = require('./support/harness');

const TEST_TIMEOUT = 60000;
const EXE = process.env.SHELFRA_CGI || path.join(SOURCE_DIR, 'build/shelfra.cgi');
const AXE_SOURCE = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
const AXE_TAGS = ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa'];
// Rules of headings and landmarks that axe-core files under its best practices rather than
// under WCAG's tags; the pages keep them too.
const AXE_EXTRA_RULES = ['landmark-one-main', 'landmark-unique', 'region', 'page-has-heading-one', 'heading-order', 'skip-link'];

// One page of each kind. 文庫 is in the series of some 200 of the sample's books: several
// pages of them, and within class 9 still more than one; book 261 is on loan. The keyboard
// visit starts on the first.
const PAGES = [
  { name: 'search', path: '/', heading: '蔵書を探す' },
  { name: 'results', path: '/search?q=%E6%96%87%E5%BA%AB', heading: '検索結果' },
  { name: 'narrowed', path: '/search?q=%E6%96%87%E5%BA%AB&class=9', heading: '検索結果' },
  { name: 'no-result', path: '/search?title=%E3%81%AC%E3%81%AC%E3%81%AC%E3%81%AC', heading: '検索結果' },
  { name: 'book-on-loan', path: '/book/261', heading: 'こころ' },
  { name: 'new-arrivals', path: '/new', heading: '新着資料' },
  { name: 'not-found', path: '/no/such/page', heading: 'ページが見つかりません', status: 404 },
  // A word with a character Shift_JIS lacks: the search page again, with its notice.
  { name: 'not-in-catalogue-text', path: '/search?q=%F0%9F%98%80', heading: '蔵書を探す' },
];

let bench;
// A desktop's window, and a phone's, which lays a page out as wide as its viewport meta asks
// (without one, 980 px).
const screens = [{ width: 1280 }, { width: 390 }];

before(async () => {
  bench = await startBench({ exe: EXE, screenshots: path.join(SCREENSHOT_DIR, 'shelfra') });
  screens[0].context = bench.context;
  screens[1].context = await newContext(bench, { viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true });
}, { timeout: 60000 });

after(async () => {
  if (bench) await bench.stop();
  assert.deepEqual(bench ? bench.blocked : [], []);
}, { timeout: 30000 });

// Opens `p` in `page` and checks its status and that its heading names it.
async function open(page, p) {
  const response = await page.goto(bench.url + p.path);
  assert.equal(response.status(), p.status ?? 200, p.path);
  const heading = await page.innerText('h1');
  assert.ok(heading.includes(p.heading), `${p.path}: heading ${heading}`);
}

// axe-core's violations of the WCAG 2.1 A and AA rules and of AXE_EXTRA_RULES, one line each.
// The source is evaluated rather than added as a script element, which the pages' policy
// rightly refuses.
async function axeViolations(page) {
  await page.evaluate(AXE_SOURCE);
  return page.evaluate(async ([tags, extra]) => {
    const result = await window.axe.run(document, {
      runOnly: { type: 'tag', values: tags },
      rules: Object.fromEntries(extra.map((id) => [id, { enabled: true }])),
      resultTypes: ['violations'],
    });
    return result.violations.map((v) => `${v.id} (${v.impact}): ${v.help}\n    ` +
      v.nodes.map((n) => `${n.target.join(' ')}: ${n.failureSummary.replace(/\s+/g, ' ')}`).join('\n    '));
  }, [AXE_TAGS, AXE_EXTRA_RULES]);
}

// Whether the page scrolls sideways in a window `width` px wide (or is laid out wider than
// that), and whether anything on it moves.
async function layout(page, width) {
  const at = await page.evaluate(() => ({
    scroll: document.scrollingElement.scrollWidth,
    client: document.scrollingElement.clientWidth,
    moving: document.getAnimations().length + document.querySelectorAll('marquee, blink').length,
  }));
  return { sideways: at.scroll > at.client || at.client > width, moving: at.moving };
}

// The text spacing a visitor may set in their own style (WCAG 1.4.12): lines 1.5 high,
// paragraphs 2 em apart, letters 0.12 em and words 0.16 em. Added to the page's own sheet, as
// its policy refuses a style element.
async function widenTextSpacing(page) {
  await page.evaluate(() => {
    const sheet = document.styleSheets[0];
    sheet.insertRule('* { line-height: 1.5 !important; letter-spacing: 0.12em !important; word-spacing: 0.16em !important; }', sheet.cssRules.length);
    sheet.insertRule('p { margin-bottom: 2em !important; }', sheet.cssRules.length);
  });
}

describe('the UTF-8 pages in a browser', () => {
  for (const p of PAGES) {
    it(`${p.name}: no WCAG 2.1 AA violation at 1280 and 390 px, no sideways scrolling at 390 and 320 px`, async () => {
      for (const { width, context } of screens) {
        const page = await newPage(bench, context);
        // What the policy refuses, Chromium reports on the console.
        const refused = [];
        page.on('console', (m) => { if (/Content Security Policy/.test(m.text())) refused.push(m.text()); });
        try {
          await open(page, p);
          assert.deepEqual(refused, [], `${p.path}: refused by the content security policy`);
          const violations = await axeViolations(page);
          await screenshot(page, `${p.name}-${width}`, bench);
          assert.deepEqual(violations, [], `${p.path} at ${width} px:\n  ${violations.join('\n  ')}`);
          const { sideways, moving } = await layout(page, width);
          assert.equal(moving, 0, `${p.path}: something moves`);
          if (width > 400) continue;
          assert.ok(!sideways, `${p.path} scrolls sideways at ${width} px`);
          await page.setViewportSize({ width: 320, height: 640 });
          assert.ok(!(await layout(page, 320)).sideways, `${p.path} scrolls sideways at 320 px`);
          await widenTextSpacing(page);
          assert.ok(!(await layout(page, 320)).sideways, `${p.path} scrolls sideways at 320 px with wider text spacing`);
        } finally {
          await page.close();
        }
      }
    }, { timeout: TEST_TIMEOUT });
  }

  it('no page scrolls sideways at 200 % zoom (640 px at two device pixels a pixel)', async () => {
    const context = await newContext(bench, { viewport: { width: 640, height: 450 }, deviceScaleFactor: 2 });
    try {
      const page = await newPage(bench, context);
      for (const p of PAGES) {
        await open(page, p);
        assert.ok(!(await layout(page, 640)).sideways, `${p.path} scrolls sideways at 200 %`);
      }
    } finally {
      await context.close();
    }
  }, { timeout: TEST_TIMEOUT });

  // Tabs forward until the focused element is the one `wanted` describes ({ name }: the control
  // of that name, { text }: the link of that text, { within }: an element inside that selector's);
  // it stops at most `most` times, and every stop must show its focus. (The pages' policy allows
  // no eval, so no test function can be sent into the page.)
  async function tabTo(page, wanted, what, most = 120) {
    for (let i = 0; i < most; i++) {
      await page.keyboard.press('Tab');
      const stop = await page.evaluate((test) => {
        const e = document.activeElement;
        const s = getComputedStyle(e);
        return {
          name: `${e.tagName.toLowerCase()} ${(e.getAttribute('name') || e.textContent || '').trim().slice(0, 30)}`,
          shown: (s.outlineStyle !== 'none' && parseFloat(s.outlineWidth) >= 2) || s.boxShadow !== 'none',
          wanted: (test.name !== undefined && e.getAttribute('name') === test.name) ||
            (test.text !== undefined && e.textContent.trim() === test.text) ||
            (test.within !== undefined && e.closest(test.within) !== null),
        };
      }, wanted);
      assert.ok(stop.shown, `no visible focus on ${stop.name}`);
      if (stop.wanted) return;
    }
    assert.fail(`Tab never reached ${what}`);
  }

  async function enter(page) {
    await Promise.all([page.waitForNavigation({ waitUntil: 'load' }), page.keyboard.press('Enter')]);
  }

  for (const javaScriptEnabled of [true, false]) {
    it(`searches, pages and opens a book with Tab and Enter alone, JavaScript ${javaScriptEnabled ? 'on' : 'off'}`, async () => {
      const context = await newContext(bench, { viewport: { width: 1280, height: 900 }, javaScriptEnabled });
      try {
        const page = await newPage(bench, context);
        await open(page, PAGES[0]);
        // The first stop is the skip link; past it, the next is the search box.
        await tabTo(page, { text: '本文へ移動' }, 'the skip link');
        await page.keyboard.press('Enter');
        await tabTo(page, { name: 'q' }, 'the search box', 1);
        await page.keyboard.type('文庫');
        await enter(page);
        assert.match(page.url(), /\/search\?q=%E6%96%87%E5%BA%AB(&|$)/);
        const count = (await page.innerText('main p[role="status"]')).trim();
        assert.match(count, /^[\d,]+件中 1–20件$/);

        await tabTo(page, { text: '次のページ' }, 'the next page link');
        await enter(page);
        assert.match(page.url(), /[?&]page=2(&|$)/);
        assert.match((await page.innerText('main p[role="status"]')).trim(), /件中 21–40件$/);

        await tabTo(page, { within: 'ol.books' }, 'a book of the list');
        const title = (await page.evaluate(() => document.activeElement.textContent)).trim();
        await enter(page);
        assert.match(page.url(), /\/book\/\d+(\?|$)/);
        assert.equal((await page.innerText('h1')).trim(), title);
      } finally {
        await context.close();
      }
    }, { timeout: TEST_TIMEOUT });
  }
});
