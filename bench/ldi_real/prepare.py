"""Writes the input of ldi_real: COUNT REAL(8) values, ten a record, in the
shortest form that reads back to the same value."""
import sys

path, n = sys.argv[1], int(sys.argv[2])
with open(path, 'w') as f:
    for i in range(1, n // 10 + 1):
        f.write(' '.join(repr(i * 1.000001 + j / 3.0) for j in range(1, 11)) + '\n')
