! List-directed input spans records until the list is satisfied; each
! statement starts a new record.
program list_input_records
  implicit none
  integer :: a, b, c, d
  open (11, file='nums.txt', status='replace')
  write (11, '(a)') '1'
  write (11, '(a)') '2, 3  99'
  write (11, '(a)') '4'
  write (11, '(a)') '5'
  close (11)
  open (11, file='nums.txt', status='old')
  read (11, *) a, b
  read (11, *) c
  read (11, *) d
  write (*, '(4i4)') a, b, c, d
  close (11, status='delete')
end program list_input_records
