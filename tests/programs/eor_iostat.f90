! IOSTAT= at the end of a record in non-advancing input: negative, and
! different from the end-of-file value.
program eor_iostat
  implicit none
  character(len=8) :: s
  integer :: ios, eor_value, n
  open (51, file='r.txt', status='replace')
  write (51, '(a)') 'abc'
  rewind (51)
  read (51, '(a8)', advance='no', iostat=ios, size=n) s
  eor_value = ios
  write (*, '(l2, i3, 1x, a)') ios < 0, n, s(1:n)
  read (51, '(a8)', advance='no', iostat=ios) s
  write (*, '(2l2)') ios < 0, ios /= eor_value
  close (51, status='delete')
end program eor_iostat
