// Writes engine/testdata/dbffile_fixture.dbf with the npm package dbffile, a .DBF writer
// independent of this project: a Visual FoxPro table (version 0x30) with Shift_JIS field names
// and text, an integer, currency, double and date-time field, and a record of empty values
// (dbffile writes blanks or zeros for them; it has no null flags).
// Usage: TZ=UTC node dbffile_fixture.mjs OUTPUT.dbf, from a folder where dbffile is installed
// (make_fixtures.sh does that).
import {DBFFile} from 'dbffile';
import {rmSync} from 'node:fs';

const out = process.argv[2];
rmSync(out, {force: true});
const fields = [
  {name: '登録番号', type: 'I', size: 4},
  {name: '書名', type: 'C', size: 20},
  {name: '価格', type: 'Y', size: 8, decimalPlaces: 4},
  {name: '比率', type: 'B', size: 8, decimalPlaces: 0},
  {name: '登録日時', type: 'T', size: 8},
  {name: '登録日', type: 'D', size: 8},
  {name: '禁帯出', type: 'L', size: 1},
  {name: '分類', type: 'N', size: 4, decimalPlaces: 0},
];
const dbf = await DBFFile.create(out, fields, {fileVersion: 0x30, encoding: 'cp932'});
await dbf.appendRecords([
  {'登録番号': 1234, '書名': '吾輩は猫である', '価格': 1500.5, '比率': 0.25,
   '登録日時': new Date(Date.UTC(2026, 11, 9, 13, 5, 7)), '登録日': new Date(Date.UTC(2004, 2, 15)),
   '禁帯出': true, '分類': 913},
  {'登録番号': -2147483648, '書名': null, '価格': null, '比率': null, '登録日時': null, '登録日': null,
   '禁帯出': null, '分類': null},
  {'登録番号': 2147483647, '書名': 'ｺｺﾛ', '価格': -0.0001, '比率': -1e300,
   '登録日時': new Date(Date.UTC(2000, 0, 1, 0, 0, 0)), '登録日': new Date(Date.UTC(1999, 11, 31)),
   '禁帯出': false, '分類': -5},
]);
