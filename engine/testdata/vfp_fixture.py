#!/usr/bin/python3
"""Writes engine/testdata/vfp_fixture.dbf with python3-dbf (Debian: python3-dbf), a .DBF writer
independent of this project: a Visual FoxPro table (version 0x30, code page cp932) with an
integer, a date-time, a currency and a double field and nullable fields holding nulls.

Usage: /usr/bin/python3 vfp_fixture.py OUTPUT.dbf

Two habits of python3-dbf 0.96 shape the table. It gives every field a bit of _NullFlags (bit n
for field n), where Visual FoxPro gives bits to nullable fields only: the nullable fields
therefore come first, where both ways of counting give each field the same bit. And it
upper-cases field names byte by byte, trail bytes of Shift_JIS characters included (the 0x6F of
"登" becomes 0x4F, another character): the fields therefore have ASCII names.
"""
import datetime
import decimal
import os
import sys

import dbf

out = sys.argv[1]
if os.path.exists(out):
    os.remove(out)
table = dbf.Table(
    out,
    "TITLE C(20) NULL; REGNO I NULL; STAMP T NULL; DUE D NULL; ONLOAN L NULL; PRICE Y; RATIO B",
    dbf_type="vfp",
    codepage="cp932",
)
table.open(dbf.READ_WRITE)
N = dbf.Null
table.append(("吾輩は猫である", 1234, datetime.datetime(2026, 12, 9, 13, 5, 7), datetime.date(2026, 12, 20), True,
              decimal.Decimal("1500.5"), 0.25))
table.append((N, -7, N, N, N, decimal.Decimal("0"), -1.5))
table.append(("ｺｺﾛ", N, datetime.datetime(2000, 1, 1, 0, 0, 0), datetime.date(1999, 12, 31), False,
              decimal.Decimal("-0.0001"), 1e10))
table.append(("消えた本", 2147483646,  # 0.96 refuses both ends of the range
              datetime.datetime(1, 1, 1, 23, 59, 59), datetime.date(1, 1, 1), True,
              decimal.Decimal("922337203685477.5807"), -0.0))
dbf.delete(table[3])
table.close()
