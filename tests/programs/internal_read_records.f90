! Reading an internal file record by record, and a substring as a file.
program internal_read_records
  implicit none
  character(len=8) :: recs(3) = ['1 2     ', '3 4     ', '5 6     ']
  character(len=20) :: line = 'abc 123 def'
  integer :: a(6), k
  read (recs, '(2i2)') a
  write (*, '(6i3)') a
  read (line(5:7), '(i3)') k
  write (*, '(i5)') k
end program internal_read_records
