"""Writes the input of fri_es: COUNT REAL(8) values as (5ES24.16)."""
import sys

path, n = sys.argv[1], int(sys.argv[2])
with open(path, 'w') as f:
    for i in range(1, n // 5 + 1):
        f.write(''.join('%24.16E' % ((i * 1.000001 + j / 3.0) * 10.0 ** (i % 40 - 20)) for j in range(1, 6))
                + '\n')
