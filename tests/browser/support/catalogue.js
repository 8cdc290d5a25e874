// The sample catalogue for the browser tests: built fresh into a temporary folder by the
// catalogue writer, and read back here (tables and settings, Shift_JIS) so the tests know what
// the pages must show without trusting the program that serves them.
'use strict';

const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');

const sjis = new TextDecoder('shift_jis', { fatal: true });

// A file name as the Shift_JIS bytes the catalogue folder holds.
function sjisName(dir, name) {
  const bytes = { '図書.DBF': [0x90, 0x7d, 0x8f, 0x91], '貸出返却.DBF': [0x91, 0xdd, 0x8f, 0x6f, 0x95, 0xd4, 0x8b, 0x70] }[name];
  if (!bytes) throw new Error(`no Shift_JIS name known for ${name}`);
  return Buffer.concat([Buffer.from(dir + '/'), Buffer.from(bytes), Buffer.from('.DBF')]);
}

// Writes the bundled sample catalogue and the host configuration into `dir`; returns the
// configuration's path.
function buildSampleCatalogue(sourceDir, dir) {
  execFileSync('python3', [path.join(sourceDir, 'tools/catalogue/make_catalogue.py'), '--sample', dir, '--date', '2026-12-01'],
    { stdio: ['ignore', 'ignore', 'inherit'], timeout: 60000 });
  const config = path.join(dir, 'shelfra.conf');
  fs.writeFileSync(config, [
    '[Aliases]', `Vadoz=${dir}`,
    '[Locale]', 'DecimalSeparator=.', 'DateSeparator=/', 'ShortDateFormat=yyyy/mm/dd', ''].join('\r\n'));
  return config;
}

// A dBase III table: { fields: [{ name, type }], records: [{ name: value }] }, deleted records
// left out. Text is decoded from Shift_JIS without its trailing blanks; N as a number (null
// when blank), D as "YYYYMMDD", L as true/false/null.
function readTable(file) {
  const buf = fs.readFileSync(file);
  const count = buf.readUInt32LE(4);
  const headerSize = buf.readUInt16LE(8);
  const recordSize = buf.readUInt16LE(10);
  const fields = [];
  for (let at = 32; buf[at] !== 0x0d; at += 32) {
    const nameEnd = buf.indexOf(0, at);
    const name = sjis.decode(buf.subarray(at, Math.min(nameEnd < 0 ? at + 11 : nameEnd, at + 11)));
    fields.push({ name, type: String.fromCharCode(buf[at + 11]), length: buf[at + 16] });
  }
  const records = [];
  for (let r = 0; r < count; r++) {
    const start = headerSize + r * recordSize;
    if (buf[start] === 0x2a) continue;  // "*": deleted
    let at = start + 1;
    const record = {};
    for (const f of fields) {
      const raw = buf.subarray(at, at + f.length);
      at += f.length;
      const text = sjis.decode(raw).replace(/ +$/, '');
      if (f.type === 'N' || f.type === 'F') {
        record[f.name] = text.trim() === '' ? null : Number(text.trim());
      } else if (f.type === 'L') {
        record[f.name] = /^[TtYy]$/.test(text) ? true : /^[FfNn]$/.test(text) ? false : null;
      } else {
        record[f.name] = text;
      }
    }
    records.push(record);
  }
  return { fields, records };
}

// The settings file as { section: { key: value } }, names as written; blanks around names and
// values dropped, one pair of enclosing quotes removed, like the program's reader.
function readSettings(file) {
  const text = sjis.decode(fs.readFileSync(file));
  const sections = {};
  let current = null;
  for (let line of text.split(/\r?\n/)) {
    line = line.trim();
    if (line === '' || line.startsWith(';')) continue;
    const header = /^\[(.*)\]$/.exec(line);
    if (header) {
      current = sections[header[1].trim()] ??= {};
      continue;
    }
    const eq = line.indexOf('=');
    if (current && eq > 0) {
      let value = line.slice(eq + 1).trim();
      if (value.length >= 2 && value[0] === value.at(-1) && (value[0] === '"' || value[0] === "'")) value = value.slice(1, -1);
      current[line.slice(0, eq).trim()] ??= value;
    }
  }
  return sections;
}

// A value of the settings, section and key matched ignoring ASCII case.
function setting(settings, section, key, fallback) {
  const s = Object.entries(settings).find(([name]) => name.toLowerCase() === section.toLowerCase());
  if (!s) return fallback;
  const k = Object.entries(s[1]).find(([name]) => name.toLowerCase() === key.toLowerCase());
  return k ? k[1] : fallback;
}

const CLASS_DEFAULTS = ['総記', '哲学', '歴史', '社会科学', '自然科学', '技術', '産業', '芸術', '言語', '文学'];

// What the search form must show, from the settings.
function expectedForm(settings) {
  return {
    banner: setting(settings, 'Web棚読', 'メッセージ', '図書館資料の検索ができます。'),
    classes: CLASS_DEFAULTS.map((d, i) => setting(settings, '分類表示', String(i), d)),
  };
}

// The registration number as the detail page must show it, from the settings.
function registrationText(settings, number) {
  if (setting(settings, '番号設定', '詰め文字', 'False') !== 'True') return String(number);
  let digits = 6;
  if (setting(settings, '番号設定', '標準', 'True') !== 'True') {
    let v = setting(settings, '番号設定', '桁', '').trim();
    if (/^0[xX]/.test(v) && v.length > 2) v = '$' + v.slice(2);
    if (/^[+-]?\d+$/.test(v)) digits = Number(v);
    else if (/^(\$|[xX])[0-9a-fA-F]{1,8}$/.test(v)) digits = parseInt(v.replace(/^(\$|[xX])/, ''), 16) | 0;
  }
  const n = Math.round(number);
  if (digits > 16) return String(n);
  return (n < 0 ? '-' : '') + String(Math.abs(n)).padStart(digits, '0');
}

const TITLE_FIELDS = ['書名', '書名ｶﾅ', '叢書名', '叢書名ｶﾅ', '注記'];
const AUTHOR_FIELDS = ['著者名', '著者名ｶﾅ'];

// Text as a search may compare it when it treats hiragana, full-width and half-width katakana
// as one, full-width ASCII as ASCII and ignores ASCII case.
function fold(text) {
  return text.normalize('NFKC')
    .replace(/[\u3041-\u3096\u309D\u309E]/g, (c) => String.fromCharCode(c.charCodeAt(0) + 0x60))
    .toUpperCase();
}

// The books whose `fields` contain `word`, compared as they are; with `folded`, compared
// after folding both sides.
function booksMatching(books, fields, word, folded = false) {
  const f = folded ? fold : (t) => t;
  const w = f(word);
  return books.filter((b) => fields.some((name) => f(b[name] ?? '').includes(w)));
}

// "20261215" under the short date pattern yyyy/mm/dd.
function dateText(yyyymmdd) {
  return yyyymmdd ? `${yyyymmdd.slice(0, 4)}/${yyyymmdd.slice(4, 6)}/${yyyymmdd.slice(6, 8)}` : '';
}

module.exports = {
  sjisName, buildSampleCatalogue, readTable, readSettings, expectedForm, registrationText,
  booksMatching, TITLE_FIELDS, AUTHOR_FIELDS, dateText,
};
