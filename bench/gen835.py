#!/usr/bin/env python3
"""Generates a large, realistic X12 835 interchange (version 005010X221A1) for
the benchmark: one interchange of one functional group with many transaction
sets (one per payee check), each with header numbers (LX) grouping claims;
claims with 1 to 4 service lines, adjustments (CAS), names (NM1), dates (DTM),
amounts (AMT), references (REF), remark codes (LQ) and now and then a
provider-level adjustment (PLB). Amounts add up: a claim's charge and payment
are the sums of its lines', adjustments make up the difference, and BPR02 is
the check's total. Segments end with "~" and a line break.

The same seed and size always give the same bytes.

usage: gen835.py --size MB [--seed N] --out FILE
"""
import argparse
import random

PAYERS = ["ACME HEALTH PLAN", "BLUE VALLEY MUTUAL", "STATEWIDE MEDICAID", "CENTRAL CARE INSURANCE"]
CITIES = [("SPRINGFIELD", "IL", "62701"), ("COLUMBUS", "OH", "43215"), ("AUSTIN", "TX", "78701"),
          ("SALEM", "OR", "97301"), ("ALBANY", "NY", "12207")]
STREETS = ["MAIN ST", "OAK AVE", "MAPLE DR", "CEDAR LN", "PINE RD", "ELM ST"]
LAST = ["SMITH", "JOHNSON", "WILLIAMS", "BROWN", "JONES", "GARCIA", "MILLER", "DAVIS", "LOPEZ", "WILSON"]
FIRST = ["JAMES", "MARY", "ROBERT", "PATRICIA", "JOHN", "JENNIFER", "MICHAEL", "LINDA", "DAVID", "SUSAN"]
PROCEDURES = ["99213", "99214", "99203", "80053", "85025", "36415", "71046", "93000", "97110", "90471"]
GROUP_REASONS = [("CO", "45"), ("CO", "253"), ("PR", "1"), ("PR", "2"), ("PR", "3"), ("OA", "23"), ("CO", "97")]
REMARKS = ["N130", "M15", "N381", "MA01", "N20"]
PLB_REASONS = ["WO", "FB", "L6", "72", "CS"]


def money(cents):
    return "%d.%02d" % divmod(cents, 100) if cents >= 0 else "-%d.%02d" % divmod(-cents, 100)


