#!/usr/bin/env python3
"""Synthetic catalogue for the benchmark: a book table of N records with the 41 fields of the
catalogue, a lending table, the settings file, a host configuration, the same live rows in an
SQLite database, and a manifest with the requests to measure and their expected answers.

Usage:
  gen_catalogue.py --books N --out DIR [--seed S]

Everything is deterministic for a given N and seed. The records are written streaming, one at a
time, so a million books need no more memory than ten thousand.

Planted words (kanji only, so that their counts do not depend on kana, width or case folding,
and made of characters that occur nowhere else in the generated text):
  麒麟  in about 0.1 % of titles               (Q1, the rare title word)
  冒険  in about 10 % of titles                (Q2, the common title word)
  鉄道  in subjects, titles and descriptions   (Q3, first keyword, about 6 % of books)
  温泉  in descriptions and subjects           (Q3, second keyword, about 9 % of books)
The expected match counts in the manifest are taken from the finished field texts (a substring
test on every searched field of every live record), not from the planting decisions.
"""
import argparse
import datetime
import hashlib
import json
import os
import random
import re
import sqlite3
import sys
import unicodedata
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent
ROOT = BENCH_DIR.parent
sys.path.insert(0, str(ROOT / "tools" / "catalogue"))
import make_catalogue  # noqa: E402  (schema reader, table writer, text checks, settings conversion)

BOOK_SCHEMA = ROOT / "tools" / "catalogue" / "schema" / "books.csv"
LOAN_SCHEMA = ROOT / "tools" / "catalogue" / "schema" / "loans.csv"
SETTINGS_SOURCE = ROOT / "sample" / "Shelfra.ini.txt"
SQLITE_FILE = "books.sqlite"
MANIFEST = "manifest.json"
UPDATE_DATE = datetime.date(2025, 12, 1)

RARE_WORD = ("麒麟", "キリン")
COMMON_WORD = ("冒険", "ボウケン")
KEYWORD1 = ("鉄道", "テツドウ")
KEYWORD2 = ("温泉", "オンセン")
PLANTED = (RARE_WORD, COMMON_WORD, KEYWORD1, KEYWORD2)

# The program's own texts of the catalogue, "kName=text" lines: the two tables' names and the
# search statement's lines (kSql*, "{v}" standing for the criterion), which name the searched
# fields. The benchmark reads its table names, its statement and its field lists from here and
# from nowhere else.
CATALOGUE_TEXTS = ROOT / "catalogue" / "res" / "catalogue.txt"
# The statement line of each kind of criterion (the first title line; later ones are kSqlTitleMore).
CRITERION_LINES = {"title": "kSqlTitleFirst", "author": "kSqlAuthor", "keyword": "kSqlKeyword",
                   "class": "kSqlClass"}


def read_catalogue_texts(path=CATALOGUE_TEXTS):
    """{name: text} of the "kName=text" lines of the catalogue texts."""
    texts = {}
    for line in Path(path).read_text(encoding="utf-8").splitlines():
        name, sep, text = line.partition("=")
        if sep and name.startswith("k"):
            texts[name] = text
    needed = ("kBookTable", "kLendingTable", *CRITERION_LINES.values(), "kSqlSelect", "kSqlTitleMore", "kSqlOrder")
    missing = [n for n in needed if n not in texts]
    if missing:
        raise SystemExit(f"gen_catalogue: {path} lacks {', '.join(missing)}")
    return texts


def searched_fields(statement):
    """{kind: (field, ...)}: the fields each kind of criterion tests, in the statement's order
    (each "<field> like" or "<field> Like" of its line)."""
    def fields_of(name):
        return tuple(re.findall(r'([^\s(]+)\s+[Ll]ike\s+"', statement[name]))

    fields = {kind: fields_of(name) for kind, name in CRITERION_LINES.items()}
    if fields_of("kSqlTitleMore") != fields["title"] or len(fields["class"]) != 1 or not all(fields.values()):
        raise SystemExit(f"gen_catalogue: unexpected search statement lines in {CATALOGUE_TEXTS}: {fields}")
    return fields


CATALOGUE = read_catalogue_texts()
BOOK_TABLE = CATALOGUE["kBookTable"]
LOAN_TABLE = CATALOGUE["kLendingTable"]
STATEMENT = {name: text for name, text in CATALOGUE.items() if name.startswith("kSql")}
SEARCHED_FIELDS = searched_fields(STATEMENT)
TITLE_FIELDS = SEARCHED_FIELDS["title"]
KEYWORD_FIELDS = SEARCHED_FIELDS["keyword"]
CLASS_FIELD = SEARCHED_FIELDS["class"][0]

