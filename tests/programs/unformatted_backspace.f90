! BACKSPACE over unformatted records and ENDFILE after them.
program unformatted_backspace
  implicit none
  integer :: i, k, ios
  open (31, file='ub.bin', form='unformatted', status='replace')
  do i = 1, 4
    write (31) i, i * i
  end do
  backspace (31)
  backspace (31)
  read (31) k
  write (*, '(i4)') k
  endfile (31)
  rewind (31)
  i = 0
  do
    read (31, iostat=ios) k
    if (ios /= 0) exit
    i = i + 1
  end do
  write (*, '(i4, l2)') i, ios < 0
  close (31)
end program unformatted_backspace
