! IOSTAT= at end of file is negative, for formatted, list-directed and
! unformatted reads; the variable is zero after a good read.
program iostat_end_of_file
  implicit none
  integer :: k, ios
  open (40, file='e.txt', status='replace')
  write (40, '(i3)') 5
  rewind (40)
  read (40, '(i3)', iostat=ios) k
  write (*, '(i3, l2)') k, ios == 0
  read (40, '(i3)', iostat=ios) k
  write (*, '(l2)') ios < 0
  rewind (40)
  read (40, *, iostat=ios) k
  read (40, *, iostat=ios) k
  write (*, '(l2)') ios < 0
  close (40, status='delete')
  open (41, file='e.bin', form='unformatted', status='replace')
  rewind (41)
  read (41, iostat=ios) k
  write (*, '(l2)') ios < 0
  close (41, status='delete')
end program iostat_end_of_file