# ---------------------------------------------------------------------------------------------
# Vocabulary. Readings are written in full-width katakana and turned into half-width katakana
# (with separate voiced marks) by to_halfwidth().

NOUNS = [
    ("日本", "ニホン"), ("世界", "セカイ"), ("歴史", "レキシ"), ("文化", "ブンカ"), ("社会", "シャカイ"),
    ("経済", "ケイザイ"), ("科学", "カガク"), ("技術", "ギジュツ"), ("自然", "シゼン"), ("環境", "カンキョウ"),
    ("人間", "ニンゲン"), ("心理", "シンリ"), ("哲学", "テツガク"), ("宗教", "シュウキョウ"), ("芸術", "ゲイジュツ"),
    ("音楽", "オンガク"), ("美術", "ビジュツ"), ("文学", "ブンガク"), ("言語", "ゲンゴ"), ("教育", "キョウイク"),
    ("子供", "コドモ"), ("家族", "カゾク"), ("料理", "リョウリ"), ("健康", "ケンコウ"), ("医学", "イガク"),
    ("植物", "ショクブツ"), ("動物", "ドウブツ"), ("昆虫", "コンチュウ"), ("海", "ウミ"), ("山", "ヤマ"),
    ("川", "カワ"), ("森", "モリ"), ("空", "ソラ"), ("星", "ホシ"), ("月", "ツキ"), ("太陽", "タイヨウ"),
    ("花", "ハナ"), ("猫", "ネコ"), ("犬", "イヌ"), ("鳥", "トリ"), ("魚", "サカナ"), ("春", "ハル"),
    ("夏", "ナツ"), ("秋", "アキ"), ("冬", "フユ"), ("夢", "ユメ"), ("心", "ココロ"), ("命", "イノチ"),
    ("愛", "アイ"), ("時間", "ジカン"), ("記憶", "キオク"), ("未来", "ミライ"), ("戦争", "センソウ"),
    ("平和", "ヘイワ"), ("政治", "セイジ"), ("法律", "ホウリツ"), ("数学", "スウガク"), ("物理", "ブツリ"),
    ("地球", "チキュウ"), ("宇宙", "ウチュウ"), ("農業", "ノウギョウ"), ("漁業", "ギョギョウ"),
    ("建築", "ケンチク"), ("都市", "トシ"), ("庭園", "テイエン"), ("写真", "シャシン"), ("映画", "エイガ"),
    ("演劇", "エンゲキ"), ("短歌", "タンカ"), ("俳句", "ハイク"), ("小説", "ショウセツ"), ("随筆", "ズイヒツ"),
    ("童話", "ドウワ"), ("昔話", "ムカシバナシ"), ("伝説", "デンセツ"), ("神話", "シンワ"), ("江戸", "エド"),
    ("明治", "メイジ"), ("昭和", "ショウワ"), ("京都", "キョウト"), ("大阪", "オオサカ"), ("沖縄", "オキナワ"),
    ("東北", "トウホク"), ("九州", "キュウシュウ"), ("少年", "ショウネン"), ("少女", "ショウジョ"),
    ("先生", "センセイ"), ("学校", "ガッコウ"), ("図書館", "トショカン"), ("仕事", "シゴト"), ("会社", "カイシャ"),
    ("経営", "ケイエイ"), ("投資", "トウシ"), ("情報", "ジョウホウ"), ("電子", "デンシ"), ("言葉", "コトバ"),
    ("手紙", "テガミ"), ("食卓", "ショクタク"), ("季節", "キセツ"), ("風景", "フウケイ"), ("祭り", "マツリ"),
    ("仏像", "ブツゾウ"), ("城", "シロ"), ("茶", "チャ"), ("着物", "キモノ"), ("人生", "ジンセイ"),
    ("幸福", "コウフク"), ("孤独", "コドク"), ("青春", "セイシュン"), ("革命", "カクメイ"), ("探偵", "タンテイ"),
    ("事件", "ジケン"), ("秘密", "ヒミツ"), ("迷宮", "メイキュウ"), ("王国", "オウコク"), ("魔女", "マジョ"),
    ("英雄", "エイユウ"), ("忍者", "ニンジャ"), ("侍", "サムライ"), ("恐竜", "キョウリュウ"), ("火山", "カザン"),
    ("地震", "ジシン"), ("気象", "キショウ"), ("天気", "テンキ"), ("薬", "クスリ"), ("病院", "ビョウイン"),
    ("介護", "カイゴ"), ("福祉", "フクシ"), ("統計", "トウケイ"), ("ロボット", "ロボット"), ("ピアノ", "ピアノ"),
    ("パン", "パン"), ("コーヒー", "コーヒー"), ("サッカー", "サッカー"), ("ガラス", "ガラス"),
]

