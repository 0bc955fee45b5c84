! Unformatted sequential records of mixed types, arrays and sections, read
! back whole and in part.
program unformatted_records
  implicit none
  integer :: a(5) = [1, 2, 3, 4, 5], b(5), n
  real(8) :: x = 2.5d0, y
  character(len=5) :: s = 'hello', t
  complex :: c = (1.0, 2.0), z
  open (30, file='u.bin', form='unformatted', status='replace')
  write (30) a, x
  write (30) s, c
  write (30) a(1:5:2)
  close (30)
  open (30, file='u.bin', form='unformatted', status='old')
  read (30) b, y
  write (*, '(5i3, f6.2)') b, y
  read (30) t
  write (*, '(a)') t
  b = 0
  read (30) b(1:3)
  write (*, '(5i3)') b
  rewind (30)
  read (30) n
  write (*, '(i3)') n
  close (30)
end program unformatted_records
