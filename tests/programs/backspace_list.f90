! BACKSPACE after list-directed and formatted reads rereads the record.
program backspace_list
  implicit none
  integer :: a, b, c
  open (54, file='bl.txt', status='replace')
  write (54, '(a)') '1 2 3'
  write (54, '(a)') '4 5 6'
  rewind (54)
  read (54, *) a
  backspace (54)
  read (54, *) a, b, c
  write (*, '(3i3)') a, b, c
  read (54, '(i2)') a
  backspace (54)
  backspace (54)
  read (54, *) c, b
  write (*, '(3i3)') a, b, c
  close (54)
end program backspace_list
