// A visitor's whole visit, in a real browser, through lighttpd: the search form with its kana
// keyboard, searches typed with the keyboard and into the boxes (Shift_JIS escapes such as
// %82%C1 and %88%C0 included), the result list, the detail page and the ways back.
// Every page is checked as the browser decoded it: Shift_JIS, and the Japanese text intact.
'use strict';

const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { startBench, newPage, screenshot } = require('./support/harness');
const { expectedForm, registrationText, booksMatching, TITLE_FIELDS, AUTHOR_FIELDS, dateText } = require('./support/catalogue');

const TEST_TIMEOUT = 30000;
const BOXES = ['title1', 'title2', 'title3', 'Author', 'KeyWord1', 'KeyWord2', 'KeyWord3'];
const LIST_COLUMNS = ['登録番号', '分類記号', '図書記号', '巻冊記号', '書名', '叢書名', '著者名', '出版者', '出版年', '頁（ｐ）', '大きさ'];

let bench;

before(async () => {
  bench = await startBench();
}, { timeout: 60000 });

after(async () => {
  if (bench) await bench.stop();
  // No page may have reached for anything but the server under test.
  assert.deepEqual(bench ? bench.blocked : [], []);
}, { timeout: 30000 });

// Collapses runs of blanks, as a visitor reads the text.
function squash(text) {
  return text.replace(/\s+/g, ' ').trim();
}

// The page as the browser shows it: its character set and its visible text, which must not
// hold the replacement character of a failed decode.
async function checkDecoded(page) {
  assert.equal(await page.evaluate(() => document.characterSet), 'Shift_JIS');
  const text = await page.evaluate(() => document.body.innerText);
  assert.ok(!text.includes('\uFFFD'), `undecodable bytes on ${page.url()}`);
  assert.deepEqual(page.errors, [], 'script errors on the page');
  return text;
}

async function openForm(page) {
  await page.goto(bench.url);
  await page.waitForSelector('form[name="kensaku"] input[type="submit"]');
}

async function box(page, name) {
  return page.inputValue(`input[name="${name}"]`);
}

async function allBoxes(page) {
  const values = {};
  for (const name of BOXES) values[name] = await box(page, name);
  return values;
}

async function press(page, label) {
  await page.click(`input[type="button"][value="${label}"]`);
}

// Submits the form and waits for the answer page.
async function submit(page) {
  await Promise.all([page.waitForNavigation({ waitUntil: 'load' }), page.click('input[type="submit"][value="検索実行"]')]);
}

// The result list as shown: count line, caption, header row, and each data row's cells with
// the first cell's link.
async function readList(page) {
  return page.evaluate(() => {
    const table = document.querySelector('table');
    const rows = table ? [...table.rows] : [];
    return {
      text: document.body.innerText,
      caption: table && table.caption ? table.caption.innerText : null,
      header: rows.length ? [...rows[0].cells].map((c) => c.innerText.trim()) : [],
      rows: rows.slice(1).map((r) => ({
        cells: [...r.cells].map((c) => c.innerText.trim()),
        href: r.cells[0].querySelector('a') ? r.cells[0].querySelector('a').getAttribute('href') : null,
      })),
    };
  });
}

// The books a search finds. The words of these tests are chosen so that the answer is the
// same whether or not the search treats hiragana and katakana (and their widths) as one.
function expectBooks(fields, word, filter = () => true) {
  const plain = booksMatching(bench.books, fields, word).filter(filter);
  const folded = booksMatching(bench.books, fields, word, true).filter(filter);
  assert.deepEqual(plain.map((b) => b['登録番号']), folded.map((b) => b['登録番号']), `${word} finds the same books either way`);
  assert.ok(plain.length > 0, `the sample catalogue has books for ${word}`);
  return plain;
}

