# Writes the constants of app/library_trig.cpp: pi/2 in three doubles and
# sin(j/16), cos(j/16) for j in [0, 15] as sums of two doubles, from
# 80-digit decimal arithmetic (Machin's formula for pi, Taylor series).
#   python3 tools/trig_table.py
from decimal import Decimal as D, getcontext
getcontext().prec = 80
def arctan_inv(n):
    x = D(1)/n; x2 = x*x; s = D(0); t = x; k = 1; sign = 1
    while True:
        term = t/k
        if term < D(10)**-78: break
        s += sign*term; t *= x2; k += 2; sign = -sign
    return s
pi = 16*arctan_inv(5) - 4*arctan_inv(239)
def sin_cos(x):
    s = D(0); c = D(0); t = D(1); k = 0
    # taylor
    term = x; s = D(0); n = 1
    while abs(term) > D(10)**-78:
        s += term; term = -term*x*x/((n+1)*(n+2)); n += 2
    term = D(1); c = D(0); n = 0
    while abs(term) > D(10)**-78:
        c += term; term = -term*x*x/((n+1)*(n+2)); n += 2
    return s, c
def split(v):
    hi = float(v)
    lo = float(v - D(hi))
    return hi, lo
half = pi/2
p1 = float(half); p2 = float(half - D(p1)); p3 = float(half - D(p1) - D(p2))
print("// pi/2 = P1 + P2 + P3"); 
for name, v in (("kPio2_1", p1), ("kPio2_2", p2), ("kPio2_3", p3)): print(f"constexpr double {name} = {v.hex()};")
print(f"constexpr double kTwoOverPi = {float(2/pi).hex()};")
rows = []
for j in range(0, 16):
    s, c = sin_cos(D(j)/16)
    sh, sl = split(s); ch, cl = split(c)
    rows.append((sh, sl, ch, cl))
for k, name in enumerate(("kSineHi", "kSineLo", "kCosineHi", "kCosineLo")):
    print(f"alignas(64) constexpr double {name}[kTableSize] = {{")
    vals = [r[k].hex() for r in rows]
    for i in range(0, len(vals), 3): print("    " + ", ".join(vals[i:i+3]) + ",")
    print("};")
