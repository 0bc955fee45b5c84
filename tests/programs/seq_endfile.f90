! ENDFILE truncates the file at the current position; reading after it
! reaches the end of file.
program seq_endfile
  implicit none
  integer :: i, k, ios
  open (21, file='ef.txt', status='replace')
  do i = 1, 6
    write (21, '(i2)') i
  end do
  rewind (21)
  read (21, '(i2)') k
  read (21, '(i2)') k
  endfile (21)
  rewind (21)
  do
    read (21, '(i2)', iostat=ios) k
    if (ios /= 0) exit
    write (*, '(i3)') k
  end do
  write (*, '(l2)') ios < 0
  close (21)
end program seq_endfile