# Title shapes: (text, reading); {0} {1} {2} are slots for nouns.
TITLE_SHAPES_1 = [
    ("{0}入門", "{0} ニュウモン"), ("やさしい{0}", "ヤサシイ {0}"), ("{0}の話", "{0} ノ ハナシ"),
    ("{0}物語", "{0} モノガタリ"), ("はじめての{0}", "ハジメテ ノ {0}"), ("{0}を読む", "{0} オ ヨム"),
    ("図説{0}", "ズセツ {0}"), ("{0}史", "{0}シ"), ("新しい{0}", "アタラシイ {0}"),
    ("{0}とは何か", "{0} トワ ナニカ"), ("{0}の時代", "{0} ノ ジダイ"), ("{0}ノート", "{0} ノート"),
]
TITLE_SHAPES_2 = [
    ("{0}の{1}", "{0} ノ {1}"), ("{0}と{1}", "{0} ト {1}"), ("{0}から見た{1}", "{0} カラ ミタ {1}"),
    ("{0}と{1}の物語", "{0} ト {1} ノ モノガタリ"), ("{0}の{1}入門", "{0} ノ {1} ニュウモン"),
    ("{0}をめぐる{1}", "{0} オ メグル {1}"), ("{0}に生きる{1}", "{0} ニ イキル {1}"),
]
TITLE_SHAPES_3 = [
    ("{0}と{1}の{2}", "{0} ト {1} ノ {2}"), ("{0}の{1}　{2}をめぐって", "{0} ノ {1} {2} オ メグッテ"),
    ("{0}・{1}・{2}", "{0} {1} {2}"),
]
SUBTITLES = [("{0}の巻", "{0} ノ マキ"), ("上", "ジョウ"), ("下", "ゲ"), ("第2版", "ダイ2ハン")]

FAMILY_NAMES = [
    ("佐藤", "サトウ"), ("鈴木", "スズキ"), ("高橋", "タカハシ"), ("田中", "タナカ"), ("伊藤", "イトウ"),
    ("渡辺", "ワタナベ"), ("山本", "ヤマモト"), ("中村", "ナカムラ"), ("小林", "コバヤシ"), ("加藤", "カトウ"),
    ("吉田", "ヨシダ"), ("山田", "ヤマダ"), ("佐々木", "ササキ"), ("山口", "ヤマグチ"), ("松本", "マツモト"),
    ("井上", "イノウエ"), ("木村", "キムラ"), ("林", "ハヤシ"), ("斎藤", "サイトウ"), ("清水", "シミズ"),
    ("山崎", "ヤマザキ"), ("池田", "イケダ"), ("橋本", "ハシモト"), ("阿部", "アベ"), ("石川", "イシカワ"),
    ("山下", "ヤマシタ"), ("中島", "ナカジマ"), ("石井", "イシイ"), ("小川", "オガワ"), ("前田", "マエダ"),
    ("岡田", "オカダ"), ("長谷川", "ハセガワ"), ("藤田", "フジタ"), ("後藤", "ゴトウ"), ("近藤", "コンドウ"),
    ("村上", "ムラカミ"), ("遠藤", "エンドウ"), ("青木", "アオキ"), ("坂本", "サカモト"), ("芥川", "アクタガワ"),
]
GIVEN_NAMES = [
    ("太郎", "タロウ"), ("健一", "ケンイチ"), ("浩", "ヒロシ"), ("誠", "マコト"), ("直樹", "ナオキ"),
    ("大輔", "ダイスケ"), ("翔太", "ショウタ"), ("和子", "カズコ"), ("洋子", "ヨウコ"), ("恵子", "ケイコ"),
    ("美穂", "ミホ"), ("由美", "ユミ"), ("裕子", "ユウコ"), ("真理子", "マリコ"), ("春樹", "ハルキ"),
    ("光", "ヒカル"), ("修", "オサム"), ("隆", "タカシ"), ("明美", "アケミ"), ("智子", "トモコ"),
    ("康夫", "ヤスオ"), ("正雄", "マサオ"), ("清", "キヨシ"), ("勇", "イサム"), ("茂", "シゲル"),
    ("花子", "ハナコ"), ("陽子", "ヨウコ"), ("龍之介", "リュウノスケ"),
]
FOREIGN_GIVEN = ["ジョン", "ポール", "マリー", "アガサ", "チャールズ", "ヘルマン", "ガブリエル", "エミリー",
                 "ミヒャエル", "ジュール", "ヴィクトル", "ジェイムズ"]
