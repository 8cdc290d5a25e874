// A real OAI-PMH harvester (the oai-pmh package) takes the whole served catalogue through
// resumption tokens: every live book of the table once, none doubled, the withdrawn ones as
// deleted records; and xmllint finds every verb's answer and an error answer well-formed.
'use strict'
const test = require('node:test')
const assert = require('node:assert')
const fs = require('node:fs')
const path = require('node:path')
const { execFileSync } = require('node:child_process')
const { OaiPmh } = require('oai-pmh')

const BASE = process.env.SHELFRA_OPAC_URL + '/oai'
const DATA = process.env.SHELFRA_CLIENTS_DATA
// The book table's name as it is on disk, in Shift_JIS bytes: 図書.DBF.
const BOOK_TABLE = Buffer.from([0x90, 0x7d, 0x8f, 0x91, 0x2e, 0x44, 0x42, 0x46])

// The live records of the dBase table: registration number -> withdrawn (除籍フラグ true).
function liveBooks () {
  const name = fs.readdirSync(DATA, { encoding: 'buffer' }).find((n) => n.equals(BOOK_TABLE))
  const table = fs.readFileSync(Buffer.concat([Buffer.from(DATA + path.sep), name]))
  const records = table.readUInt32LE(4)
  const headerLength = table.readUInt16LE(8)
  const recordLength = table.readUInt16LE(10)
  const sjis = new TextDecoder('shift_jis')
  const fields = {}
  for (let at = 32, offset = 1; table[at] !== 0x0d; at += 32) {
    const raw = table.subarray(at, at + 11)
    const fieldName = sjis.decode(raw.subarray(0, raw.indexOf(0) < 0 ? 11 : raw.indexOf(0)))
    fields[fieldName] = { offset, length: table[at + 16] }
    offset += table[at + 16]
  }
  const value = (record, field) =>
    table.toString('latin1', record + fields[field].offset, record + fields[field].offset + fields[field].length).trim()
  const books = new Map()
  for (let i = 0; i < records; i++) {
    const record = headerLength + i * recordLength
    if (table[record] === 0x2a) continue // '*': deleted
    books.set(value(record, '登録番号'), 'TtYy'.includes(value(record, '除籍フラグ')))
  }
  return books
}

test('a harvest through the tokens lists every live book once', async () => {
  const books = liveBooks()
  const harvester = new OaiPmh(BASE, { retry: false })
  const identify = await harvester.identify()
  assert.strictEqual(identify.deletedRecord, 'transient')
  let prefix
  const seen = new Map()
  for await (const record of harvester.listRecords({ metadataPrefix: 'oai_dc' })) {
    const identifier = record.header.identifier
    prefix = prefix || identifier.slice(0, identifier.lastIndexOf(':') + 1)
    assert.ok(identifier.startsWith(prefix) && prefix.startsWith('oai:'), identifier)
    const number = identifier.slice(prefix.length)
    assert.ok(!seen.has(number), `${identifier} listed twice`)
    const deleted = record.header.$ !== undefined && record.header.$.status === 'deleted'
    seen.set(number, deleted)
    assert.strictEqual(deleted, record.metadata === undefined, identifier)
  }
  const missing = [...books.keys()].filter((n) => !seen.has(n))
  const unknown = [...seen.keys()].filter((n) => !books.has(n))
  assert.deepStrictEqual({ missing: missing.slice(0, 5), unknown: unknown.slice(0, 5) }, { missing: [], unknown: [] })
  assert.strictEqual(seen.size, books.size)
  for (const [number, withdrawn] of books) assert.strictEqual(seen.get(number), withdrawn, `book ${number}`)
  assert.ok([...books.values()].some((w) => w), 'the catalogue has withdrawn books')
})

test('xmllint finds the answer of every verb and an error well-formed', async () => {
  const harvester = new OaiPmh(BASE, { retry: false })
  let first
  for await (const header of harvester.listIdentifiers({ metadataPrefix: 'oai_dc', set: 'class9' })) {
    first = header.identifier
    break
  }
  const queries = [
    'verb=Identify', 'verb=ListMetadataFormats', 'verb=ListSets',
    'verb=ListIdentifiers&metadataPrefix=oai_dc', 'verb=ListRecords&metadataPrefix=oai_dc&set=class9',
    `verb=GetRecord&metadataPrefix=oai_dc&identifier=${encodeURIComponent(first)}`, 'verb=Nothing'
  ]
  for (const query of queries) {
    const response = await fetch(`${BASE}?${query}`)
    assert.strictEqual(response.status, 200, query)
    assert.strictEqual(response.headers.get('content-type'), 'text/xml; charset=UTF-8', query)
    const body = await response.text()
    execFileSync('xmllint', ['--noout', '-'], { input: body })
    assert.strictEqual(body.includes('<error code="badVerb">'), query === 'verb=Nothing', query)
  }
})