// The list shows the count line, the caption, the header row and one linked row per book.
function assertListShows(list, books, what) {
  const expectedCount = `該当する資料は${books.length}件です`;
  assert.ok(list.text.includes(expectedCount), `${what}: count line ${expectedCount} in\n${list.text.slice(0, 300)}`);
  assert.equal(list.caption, '棚読(Shelfra)　検索結果一覧');
  assert.deepEqual(list.header, LIST_COLUMNS);
  assert.deepEqual(list.rows.map((r) => r.cells[0]).sort(), books.map((b) => String(b['登録番号'])).sort(), what);
  const byNumber = new Map(books.map((b) => [String(b['登録番号']), b]));
  for (const row of list.rows) {
    const book = byNumber.get(row.cells[0]);
    assert.equal(row.href, `/cgi-bin/vovivavi.exe/Detail?NO=${row.cells[0]}`);
    assert.equal(squash(row.cells[4]), squash(book['書名']), `${what}: title of ${row.cells[0]}`);
    assert.equal(squash(row.cells[6]), squash(book['著者名']), `${what}: author of ${row.cells[0]}`);
  }
}

// Runs one step of the visit in a fresh tab; a failing step leaves a screenshot of where it
// stood (FAILED-<slug>.png) beside the others.
function visit(slug, body) {
  return async () => {
    const page = await newPage(bench);
    try {
      await body(page);
    } catch (e) {
      await screenshot(page, `FAILED-${slug}`).catch(() => {});
      throw e;
    } finally {
      await page.close().catch(() => {});
    }
  };
}

function book(number) {
  const found = bench.books.find((b) => b['登録番号'] === number);
  assert.ok(found, `book ${number} is in the sample catalogue`);
  return found;
}