FOREIGN_FAMILY = ["スミス", "ディケンズ", "クリスティー", "ヘッセ", "ガルシア", "ブロンテ", "エンデ", "ヴェルヌ",
                  "トルストイ", "ドストエフスキー", "ユーゴー", "ホーガン"]

PUBLISHERS = ["岩波書店", "新潮社", "講談社", "文藝春秋", "集英社", "小学館", "筑摩書房", "河出書房新社",
              "早川書房", "東京創元社", "中央公論新社", "角川書店", "光文社", "平凡社", "吉川弘文館",
              "朝日新聞出版", "偕成社", "福音館書店", "ポプラ社", "有斐閣"]
SERIES = [
    ("岩波文庫", "イワナミ ブンコ"), ("新潮文庫", "シンチョウ ブンコ"), ("講談社現代新書", "コウダンシャ ゲンダイ シンショ"),
    ("ちくま文庫", "チクマ ブンコ"), ("岩波新書", "イワナミ シンショ"), ("中公新書", "チュウコウ シンショ"),
    ("集英社文庫", "シュウエイシャ ブンコ"), ("角川文庫", "カドカワ ブンコ"), ("ハヤカワ文庫", "ハヤカワ ブンコ"),
    ("創元推理文庫", "ソウゲン スイリ ブンコ"), ("講談社学術文庫", "コウダンシャ ガクジュツ ブンコ"),
    ("平凡社ライブラリー", "ヘイボンシャ ライブラリー"), ("光文社古典新訳文庫", "コウブンシャ コテン シンヤク ブンコ"),
    ("ブルーバックス", "ブルー バックス"), ("岩波少年文庫", "イワナミ ショウネン ブンコ"),
]
PLACES = ["一般書架", "文庫棚", "新書棚", "児童室", "書庫", "郷土資料室", "参考図書"]
SUPPLIERS = ["中央書店", "駅前書房", "寄贈", "県立図書館"]
FUNDS = ["図書購入費", "図書購入費", "図書購入費", "寄贈", "特別予算"]
SHELF_MARKS = ["", "", "", "B", "S", "児", "郷"]
NOTES = ["文献あり", "索引あり", "年譜あり", "付: 参考資料", "初版のタイトル: 別題あり", "限定版"]
SUBJECT_SUBDIVISIONS = ["", "", "歴史", "研究", "辞典", "図鑑", "随筆", "小説"]
SENTENCES = [
    "{0}と{1}の関係をわかりやすく解説する。", "{0}をめぐる{1}の物語。", "{0}の第一人者が{1}について語る。",
    "豊富な図版とともに{0}の魅力を紹介する。", "{0}から{1}まで、{2}の全体像を描く。",
    "{0}に生きた人々の姿を、{1}の視点から描き出す。", "ロングセラーの新版。",
    "{0}を愛するすべての人に贈る一冊。", "ベストセラー待望の文庫化。", "{0}の基礎から応用までを網羅した決定版。",
    "{0}に関する最新の知見をまとめる。", "ある{0}の一年を、四季の{1}とともにつづる。",
]
PLANT_SENTENCES = ["{w}の魅力を紹介する。", "{w}をめぐる話題を集めた。", "各地の{w}を訪ねる。"]

# Class codes: the first digit 9 for about 40 %, 3 for about 10 %, the rest spread evenly.
CLASS_CODES = {
    "9": ["913.6", "913.6", "913.6", "914.6", "911.1", "911.3", "933.7", "943.7", "953.7", "983", "908", "910.2"],
    "3": ["302", "312.1", "320", "331", "336", "361", "366", "367", "369", "370", "375", "379", "382", "385.9"],
}
for digit in "01245678":
    CLASS_CODES[digit] = [f"{digit}{a}{b}" + (f".{c}" if c else "") for a in "0123456789" for b in "0123456789"
                          for c in ("", "", "1", "6")]
