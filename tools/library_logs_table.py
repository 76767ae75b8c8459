#!/usr/bin/env python3
"""The table, series and error bound of library_logs (errors/library_math.cpp).

Prints the table's rows, ln 2's two parts, the series' coefficients and the
largest relative error of the computed log x, as errors/library_math.cpp
uses them. Standard library only: exact rationals, and logarithms to 100
decimal digits.

x = 2^k z, z in [OFF, 2 OFF) as a bit pattern: the entry is the top four
bits of z's offset from OFF. Each entry has a c = 1/invc near its middle:
invc has few bits, so r = z * invc - 1 is one double (no rounding); the
entry around 1 has invc = 1. log c is split into hi, a multiple of 2^-43
(so that k ln2hi + hi is exact for |k| <= 1075), and lo, the rest rounded.
"""
import math
import struct
from decimal import Decimal, getcontext
from fractions import Fraction as F

getcontext().prec = 100

OFF = 0x3FE5800000000000  # 0.671875: 1 lies in the middle of entry 10
DEGREE = 12               # the series of log1p(r) up to r^12
ENTRIES = 16
STEP = 1 << (52 - 4)
ONE = 0x3FF0000000000000
U = F(1, 2**53)


def double_of(bits):
    return struct.unpack('<d', struct.pack('<Q', bits))[0]


def ln(x):
    return F(Decimal(x.numerator).ln() - Decimal(x.denominator).ln())


def nearest_double(x):
    return F(float(x))  # int / int division rounds correctly


def on_grid(x, e):
    return F(round(x * 2**e), 2**e)


LN2 = ln(F(2))
LN2HI = on_grid(LN2, 43)
LN2LO = nearest_double(LN2 - LN2HI)


def entries():
    out = []
    for i in range(ENTRIES):
        first, last = OFF + i * STEP, OFF + (i + 1) * STEP - 1
        za, zb = F(double_of(first)), F(double_of(last))
        if first <= ONE <= last:
            invc = F(1)
        else:
            ulp = U if zb < 1 else 2 * U
            middle = (za + zb) / 2
            best = None
            for q in range(2, 20):
                g = F(1, 2**q)
                base = math.floor(1 / middle / g)
                for m in range(base - 2, base + 3):
                    inv = m * g
                    rho = max(abs(za * inv - 1), abs(zb * inv - 1))
                    # z * invc - 1 is a multiple of ulp * g: one double if
                    # it is below 2^53 of them.
                    if rho < 2**53 * ulp * g and (best is None or rho < best[0]):
                        best = (rho, inv)
            invc = best[1]
        logc = -ln(invc)
        hi = on_grid(logc, 43)
        lo = nearest_double(logc - hi)
        out.append(dict(za=za, zb=zb, invc=invc, rho=max(abs(za * invc - 1), abs(zb * invc - 1)),
                        hi=hi, lo=lo, rest=abs(logc - hi - lo), around_one=(invc == 1)))
    return out


def coefficients():
    return [nearest_double(F((-1) ** (j + 1), j)) for j in range(3, DEGREE + 1)]


def largest_relative_error(table):
    c = coefficients()
    worst = F(0)
    largest_log = max(max(abs(ln(e['za'])), abs(ln(e['zb']))) for e in table)
    for e in table:
        r = e['rho']
        q_sup = sum(abs(cj) * r**j for j, cj in enumerate(c))
        # Horner with FMA: step j rounds once, |q_j| <= sum_{l>=j} |c_l| r^(l-j),
        # and reaches the sum scaled by r^j.
        horner = sum(U * (1 + U) * sum(abs(cl) * r ** (l - j) for l, cl in enumerate(c) if l >= j) * r**j
                     for j in range(len(c) - 1))
        rounded_coefficients = sum(abs(cj - F((-1) ** (j + 4), j + 3)) * r**j for j, cj in enumerate(c))
        for k in (0, 1, -1, 1024, -1023):
            if k == 0 and e['around_one']:
                # log x = log1p(r): every term below is a multiple of r or of
                # a higher power, so the ratio is largest at |r| = rho.
                smallest = r * (1 - r / 2)
            elif k == 0:
                smallest = min(abs(ln(e['za'])), abs(ln(e['zb'])))
                # a1 + b by the fast two-sum: |a1| = |hi| >= |b|
                assert abs(e['hi']) >= (r + r * r / 2 * (1 + U)) * (1 + U)
            else:
                smallest = abs(k) * LN2 - largest_log
            tail = r ** (DEGREE + 1) / ((DEGREE + 1) * (1 - r))
            b = (r + r * r / 2 * (1 + U)) * (1 + U)
            a = (abs(k) * LN2HI + abs(e['hi']) + b) * (1 + U)
            r3q = r**3 * (1 + 3 * U) * q_sup
            # the small part's terms in the order they are added, each
            # addition rounded once
            terms = [abs(k) * abs(LN2LO) + abs(e['lo']), U * a, U * b, U * r * r / 2 * (1 + U), r3q]
            sums, partial = F(0), F(0)
            for t in terms:
                partial = (partial + t) * (1 + U)
                sums += U * partial
            products = (2 * U + U * U) * r**3 * q_sup * (1 + U) + r**3 * horner
            error = (tail + rounded_coefficients * r**3 + products + sums + e['rest']
                     + abs(k) * abs(LN2 - LN2HI - LN2LO))
            worst = max(worst, error / smallest)
    return worst


def main():
    table = entries()
    print('ln2: %s %s' % (float(LN2HI).hex(), float(LN2LO).hex()))
    for i, e in enumerate(table):
        print('    {%s, %s, %s},  // %2d: z in [%.6f, %.6f], |r| <= 2^%.2f' % (
            float(e['invc']).hex(), float(e['hi']).hex(), float(e['lo']).hex(), i,
            float(e['za']), float(e['zb']), math.log2(e['rho'])))
    print('series:', ', '.join(float(cj).hex() for cj in coefficients()))
    worst = largest_relative_error(table)
    print('largest relative error: 2^%.2f (%.5f units in the last place)' % (
        math.log2(worst), float(worst * 2**53)))


if __name__ == '__main__':
    main()
