! Input from a record shorter than the format: blanks pad it.
program fmt_input_pad
  implicit none
  integer :: a, b
  character(len=8) :: s
  open (10, file='short.txt', status='replace')
  write (10, '(a)') '12'
  write (10, '(a)') 'xy'
  close (10)
  open (10, file='short.txt', status='old')
  read (10, '(i2, i4)') a, b
  read (10, '(a8)') s
  write (*, '(2i5, " [", a, "]")') a, b, s
  close (10, status='delete')
end program fmt_input_pad