CLASS_WEIGHTS = [("9", 0.40), ("3", 0.10)] + [(d, 0.50 / 8) for d in "01245678"]


# ---------------------------------------------------------------------------------------------
# Half-width katakana readings.

def _halfwidth_table():
    table = {}
    for code in range(0xFF61, 0xFFA0):
        half = chr(code)
        full = unicodedata.normalize("NFKC", half)
        table.setdefault(full, half)
    table["\u3099"] = "\uFF9E"  # combining voiced mark
    table["\u309A"] = "\uFF9F"  # combining semi-voiced mark
    table["\u3000"] = " "
    return table


_HALF = _halfwidth_table()


def to_halfwidth(text):
    """Full-width katakana (or hiragana) to half-width katakana, voiced marks as separate letters."""
    out = []
    for ch in unicodedata.normalize("NFD", text):
        if "\u3041" <= ch <= "\u3096":
            ch = chr(ord(ch) + 0x60)
        out.append(_HALF.get(ch, ch))
    return "".join(out)


def check_vocabulary():
    """Refuses a vocabulary that cannot be written in cp932 or that holds a planted character."""
    texts = []
    for pairs in (NOUNS, FAMILY_NAMES, GIVEN_NAMES, SERIES):
        for text, reading in pairs:
            texts += [text, reading]
    for shapes in (TITLE_SHAPES_1, TITLE_SHAPES_2, TITLE_SHAPES_3, SUBTITLES):
        for text, reading in shapes:
            texts += [text, reading]
    texts += FOREIGN_GIVEN + FOREIGN_FAMILY + PUBLISHERS + PLACES + SUPPLIERS + FUNDS + SHELF_MARKS
    texts += NOTES + SUBJECT_SUBDIVISIONS + SENTENCES + PLANT_SENTENCES + ["訳", "・"]
    planted_chars = {ch for word, _ in PLANTED for ch in word}
    for text in texts:
        make_catalogue.encode_text(text, "vocabulary")
        make_catalogue.encode_text(to_halfwidth(text), "vocabulary reading")
        bad = planted_chars.intersection(text)
        if bad:
            raise SystemExit(f"gen_catalogue: vocabulary text {text!r} holds a planted character {bad}")


# ---------------------------------------------------------------------------------------------
# Record generation.