class Interchange:
    def __init__(self, rng, target):
        self.rng = rng
        self.target = target
        self.parts = []
        self.size = 0
        self.st_segments = 0

    def seg(self, *elements):
        text = "*".join(elements) + "~\n"
        self.parts.append(text)
        self.size += len(text)
        self.st_segments += 1

    def date(self):
        return "2024%02d%02d" % (self.rng.randint(1, 12), self.rng.randint(1, 28))

    def service_line(self, line_no):
        rng = self.rng
        units = rng.randint(1, 3)
        charge = rng.randint(2500, 45000) * units
        allowed = charge * rng.randint(40, 95) // 100
        patient = rng.choice([0, 0, 0, 1000, 2000, 2500]) if allowed > 3000 else 0
        paid = allowed - patient
        self.seg("SVC", "HC:" + rng.choice(PROCEDURES) + (":25" if rng.random() < 0.15 else ""), money(charge),
                 money(paid), "", str(units))
        self.seg("DTM", "472", self.date())
        self.seg("CAS", "CO", "45", money(charge - allowed))
        if patient:
            self.seg("CAS", "PR", rng.choice(["1", "2", "3"]), money(patient))
        self.seg("REF", "6R", "%07d%02d" % (rng.randint(0, 9999999), line_no))
        self.seg("AMT", "B6", money(allowed))
        if rng.random() < 0.2:
            self.seg("LQ", "HE", rng.choice(REMARKS))
        return charge, paid

    def claim(self, claim_no):
        """One claim; its CLP goes in front of its other segments once the
        lines have given its totals."""
        rng = self.rng
        first_body = len(self.parts)
        group, reason = rng.choice(GROUP_REASONS)
        if rng.random() < 0.3:
            self.seg("CAS", group, reason, money(rng.randint(100, 5000)), "1", rng.choice(["23", "94"]),
                     money(rng.randint(0, 900)))
        last, first = rng.choice(LAST), rng.choice(FIRST)
        self.seg("NM1", "QC", "1", last, first, "", "", "", "MI", "W%09d" % rng.randint(0, 999999999))
        if rng.random() < 0.3:
            self.seg("NM1", "IL", "1", last, rng.choice(FIRST), "", "", "", "MI", "W%09d" % rng.randint(0, 999999999))
        self.seg("NM1", "82", "1", rng.choice(LAST), rng.choice(FIRST), "", "", "", "XX",
                 "1%09d" % rng.randint(0, 999999999))
        self.seg("REF", "1K", "%012d" % rng.randint(0, 10 ** 12 - 1))
        start = self.date()
        self.seg("DTM", "232", start)
        self.seg("DTM", "233", start)
        if rng.random() < 0.5:
            self.seg("DTM", "050", self.date())
        if rng.random() < 0.1:
            self.seg("AMT", "AU", money(rng.randint(1000, 500000)))
        charge = paid = 0
        for line_no in range(1, rng.randint(1, 4) + 1):
            c, p = self.service_line(line_no)
            charge += c
            paid += p
        status = rng.choice(["1", "1", "1", "2", "19"])
        patient = money(charge - paid) if rng.random() < 0.2 else ""
        clp = "*".join(["CLP", "PCN%08d" % claim_no, status, money(charge), money(paid), patient, "12",
                        "%014d" % rng.randint(0, 10 ** 14 - 1), "11", "1"]) + "~\n"
        self.parts.insert(first_body, clp)
        self.size += len(clp)
        self.st_segments += 1
        return paid

    def transaction_set(self, st_no, claim_no):
        rng = self.rng
        self.st_segments = 0
        control = "%04d" % (st_no % 10000)
        self.seg("ST", "835", control, "005010X221A1")
        bpr_index = len(self.parts)
        self.seg("BPR", "")  # placeholder
        self.seg("TRN", "1", "%010d" % (st_no * 7919), "1512345678")
        self.seg("DTM", "405", self.date())
        payer = PAYERS[st_no % len(PAYERS)]
        city, state, zip_code = rng.choice(CITIES)
        self.seg("N1", "PR", payer)
        self.seg("N3", "%d %s" % (rng.randint(1, 9999), rng.choice(STREETS)))
        self.seg("N4", city, state, zip_code)
        self.seg("REF", "2U", "%05d" % (st_no % 100000))
        self.seg("PER", "CX", "CLAIMS", "TE", "800555%04d" % rng.randint(0, 9999))
        self.seg("PER", "BL", "EDI SUPPORT", "EM", "EDI@PAYER.EXAMPLE")
        city, state, zip_code = rng.choice(CITIES)
        provider_npi = "1%09d" % rng.randint(0, 999999999)
        self.seg("N1", "PE", "%s MEDICAL GROUP" % rng.choice(LAST), "XX", provider_npi)
        self.seg("N3", "%d %s" % (rng.randint(1, 9999), rng.choice(STREETS)), "SUITE %d" % rng.randint(100, 999))
        self.seg("N4", city, state, zip_code + "%04d" % rng.randint(0, 9999))
        self.seg("REF", "TJ", "%09d" % rng.randint(0, 999999999))
        total = 0
        for lx in range(1, rng.randint(1, 3) + 1):
            self.seg("LX", str(lx))
            if rng.random() < 0.5:
                self.seg("TS3", provider_npi, "11", "20241231", str(rng.randint(1, 50)),
                         money(rng.randint(10000, 9999999)))
            for _ in range(rng.randint(5, 60)):
                claim_no += 1
                total += self.claim(claim_no)
        if rng.random() < 0.25:
            adjustments = []
            for _ in range(rng.randint(1, 3)):
                amount = rng.randint(-20000, 20000)
                adjustments += ["%s:%s" % (rng.choice(PLB_REASONS), "REF%06d" % rng.randint(0, 999999)), money(amount)]
                total -= amount
            self.seg("PLB", provider_npi, "20241231", *adjustments)
        bpr = "*".join(["BPR", "I", money(max(total, 0)), "C", "ACH", "CCP", "01", "999999999", "DA", "123456789",
                        "1512345678", "", "01", "999988880", "DA", "98765", self.date()]) + "~\n"
        self.size += len(bpr) - len(self.parts[bpr_index])
        self.parts[bpr_index] = bpr
        self.seg("SE", str(self.st_segments + 1), control)
        return claim_no

    def build(self):
        isa = ("ISA*00*          *00*          *ZZ*PAYERSENDERID  *ZZ*PROVIDERRECVID *240115*1200*^*00501*"
               "000000001*0*P*:~\n")
        self.parts.append(isa)
        self.size += len(isa)
        self.seg("GS", "HP", "PAYERSENDERID", "PROVIDERRECVID", "20240115", "1200", "1", "X", "005010X221A1")
        st_no = claim_no = 0
        tail = 40  # SE, GE and IEA
        while self.size + tail < self.target:
            st_no += 1
            claim_no = self.transaction_set(st_no, claim_no)
        self.seg("GE", str(st_no), "1")
        self.seg("IEA", "1", "000000001")
        return "".join(self.parts)


def main():
    parser = argparse.ArgumentParser(description="Generate a large X12 835 interchange.")
    parser.add_argument("--size", type=float, required=True, help="size in megabytes (10**6 bytes)")
    parser.add_argument("--seed", type=int, default=835)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    text = Interchange(random.Random(args.seed), int(args.size * 1000000)).build()
    with open(args.out, "w", newline="") as out:
        out.write(text)


if __name__ == "__main__":
    main()