describe('a visit to the catalogue search', () => {
  it('shows the search form with its banner and class names in Japanese', visit('form', async (page) => {
    await openForm(page);
    const text = await checkDecoded(page);
    const expected = expectedForm(bench.settings);
    assert.equal(await page.title(), '図書検索（棚読）');
    assert.ok(text.includes('図書館資料検索'), 'title banner');
    assert.ok(text.includes('Web棚読(Shelfra) V3.0'));
    assert.equal(squash(await page.innerText('marquee')), squash(expected.banner));
    const options = await page.$$eval('select[name="Bunrui"] option', (os) => os.map((o) => [o.value, o.text, o.selected]));
    assert.deepEqual(options, [['10', '全ての分類', true], ...expected.classes.map((name, i) => [String(i), `${i} ${name}`, false])]);
    assert.ok(text.includes('著者名は姓と名の間に「空白」を入れてください'));
    assert.ok(text.includes('読みで入力するときは助詞は、「は」→「わ」、「へ」→「え」、「を」→「お」で入力してください。'));
    const keys = await page.$$eval('input[type="button"]', (bs) => bs.map((b) => b.value));
    assert.equal(keys.length, 87, 'kana keys plus 空白 and 後退');
    assert.equal(keys.slice(0, 5).join(''), 'あいうえお');
    assert.equal(keys.slice(80, 87).join(' '), 'ぱ ぴ ぷ ぺ ぽ 空白 後退');
    assert.deepEqual(await allBoxes(page), Object.fromEntries(BOXES.map((n) => [n, ''])));
    await screenshot(page, '01-search-form');
  }), { timeout: TEST_TIMEOUT });

  it('writes kana into the box clicked last; 後退, 空白 and 条件クリア work', visit('keyboard', async (page) => {
    await openForm(page);
    // Nothing clicked yet: the keyboard writes into the first title box.
    await press(page, 'ほ');
    assert.equal(await box(page, 'title1'), 'ほ');

    await page.click('input[name="title2"]');
    for (const key of ['ね', 'こ']) await press(page, key);
    await page.click('input[name="Author"]');
    for (const key of ['な', 'つ', 'め']) await press(page, key);
    await press(page, '空白');
    for (const key of ['そ', 'う', 'せ', 'き']) await press(page, key);
    await press(page, '後退');
    await page.click('input[name="KeyWord3"]');
    for (const key of ['ぱ', 'ん', 'っ', 'ー']) await press(page, key);
    await press(page, '後退');
    await press(page, '後退');
    assert.deepEqual(await allBoxes(page), {
      title1: 'ほ', title2: 'ねこ', title3: '', Author: 'なつめ そうせ', KeyWord1: '', KeyWord2: '', KeyWord3: 'ぱん',
    });
    // 後退 on an empty box leaves it empty.
    await page.click('input[name="title3"]');
    await press(page, '後退');
    assert.equal(await box(page, 'title3'), '');

    await page.selectOption('select[name="Bunrui"]', '9');
    await checkDecoded(page);
    await screenshot(page, '02-kana-keyboard');
    await page.click('input[type="reset"][value="条件クリア"]');
    assert.deepEqual(await allBoxes(page), Object.fromEntries(BOXES.map((n) => [n, ''])));
    assert.equal(await page.inputValue('select[name="Bunrui"]'), '10');
    assert.equal(await page.$eval('select[name="Bunrui"]', (s) => s.options[s.selectedIndex].text), '全ての分類');
  }), { timeout: TEST_TIMEOUT });

  it('finds a title typed with the kana keyboard, opens its detail page and goes back', visit('keyboard-search', async (page) => {
    await openForm(page);
    await page.click('input[name="title1"]');
    for (const key of ['こ', 'こ', 'ろ']) await press(page, key);
    await submit(page);
    // こころ in Shift_JIS: 82B1 82B1 82EB, the browser's own escapes.
    assert.match(page.url(), /\?title1=%82%B1%82%B1%82%EB&title2=&title3=&Author=&KeyWord1=&KeyWord2=&KeyWord3=&Bunrui=10$/);
    await checkDecoded(page);
    assert.equal(await page.title(), '棚読(Shelfra)　検索結果一覧');
    const found = expectBooks(TITLE_FIELDS, 'こころ');
    assert.ok(found.some((b) => b['登録番号'] === 261), 'the sample has こころ (261)');
    const list = await readList(page);
    assertListShows(list, found, 'こころ');
    // Sorted by the title reading: ｺｺﾛ (261) before ｺｺﾛ ﾉ ｼｮﾎｳｾﾝ (12).
    const numbers = list.rows.map((r) => r.cells[0]);
    if (numbers.includes('12')) assert.ok(numbers.indexOf('261') < numbers.indexOf('12'), numbers.join(' '));
    assert.ok((await page.innerText('body')).includes('[検索画面に戻る]'));
    await screenshot(page, '03-result-list-keyboard');

    // The registration number of こころ leads to its detail page.
    await Promise.all([page.waitForNavigation({ waitUntil: 'load' }), page.click('a[href$="/Detail?NO=261"]')]);
    assert.ok(page.url().endsWith('/cgi-bin/vovivavi.exe/Detail?NO=261'));
    const text = await checkDecoded(page);
    assert.equal(await page.title(), '棚読(Shelfra)　検索結果詳細');
    const detail = await page.$$eval('table tr', (rows) => Object.fromEntries(rows.map((r) => [r.cells[0].innerText.trim(), r.cells[1].innerText.trim()])));
    const b = book(261);
    assert.equal(detail['請求番号'], `${b['分類記号']}/${b['図書記号']}/${b['巻冊記号']}`);
    assert.equal(detail['登録番号'], registrationText(bench.settings, 261));
    assert.equal(detail['書名'], b['書名']);
    assert.equal(detail['著者名'], b['著者名']);
    const loan = bench.loans.find((l) => l['登録番号'] === 261 && l['返却済'] === false);
    assert.equal(detail['利用状況'], `貸出中 返却予定日は${dateText(loan['返却予定日'])}`);
    assert.ok(text.includes('[一覧に戻る]'));
    await screenshot(page, '04-detail-on-loan');

    // [一覧に戻る] goes back in the history to the list.
    await Promise.all([page.waitForNavigation({ waitUntil: 'load' }), page.click('text=[一覧に戻る]')]);
    assert.match(page.url(), /\?title1=%82%B1%82%B1%82%EB&/);
    await checkDecoded(page);
    // The list's [検索画面に戻る] goes back to the form.
    await Promise.all([page.waitForNavigation({ waitUntil: 'load' }), page.click('text=[検索画面に戻る]')]);
    await page.waitForSelector('input[type="submit"][value="検索実行"]');
    assert.equal(page.url(), bench.url);
    await checkDecoded(page);
  }), { timeout: TEST_TIMEOUT });

  const typedSearches = [
    // っ is 82 C1 and 安 is 88 C0 in Shift_JIS: escapes that a web server may refuse.
    { name: 'title with っ', fields: { title2: '坊っちゃん' }, escape: 'title2=%96V%82%C1%82%BF%82%E1%82%F1',
      expect: () => expectBooks(TITLE_FIELDS, '坊っちゃん') },
    { name: 'author with 安', fields: { Author: '安部' }, escape: 'Author=%88%C0%95%94',
      expect: () => expectBooks(AUTHOR_FIELDS, '安部') },
    { name: 'title with 安, in the notes too', fields: { title3: '安' }, escape: 'title3=%88%C0',
      expect: () => expectBooks(TITLE_FIELDS, '安') },
    { name: 'title word within class 9', fields: { title1: '猫' }, bunrui: '9', escape: 'title1=%94L',
      expect: () => expectBooks(TITLE_FIELDS, '猫', (b) => b['分類記号'].startsWith('9')) },
  ];
  for (const [i, search] of typedSearches.entries()) {
    it(`finds what is typed into the boxes: ${search.name}`, visit(`typed-search-${i + 1}`, async (page) => {
      await openForm(page);
      for (const [name, value] of Object.entries(search.fields)) await page.fill(`input[name="${name}"]`, value);
      if (search.bunrui) await page.selectOption('select[name="Bunrui"]', search.bunrui);
      await submit(page);
      assert.ok(page.url().includes(search.escape), `${page.url()} holds ${search.escape}`);
      await checkDecoded(page);
      assertListShows(await readList(page), search.expect(), search.name);
      await screenshot(page, `05-result-list-typed-${i + 1}`);
    }), { timeout: TEST_TIMEOUT });
  }

  it('shows a book on the shelf with an empty lending status', visit('on-shelf', async (page) => {
    const b = book(12);
    assert.ok(!bench.loans.some((l) => l['登録番号'] === 12), 'book 12 was never lent');
    await page.goto(`${bench.url}/Detail?NO=12`);
    await checkDecoded(page);
    const detail = await page.$$eval('table tr', (rows) => Object.fromEntries(rows.map((r) => [r.cells[0].innerText.trim(), r.cells[1].innerText.trim()])));
    assert.equal(detail['登録番号'], registrationText(bench.settings, 12));
    assert.equal(detail['書名'], b['書名']);
    assert.equal(detail['利用状況'], '');
    await screenshot(page, '06-detail-on-shelf');
    // [検索画面に戻る] leads from the detail address to the form.
    await Promise.all([page.waitForNavigation({ waitUntil: 'load' }), page.click('text=[検索画面に戻る]')]);
    assert.equal(page.url(), bench.url);
    await page.waitForSelector('input[type="submit"][value="検索実行"]');
    await checkDecoded(page);
    assert.equal(await page.title(), '図書検索（棚読）');
  }), { timeout: TEST_TIMEOUT });

  it('answers the untouched form with the form again', visit('untouched-form', async (page) => {
    await openForm(page);
    await submit(page);
    assert.ok(page.url().endsWith('?title1=&title2=&title3=&Author=&KeyWord1=&KeyWord2=&KeyWord3=&Bunrui=10'), page.url());
    await page.waitForSelector('input[type="submit"][value="検索実行"]');
    const text = await checkDecoded(page);
    assert.equal(await page.title(), '図書検索（棚読）');
    assert.ok(!text.includes('該当する資料は'));
    await screenshot(page, '07-untouched-form-again');
  }), { timeout: TEST_TIMEOUT });
});