class BookMaker:
    """Makes the field texts of one book at a time; deterministic for a seed."""

    def __init__(self, count, seed):
        self.rng = random.Random(seed)
        self.count = count
        self.noun_halves = [(t, to_halfwidth(r)) for t, r in NOUNS]
        self.class_digits = [d for d, _ in CLASS_WEIGHTS]
        self.class_weights = [w for _, w in CLASS_WEIGHTS]
        self.first_day = datetime.date(1990, 4, 1).toordinal()
        self.last_day = datetime.date(2025, 11, 1).toordinal()

    def noun(self):
        return self.rng.choice(self.noun_halves)

    def title(self, planted):
        """(title, reading) with the planted (word, reading) pairs placed in distinct slots."""
        rng = self.rng
        need = max(len(planted), rng.choice((1, 1, 2, 2, 2, 3)))
        shapes = TITLE_SHAPES_1 if need == 1 else TITLE_SHAPES_2 if need == 2 else TITLE_SHAPES_3
        text, reading = rng.choice(shapes)
        words = [self.noun() for _ in range(need)]
        for word, slot in zip(planted, rng.sample(range(need), len(planted))):
            words[slot] = (word[0], to_halfwidth(word[1]))
        title = text.format(*(w[0] for w in words))
        title_reading = to_halfwidth(reading).format(*(w[1] for w in words))
        if rng.random() < 0.08:
            sub, sub_reading = rng.choice(SUBTITLES)
            extra = self.noun()
            title += "　" + sub.format(extra[0])
            title_reading += " " + to_halfwidth(sub_reading).format(extra[1])
        return title, title_reading

    def author(self):
        """(name, reading, translator or "")"""
        rng = self.rng
        if rng.random() < 0.2:
            given, family = rng.choice(FOREIGN_GIVEN), rng.choice(FOREIGN_FAMILY)
            translator = rng.choice(FAMILY_NAMES)[0] + rng.choice(GIVEN_NAMES)[0] + "訳"
            return f"{given}・{family}", to_halfwidth(f"{family} {given}"), translator
        family, given = rng.choice(FAMILY_NAMES), rng.choice(GIVEN_NAMES)
        return family[0] + given[0], to_halfwidth(f"{family[1]} {given[1]}"), ""

    def description(self, planted_words):
        """Up to 254 bytes of sentences; planted words go in their own sentences first."""
        rng = self.rng
        limit = 254 if rng.random() < 0.25 else rng.randint(40, 254)
        parts = [rng.choice(PLANT_SENTENCES).format(w=w) for w in planted_words]
        size = sum(len(p.encode("cp932")) for p in parts)
        for _ in range(12):
            sentence = rng.choice(SENTENCES).format(*(self.noun()[0] for _ in range(3)))
            n = len(sentence.encode("cp932"))
            if size + n > limit:
                break
            parts.append(sentence)
            size += n
        rng.shuffle(parts)
        return "".join(parts)

    def subjects(self, planted_words):
        rng = self.rng
        heads = list(planted_words)
        while len(heads) < rng.randint(1, 3):
            heads.append(self.noun()[0])
        items = []
        for head in heads:
            sub = rng.choice(SUBJECT_SUBDIVISIONS)
            items.append(f"{head}--{sub}" if sub else head)
        return "; ".join(items)

    def book(self, index):
        """The field texts of book `index` (0-based) by field name, plus its deleted flag."""
        rng = self.rng
        number = index + 1
        rare = rng.random() < 0.001
        common = rng.random() < 0.10
        kw1_subject, kw1_title, kw1_text = rng.random() < 0.03, rng.random() < 0.01, rng.random() < 0.02
        kw2_text, kw2_subject = rng.random() < 0.06, rng.random() < 0.03
        title_planted = [w for w, on in ((RARE_WORD, rare), (COMMON_WORD, common), (KEYWORD1, kw1_title)) if on]
        title, title_reading = self.title(title_planted)
        author, author_reading, translator = self.author()
        digit = rng.choices(self.class_digits, self.class_weights)[0]
        code = rng.choice(CLASS_CODES[digit])
        # The book mark is the first two letters of the author's reading, in full-width katakana.
        mark = unicodedata.normalize("NFKC", author_reading).replace(" ", "")[:2]
        shelf = rng.choice(SHELF_MARKS)
        series, series_reading = ("", "")
        if rng.random() < 0.4:
            series, series_reading = rng.choice(SERIES)
            series_reading = to_halfwidth(series_reading)
        has_description = rng.random() < 0.7 or kw1_text or kw2_text
        description_words = [w[0] for w, on in ((KEYWORD1, kw1_text), (KEYWORD2, kw2_text)) if on]
        description = self.description(description_words) if has_description else ""
        subject_words = [w[0] for w, on in ((KEYWORD1, kw1_subject), (KEYWORD2, kw2_subject)) if on]
        subjects = self.subjects(subject_words) if subject_words or rng.random() < 0.6 else ""
        note = ""
        if rng.random() < 0.12:
            note = " ".join(rng.sample(NOTES, rng.randint(1, 2)))
        day = self.first_day + (self.last_day - self.first_day) * index // max(1, self.count)
        volume = rng.choice(("1", "2", "3", "上", "下")) if rng.random() < 0.1 else ""
        call = " ".join(p for p in (shelf, code, mark) if p)
        withdrawn = rng.random() < 0.005
        fields = {
            "登録日": datetime.date.fromordinal(day).isoformat(),
            "登録番号": str(number),
            "著者名": author,
            "著者名ｶﾅ": author_reading,
            "書名": title,
            "書名ｶﾅ": title_reading,
            "付記事項": translator,
            "注記": note,
            "叢書名": series,
            "叢書名ｶﾅ": series_reading,
            "出版者": rng.choice(PUBLISHERS),
            "出版年": str(rng.randint(1950, 2025)),
            "受入先": rng.choice(SUPPLIERS),
            "価格（円）": str(rng.randint(4, 60) * 100 + rng.choice((0, 0, 30, 50, 80))),
            "別置記号": shelf,
            "分類": digit,
            "分類記号": code,
            "図書記号": mark,
            "巻冊記号": volume,
            "請求番号": call,
            "財源": rng.choice(FUNDS),
            "頁（ｐ）": str(rng.randint(48, 640)),
            "保管場所": rng.choice(PLACES),
            "内容紹介": description,
            "大きさ": str(rng.randint(15, 30)),
            "不明図書": "T" if rng.random() < 0.001 else "F",
            "除籍理由": "汚損" if withdrawn else "",
            "除籍フラグ": "T" if withdrawn else "F",
            "除籍年月日": "",
            "除籍番号": "",
            "選択": "F",
            "ISBN": f"978-4-{rng.randint(0, 99):02d}-{rng.randint(0, 999999):06d}-{rng.randint(0, 9)}"
                    if rng.random() < 0.6 else "",
            "禁帯出": "T" if rng.random() < 0.02 else "F",
            "件名": subjects,
            "TRCD分類": code if rng.random() < 0.5 else "",
            "TRCD図書": "",
            "TRCD巻冊": "",
            "BARCODE": f"{10000000 + number:08d}"[-8:],
            "返却済": "",
            "貸出中": "",
            "TRCDNO": f"{rng.randint(0, 99999999):08d}" if rng.random() < 0.5 else "",
        }
        deleted = rng.random() < 0.01
        return fields, deleted


