! Non-advancing input: SIZE= counts the characters, EOR= at the end of
! the record, the rest of the record read by the next statement.
program nonadvancing_input
  implicit none
  character(len=4) :: s
  character(len=10) :: t
  integer :: n
  open (50, file='na.txt', status='replace')
  write (50, '(a)') 'abcdefg'
  write (50, '(a)') 'xy'
  rewind (50)
  read (50, '(a4)', advance='no') s
  write (*, '(a)') s
  read (50, '(a4)', advance='no', size=n, eor=20) s
  write (*, '(a)') 'no eor'
20 write (*, '(i3, 1x, a)') n, s(1:n)
  read (50, '(a)', advance='no', size=n, eor=30) t
30 write (*, '(i3, 1x, a)') n, t(1:n)
  close (50, status='delete')
end program nonadvancing_input
