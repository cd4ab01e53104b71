#!/usr/bin/python3
"""What Debian's python3-dbfread reads from the level tables of a run: prints
"KEY VALUE" lines with the records of each table (LEVEL_1 ... LEVEL_6), the
LEVEL_6 records of each kind (CAS, PLB, REF, LQ), sums in cents (CLP03 and
CLP04 of LEVEL_4, SVC02 of LEVEL_5, CAS_AMOUNT and PLB_AMOUNT of LEVEL_6) and
ORPHANS, the detail records whose parent (LEVEL, REC_PTR) is not a record of
that level. Every record of every table is read; a reader error ends the
script with a message and status 1."""
import os
import sys
from decimal import Decimal

from dbfread import DBF


def cents(value):
    return int((Decimal(value or 0) * 100).to_integral_value())


def main(data_dir):
    out = {}
    tables = {}
    for n in range(1, 7):
        name = "LEVEL_%d" % n
        table = DBF(os.path.join(data_dir, name + ".DBF"), load=True, char_decode_errors="strict")
        tables[n] = table.records
        out[name] = len(table.records)
    for kind in ("CAS", "PLB", "REF", "LQ"):
        out[kind] = sum(1 for r in tables[6] if r["RECORD"] == kind)
    out["CLP03"] = sum(cents(r["CLP03"]) for r in tables[4])
    out["CLP04"] = sum(cents(r["CLP04"]) for r in tables[4])
    out["SVC02"] = sum(cents(r["SVC02"]) for r in tables[5])
    out["CAS_AMOUNT"] = sum(cents(r["AMOUNT"]) for r in tables[6] if r["RECORD"] == "CAS")
    out["PLB_AMOUNT"] = sum(cents(r["AMOUNT"]) for r in tables[6] if r["RECORD"] == "PLB")
    numbers = {n: {r["L%d_REC" % n] for r in tables[n]} for n in range(1, 6)}
    out["ORPHANS"] = sum(1 for r in tables[6] if r["REC_PTR"] not in numbers.get(r["LEVEL"], set()))
    for key in sorted(out):
        print(key, out[key])


if __name__ == "__main__":
    try:
        main(sys.argv[1])
    except Exception as error:  # any reader failure is the finding
        print("dbfread failed:", repr(error), file=sys.stderr)
        sys.exit(1)