# ---------------------------------------------------------------------------------------------
# Writing: the tables go through the catalogue writer, the same rows into SQLite.

def sqlite_type(field):
    if field.kind in ("N", "F"):
        return "REAL" if field.decimals else "INTEGER"
    return "TEXT"


def sqlite_value(field, text):
    if field.kind in ("N", "F"):
        return int(text) if text else None
    if field.kind in ("D", "L"):
        return text or None
    return text


def create_sqlite_table(db, table, fields):
    """Creates `table` with the table's columns and types; returns its INSERT statement."""
    columns = ", ".join(f'"{f.name}" {sqlite_type(f)}' for f in fields)
    db.execute(f'CREATE TABLE "{table}" ({columns})')
    return f'INSERT INTO "{table}" VALUES ({", ".join("?" * len(fields))})'


def native_path(out_dir, name):
    """The path of a catalogue file: the folder's own bytes, then the name in cp932 bytes."""
    return os.path.join(os.fsencode(out_dir), name.encode("cp932"))


def generate(count, out_dir, seed):
    """Writes the whole catalogue into out_dir; returns the manifest (also written there)."""
    check_vocabulary()
    out_dir = Path(out_dir)
    out_dir.mkdir(parents=True, exist_ok=True)
    book_fields = make_catalogue.read_schema(BOOK_SCHEMA)
    loan_fields = make_catalogue.read_schema(LOAN_SCHEMA)
    names = [f.name for f in book_fields]
    sqlite_path = out_dir / SQLITE_FILE
    if sqlite_path.exists():
        sqlite_path.unlink()
    db = sqlite3.connect(str(sqlite_path))
    db.execute("PRAGMA journal_mode=OFF")
    db.execute("PRAGMA synchronous=OFF")
    book_insert = create_sqlite_table(db, "図書", book_fields)

    # Expected answers, from the finished texts of every live record.
    words = {"rare": RARE_WORD[0], "common": COMMON_WORD[0], "kw1": KEYWORD1[0], "kw2": KEYWORD2[0]}
    title_hits = {k: 0 for k in ("rare", "common")}
    keyword_hits = 0
    class_hits = {"9": 0, "3": 0}
    live = 0
    last_live = None
    loans_of_book = None

    maker = BookMaker(count, seed)
    with open(native_path(out_dir, BOOK_TABLE), "wb", buffering=1 << 22) as out:
        writer = make_catalogue.TableWriter(out, book_fields, UPDATE_DATE, count)
        batch = []
        for index in range(count):
            fields, deleted = maker.book(index)
            values = [fields[n] for n in names]
            writer.add_values(values, deleted, f"book {index + 1}")
            if deleted:
                continue
            live += 1
            last_live = fields
            title_text = [fields[n] for n in TITLE_FIELDS]
            for key in title_hits:
                if any(words[key] in t for t in title_text):
                    title_hits[key] += 1
            keyword_text = [fields[n] for n in KEYWORD_FIELDS]
            if any(words["kw1"] in t for t in keyword_text) and any(words["kw2"] in t for t in keyword_text):
                keyword_hits += 1
            digit = fields[CLASS_FIELD][:1]
            if digit in class_hits:
                class_hits[digit] += 1
            batch.append(tuple(sqlite_value(f, v) for f, v in zip(book_fields, values)))
            if len(batch) >= 20000:
                db.executemany(book_insert, batch)
                batch.clear()
        if batch:
            db.executemany(book_insert, batch)
        writer.close()
    padding = writer.padding / (writer.record_length * count) if count else 0.0

    # Lending table: a fifth as many loans as books, nearly all returned; the newest live book
    # has an open loan, the last record of the table (the farthest one to seek).
    rng = random.Random(seed + 1)
    loan_count = max(1, count // 5)
    target = int(last_live["登録番号"])
    loan_names = [f.name for f in loan_fields]
    loan_insert = create_sqlite_table(db, "貸出返却", loan_fields)
    first = datetime.date(2020, 4, 1).toordinal()
    due_text = None
    batch = []
    with open(native_path(out_dir, LOAN_TABLE), "wb", buffering=1 << 22) as out:
        loan_writer = make_catalogue.TableWriter(out, loan_fields, UPDATE_DATE, loan_count)
        for i in range(loan_count):
            last = i == loan_count - 1
            book = target if last else rng.randint(1, count)
            lent = first + (UPDATE_DATE.toordinal() - 30 - first) * i // loan_count
            if last:
                lent = UPDATE_DATE.toordinal() - 3
            due = lent + 14
            returned = not last and rng.random() < 0.97
            values = {
                "貸出番号": str(i + 1),
                "登録番号": str(book),
                "利用者番号": str(rng.randint(10000000, 10099999)),
                "貸出日": datetime.date.fromordinal(lent).isoformat(),
                "返却予定日": datetime.date.fromordinal(due).isoformat(),
                "返却日": datetime.date.fromordinal(lent + rng.randint(1, 20)).isoformat() if returned else "",
                "返却済": "T" if returned else "F",
            }
            if last:
                due_text = values["返却予定日"]
            row = [values[n] for n in loan_names]
            loan_writer.add_values(row, False, f"loan {i + 1}")
            batch.append(tuple(sqlite_value(f, v) for f, v in zip(loan_fields, row)))
        loan_writer.close()
    db.executemany(loan_insert, batch)
    db.commit()
    db.close()

    make_catalogue.convert_settings(SETTINGS_SOURCE, native_path(out_dir, "Shelfra.ini"))
    (out_dir / "shelfra.conf").write_bytes(
        b"; Host configuration of the benchmark catalogue; the alias is this folder.\r\n"
        b"[Aliases]\r\nVadoz=.\r\n[Locale]\r\nDecimalSeparator=.\r\nDateSeparator=/\r\n"
        b"ShortDateFormat=yyyy/mm/dd\r\n")

    manifest = {
        "books": count,
        "live_books": live,
        "seed": seed,
        "generator": generator_digest(),
        "record_length": writer.record_length,
        "blank_padding": round(padding, 4),
        "words": words,
        "expected": {
            "Q1": title_hits["rare"],
            "Q2": title_hits["common"],
            "Q3": keyword_hits,
            "Q4": class_hits["9"],
            "Q4b": class_hits["3"],
        },
        "detail": {"number": target, "due": due_text.replace("-", "/")},
        "loans": loan_count,
    }
    (out_dir / MANIFEST).write_text(json.dumps(manifest, ensure_ascii=False, indent=1), encoding="utf-8")
    return manifest


def generator_digest():
    """Changes whenever this file, the catalogue writer, the schema, the settings, the tables'
    names or the searched fields change, so stale catalogues are rebuilt."""
    h = hashlib.sha1()
    for path in (Path(__file__), Path(make_catalogue.__file__), BOOK_SCHEMA, LOAN_SCHEMA, SETTINGS_SOURCE):
        h.update(path.read_bytes())
    h.update(repr((BOOK_TABLE, LOAN_TABLE, sorted(SEARCHED_FIELDS.items()))).encode("utf-8"))
    return h.hexdigest()[:12]


def main(argv=None):
    parser = argparse.ArgumentParser(description="Writes a deterministic synthetic catalogue.")
    parser.add_argument("--books", type=int, required=True, help="number of book records (1 %% deleted)")
    parser.add_argument("--out", required=True, help="folder to write")
    parser.add_argument("--seed", type=int, default=20251201)
    args = parser.parse_args(argv)
    manifest = generate(args.books, args.out, args.seed)
    print(json.dumps(manifest, ensure_ascii=False))
    return 0


if __name__ == "__main__":
    sys.exit(main())
