"""Writes the input of ldi_int3: COUNT/2 records of three INTEGER(4)
values of assorted lengths and signs."""
import sys

path, n = sys.argv[1], int(sys.argv[2])
with open(path, 'w') as f:
    f.writelines(f'{i * 7 - 500000} {(i * 7919) % 2000003 - 1000000} {i % 1000}\n'
                 for i in range(1, n // 2 + 1))
