! Formatted input from standard input, with END= at its end.
program read_stdin
  implicit none
  integer :: a, b, n
  n = 0
  do
    read (*, '(2i5)', end=10) a, b
    n = n + 1
    print '(i6)', a + b
  end do
10 print '(a, i2)', 'records:', n
end program read_stdin
