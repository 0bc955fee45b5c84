! Unformatted sequential records written and read back; the file's bytes
! (length markers included) are compared with gfortran's.
program unformatted_file
  implicit none
  integer :: a(4) = [1, 2, 3, 4], b(4)
  real(8) :: d = 2.5d0, e
  open (11, file='data.bin', form='unformatted', status='replace')
  write (11) a
  write (11) d, a(2:4)
  rewind (11)
  read (11) b
  read (11) e
  close (11)
  print '(4i3, f6.2)', b, e
end program unformatted_file
