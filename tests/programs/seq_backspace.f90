! BACKSPACE over formatted records, rereading and overwriting.
program seq_backspace
  implicit none
  integer :: i, k
  open (20, file='bs.txt', status='replace')
  do i = 1, 5
    write (20, '(i3)') i * 10
  end do
  backspace (20)
  backspace (20)
  read (20, '(i3)') k
  write (*, '(i5)') k
  backspace (20)
  write (20, '(i3)') 999
  rewind (20)
  do i = 1, 4
    read (20, '(i3)') k
    write (*, '(i5)') k
  end do
  close (20)
end program seq_backspace
