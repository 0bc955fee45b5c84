! WRITE and READ on internal files: a character variable as a record and
! a character array as a file of records.
program internal_files
  implicit none
  character(len=12) :: line
  character(len=6) :: rec(2)
  integer :: i, j
  real :: x
  write (line, '(i4, f8.3)') 42, 3.25
  print '(a)', '[' // line // ']'
  read (line, '(i4, f8.3)') i, x
  print '(i5, f8.2)', i + 1, x * 2
  write (rec, '(i6)') 1, 2
  print '(a, "|", a)', rec(1), rec(2)
  read (rec, '(i6)') i, j
  print '(i3)', i + j
end program internal_files
